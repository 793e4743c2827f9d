// The projections and the true slices of each energy: the expensive part of the demo
// data, worked out on every core. Only the photon noise is drawn on one thread, from
// the one generator of the seed in the order pixels are written, so a seed gives
// the same files whatever the number of cores.

#include "DemoGenerator.h"

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
#include <map>
#include <mutex>
#include <thread>

namespace {

using Photons = DemoGenerator::Photons;
using Chunk = DemoGenerator::Chunk;

// Projection values worked out ahead of the noise: two chunks of at most this many.
constexpr size_t chunkValues = size_t(1) << 18;

// Threads writing projection files.
constexpr int writerThreads = 4;

// Runs work(0) ... work(count - 1) on every core, items taken in turn.
void parallelFor(int count, const std::function<void(int)> &work)
{
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    const int threads = std::clamp(count, 1, cores);
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
// the disk, so several are under way at once while the noise of the next is drawn.
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
    bool add(const QString &path, const std::vector<quint16> &image)
    {
        std::unique_lock<std::mutex> lock(mutex);
        roomLeft.wait(lock, [this] { return jobs.size() < maxJobs || failed; });
        if (failed)
            return false;
        jobs.push_back({path, image});
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

bool DemoGenerator::writeEnergy(int k, const std::vector<double> &darkMean)
{
    const double energy = energyAt(k);
    const QString text = energyText(energy);
    const QDir out(s.outDir);
    std::vector<quint16> image(darkMean.size());

    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const size_t at = size_t(y) * s.width + x;
            if (s.i0Frames == 1) {
                image[at] = sumOfReadings(beamAt(k, x, y), darkMean[at]);
                continue;
            }
            double sum = 0.0;
            for (int f = 0; f < s.i0Frames; ++f)
                sum += sumOfReadings(beamAt(k, x, y), darkMean[at]);
            image[at] = quint16(std::round(sum / s.i0Frames));
        }
    }
    if (!ItexWriter::write(out.filePath(QStringLiteral("i0/") + i0FileName(text)), s.width,
                           s.height, image))
        return false;

    // The object of each row at this energy and the open beam, once for all frames.
    const DemoPhantom object = phantom();
    std::vector<std::vector<DemoPhantom::Ellipse>> rows(size_t(s.height));
    for (int y = 0; y < s.height; ++y)
        rows[size_t(y)] = object.ellipses(y, energy);
    const size_t frameSize = image.size();
    std::vector<double> beam(frameSize);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            beam[size_t(y) * s.width + x] = beamAt(k, x, y);

    // The dark level's few distinct means, each with its noise's parameters.
    std::vector<Photons::param_type> darkParams;
    std::vector<int> darkIndex(frameSize);
    {
        std::map<double, int> distinct;
        for (size_t at = 0; at < frameSize; ++at) {
            const auto found = distinct.emplace(darkMean[at], int(darkParams.size()));
            if (found.second)
                darkParams.emplace_back(darkMean[at] > 0.0 ? darkMean[at] : 1.0);
            darkIndex[at] = found.first->second;
        }
    }

    // The mean transmitted beam of each detector row of a frame, and its noise's
    // parameters, for a chunk of rows on every core while the chunk before gets its
    // noise and is written. Rows are taken frame by frame, as the noise is drawn.
    const int rowCount = int(scan.size()) * s.height;
    const int chunk = int(std::clamp(chunkValues / size_t(s.width), size_t(1), size_t(rowCount)));
    // Kept from energy to energy: sizing the parameters' vector constructs each one.
    Chunk *chunks = projectionChunks;
    const auto project = [&](int first, Chunk *out) {
        const int count = std::min(chunk, rowCount - first);
        out->means.resize(std::max(out->means.size(), size_t(count) * s.width));
        if (s.noise)
            out->params.resize(out->means.size());
        parallelFor(count, [&](int item) {
            const DemoFrame &frame = scan[size_t((first + item) / s.height)];
            const int y = (first + item) % s.height;
            double *row = out->means.data() + size_t(item) * s.width;
            // Detector pixel x sees the line at offset x - cor from the axis.
            DemoPhantom::projectRow(rows[size_t(y)], frame.theta, cor, s.width, row);
            const double *open = beam.data() + size_t(y) * s.width;
            for (int x = 0; x < s.width; ++x) {
                row[x] = open[x] * frame.beam * std::exp(-row[x]);
                if (s.noise && row[x] > 0.0)
                    out->params[size_t(item) * s.width + x] = Photons::param_type(row[x]);
            }
        });
    };

    const QDir projDir(out.filePath(projectionDir(text)));
    FileQueue files(s.width, s.height, writerThreads);
    std::future<void> ahead = std::async(std::launch::async, project, 0, &chunks[0]);
    for (int first = 0, c = 0; first < rowCount; first += chunk, ++c) {
        ahead.get();
        if (first + chunk < rowCount)
            ahead = std::async(std::launch::async, project, first + chunk, &chunks[(c + 1) % 2]);
        const Chunk &rowsAhead = chunks[c % 2];
        for (int r = first; r < std::min(first + chunk, rowCount); ++r) {
            const int i = r / s.height;
            const int y = r % s.height;
            const size_t from = size_t(r - first) * s.width;
            for (int x = 0; x < s.width; ++x) {
                const size_t at = size_t(y) * s.width + x;
                const double mean = rowsAhead.means[from + x];
                // Beam photons, then the camera's dark offset, each with its own noise.
                const int photons = reading(mean, s.noise ? &rowsAhead.params[from + x] : nullptr);
                const int offset = reading(darkMean[at], &darkParams[size_t(darkIndex[at])]);
                image[at] = quint16(std::min(65535, photons + offset));
                if (s.defects)
                    image[at] = defective(image[at], x, i, darkMean[at]);
            }
            if (y == s.height - 1 &&
                !files.add(projDir.filePath(projectionFileName(text, i)), image))
                return false; // the chunk ahead and the files are waited for as they go
        }
    }
    return files.finish();
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
        parallelFor(n, [&](int z) {
            DemoPhantom::muRow(ellipses, c, z - c, n, values.data() + size_t(z) * n);
        });
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
