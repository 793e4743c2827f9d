// The projections and the true slices of every energy: the expensive part of the demo
// data. Energy after energy, the frames are shared out among the threads, each working
// out a frame's mean photon counts and drawing its noise from the frame's own stream,
// so a seed gives the same files whatever the number of threads; one more thread
// writes the true slices, and the files are written on threads of their own.

#include "DemoGenerator.h"

#include "DemoNoise.h"
#include "DemoPhantom.h"
#include "ItexWriter.h"

#include <QDebug>
#include <QDir>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Threads writing projection files.
constexpr int writerThreads = 4;

// Runs work(0) ... work(count - 1) on up to `threads` threads, items taken in turn.
void parallelFor(int threads, int count, const std::function<void(int)> &work)
{
    threads = std::clamp(count, 1, threads);
    std::atomic<int> next{0};
    const auto run = [&] {
        for (int i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(run);
    run();
    for (std::thread &thread : pool)
        thread.join();
}

// Writes the projection files on threads of their own: each file's commit waits for
// the disk, so several are under way at once while the next are drawn.
class FileQueue
{
public:
    FileQueue(int width, int height, int threads)
        : width(width)
        , height(height)
    {
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([this] { serve(); });
    }
    ~FileQueue() { finish(); }

    // False once a file could not be written (the rest is then not written).
    bool add(const QString &path, std::vector<quint16> image)
    {
        std::unique_lock<std::mutex> lock(mutex);
        roomLeft.wait(lock, [this] { return jobs.size() < maxJobs || failed; });
        if (failed)
            return false;
        jobs.push_back({path, std::move(image)});
        jobReady.notify_one();
        return true;
    }
    // Waits for every file; true when all were written.
    bool finish()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
        }
        jobReady.notify_all();
        for (std::thread &thread : pool)
            thread.join();
        pool.clear();
        return !failed;
    }

private:
    struct Job
    {
        QString path;
        std::vector<quint16> image;
    };
    static constexpr size_t maxJobs = 64;

    void serve()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                jobReady.wait(lock, [this] { return !jobs.empty() || closing; });
                if (jobs.empty() || failed)
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            roomLeft.notify_one();
            if (!ItexWriter::write(job.path, width, height, job.image,
                                   ItexWriter::Commit::Renamed)) {
                std::lock_guard<std::mutex> lock(mutex);
                failed = true;
                roomLeft.notify_all();
            }
        }
    }

    const int width, height;
    std::mutex mutex;
    std::condition_variable jobReady, roomLeft;
    std::deque<Job> jobs;
    bool closing = false;
    bool failed = false;
    std::vector<std::thread> pool;
};

} // namespace

bool DemoGenerator::writeI0(int k, const std::vector<double> &darkMean)
{
    const QString text = energyText(energyAt(k));
    std::vector<double> sum(darkMean.size(), 0.0);
    for (int f = 0; f < s.i0Frames; ++f) {
        DemoNoise noise(s.seed, DemoNoise::Kind::I0, quint64(k), quint64(f));
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const size_t at = size_t(y) * s.width + x;
                sum[at] += sumOfReadings(beamAt(k, x, y), darkMean[at], s.noise ? &noise : nullptr);
            }
        }
    }
    std::vector<quint16> image(darkMean.size());
    for (size_t at = 0; at < image.size(); ++at)
        image[at] = quint16(std::round(sum[at] / s.i0Frames));
    // Renamed into place like the projections, synced with them.
    return ItexWriter::write(QDir(s.outDir).filePath(QStringLiteral("i0/") + i0FileName(text)),
                             s.width, s.height, image, ItexWriter::Commit::Renamed);
}

bool DemoGenerator::writeEnergies(const std::vector<double> &darkMean)
{
    const size_t frameSize = darkMean.size();
    std::atomic<bool> ok{true};
    // The true slices are all written unless the projections fail.
    std::future<bool> truths = std::async(std::launch::async, [&] {
        for (int k = 0; k < s.energies && ok; ++k)
            if (!writeTruth(energyText(energyAt(k)), energyAt(k)))
                return false;
        return true;
    });

    const DemoPhantom object = phantom();
    std::vector<std::vector<DemoPhantom::Ellipse>> rows(size_t(s.height));
    std::vector<double> beam(frameSize);
    FileQueue files(s.width, s.height, writerThreads);
    for (int k = 0; ok && k < s.energies; ++k) {
        if (!writeI0(k, darkMean)) {
            ok = false;
            break;
        }
        // The object of each row and the open beam at this energy.
        for (int y = 0; y < s.height; ++y) {
            rows[size_t(y)] = object.ellipses(y, energyAt(k));
            for (int x = 0; x < s.width; ++x)
                beam[size_t(y) * s.width + x] = beamAt(k, x, y);
        }
        const QString text = energyText(energyAt(k));
        const QString dir = QDir(s.outDir).filePath(projectionDir(text)) + QLatin1Char('/');
        parallelFor(threadCount(), int(scan.size()), [&](int i) {
            if (!ok)
                return;
            const DemoFrame &frame = scan[size_t(i)];
            // Each frame's noise from a stream of its own: the frames scanned, not those
            // kept, number the streams, so a dropped block leaves the others' noise.
            DemoNoise noise(s.seed, DemoNoise::Kind::Projection, quint64(k),
                            quint64(frame.scanned));
            DemoNoise *drawn = s.noise ? &noise : nullptr;
            try {
                std::vector<double> row(size_t(s.width));
                std::vector<quint16> image(frameSize);
                for (int y = 0; y < s.height; ++y) {
                    // Detector pixel x sees the line at offset x - cor from the axis.
                    DemoPhantom::projectRow(rows[size_t(y)], frame.theta, cor, s.width, row.data());
                    const double *open = beam.data() + size_t(y) * s.width;
                    for (int x = 0; x < s.width; ++x) {
                        const size_t at = size_t(y) * s.width + x;
                        // The mean transmitted photons, then the camera's dark offset.
                        const double mean = open[x] * frame.beam * std::exp(-row[x]);
                        image[at] = sumOfReadings(mean, darkMean[at], drawn);
                        if (s.defects)
                            image[at] = defective(image[at], x, i, darkMean[at]);
                    }
                }
                if (!files.add(dir + projectionFileName(text, i), std::move(image)))
                    ok = false;
            } catch (const std::bad_alloc &) {
                qDebug() << "No memory for the demo projections";
                ok = false;
            }
        });
    }
    const bool truthsWritten = truths.get();
    return files.finish() && ok && truthsWritten;
}

// The true attenuation per pixel on the grid of the reconstructed slice: pixel (x, z)
// at (x - c, z - c) from the rotation axis, c = N / 2 being the CoR sample.
bool DemoGenerator::writeTruth(const QString &energyText, double energy) const
{
    const int n = truthSize();
    const double c = truthCentre();
    const DemoPhantom object = phantom();
    const QString path = QDir(s.outDir).filePath(truthFileName(energyText));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug() << "Can not write demo truth file" << path;
        return false;
    }
    std::vector<double> values(size_t(n) * n);
    QByteArray bytes(qsizetype(values.size() * sizeof(double)), '\0');
    bool ok = true;
    for (int slice = 0; ok && slice < s.height; ++slice) {
        const std::vector<DemoPhantom::Ellipse> ellipses = object.ellipses(slice, energy);
        for (int z = 0; z < n; ++z)
            DemoPhantom::muRow(ellipses, c, z - c, n, values.data() + size_t(z) * n);
        // float64 little-endian
        for (size_t i = 0; i < values.size(); ++i) {
            quint64 bits;
            std::memcpy(&bits, &values[i], sizeof bits);
            qToLittleEndian(bits, bytes.data() + i * sizeof bits);
        }
        ok = file.write(bytes) == bytes.size();
    }
    if (!ok || !file.commit()) {
        qDebug() << "Can not write demo truth file" << path;
        return false;
    }
    return true;
}
