// The projections and the true slices of every energy: the expensive part of the demo
// data. One thread works out the projections' mean photon counts on every core, energy
// after energy, a few chunks ahead; another writes the true slices; the photon noise
// is drawn on the calling thread alone, from the one generator of the seed in the
// order the files have always been written, so a seed gives the same files as ever,
// whatever the number of cores; and the files are written on threads of their own.

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
#include <new>
#include <thread>

namespace {

using Photons = DemoGenerator::Photons;

// Values of a chunk of projection rows, and chunks worked out ahead of the noise.
constexpr size_t chunkValues = size_t(1) << 18;
constexpr int chunksAhead = 3;

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

// Consecutive rows of the projections of one energy (row r: frame r / height, detector
// row r % height) with their mean photon counts and the parameters of their noise.
struct Chunk
{
    int rows = 0;
    std::vector<double> means;
    std::vector<Photons::param_type> params;
};

// Chunks handed in order from the thread that fills them to the one that draws their
// noise, and back to be filled again (sizing the parameters constructs each one, so
// they are kept).
class ChunkRing
{
public:
    explicit ChunkRing(int count)
        : storage(size_t(count))
    {
        for (Chunk &chunk : storage)
            spare.push_back(&chunk);
    }
    // nullptr once stopped.
    Chunk *takeSpare() { return take(&spare); }
    Chunk *takeFull() { return take(&full); }
    void handOver(Chunk *chunk) { put(&full, chunk); }
    void giveBack(Chunk *chunk) { put(&spare, chunk); }
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
        changed.notify_all();
    }

private:
    Chunk *take(std::deque<Chunk *> *from)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stopped || !from->empty(); });
        if (stopped)
            return nullptr;
        Chunk *chunk = from->front();
        from->pop_front();
        return chunk;
    }
    void put(std::deque<Chunk *> *to, Chunk *chunk)
    {
        std::lock_guard<std::mutex> lock(mutex);
        to->push_back(chunk);
        changed.notify_all();
    }

    std::vector<Chunk> storage;
    std::deque<Chunk *> spare, full;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
};

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

bool DemoGenerator::writeI0(int k, const std::vector<double> &darkMean)
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
    return ItexWriter::write(out.filePath(QStringLiteral("i0/") + i0FileName(text)), s.width,
                             s.height, image);
}

bool DemoGenerator::writeEnergies(const std::vector<double> &darkMean)
{
    const size_t frameSize = darkMean.size();
    const int rowCount = int(scan.size()) * s.height;
    const int chunkRows =
        int(std::clamp(chunkValues / size_t(s.width), size_t(1), size_t(rowCount)));

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

    ChunkRing ring(chunksAhead);
    std::atomic<bool> stopped{false};
    // Energy after energy, the object of each row and the open beam, then the rows'
    // mean transmitted photons chunk by chunk.
    const auto project = [&] {
        const DemoPhantom object = phantom();
        std::vector<std::vector<DemoPhantom::Ellipse>> rows(size_t(s.height));
        std::vector<double> beam(frameSize);
        for (int k = 0; k < s.energies; ++k) {
            for (int y = 0; y < s.height; ++y) {
                rows[size_t(y)] = object.ellipses(y, energyAt(k));
                for (int x = 0; x < s.width; ++x)
                    beam[size_t(y) * s.width + x] = beamAt(k, x, y);
            }
            for (int first = 0; first < rowCount; first += chunkRows) {
                Chunk *chunk = ring.takeSpare();
                if (!chunk)
                    return;
                chunk->rows = std::min(chunkRows, rowCount - first);
                const size_t values = size_t(chunk->rows) * s.width;
                chunk->means.resize(std::max(chunk->means.size(), values));
                if (s.noise)
                    chunk->params.resize(chunk->means.size());
                parallelFor(chunk->rows, [&](int item) {
                    const DemoFrame &frame = scan[size_t((first + item) / s.height)];
                    const int y = (first + item) % s.height;
                    double *row = chunk->means.data() + size_t(item) * s.width;
                    // Detector pixel x sees the line at offset x - cor from the axis.
                    DemoPhantom::projectRow(rows[size_t(y)], frame.theta, cor, s.width, row);
                    const double *open = beam.data() + size_t(y) * s.width;
                    for (int x = 0; x < s.width; ++x) {
                        row[x] = open[x] * frame.beam * std::exp(-row[x]);
                        if (s.noise && row[x] > 0.0)
                            chunk->params[size_t(item) * s.width + x] = Photons::param_type(row[x]);
                    }
                });
                ring.handOver(chunk);
            }
        }
    };
    std::future<void> projections = std::async(std::launch::async, [&] {
        try {
            project();
        } catch (const std::bad_alloc &) {
            qDebug() << "No memory for the demo projections";
            ring.stop();
        }
    });
    std::future<bool> truths = std::async(std::launch::async, [&] {
        for (int k = 0; k < s.energies && !stopped; ++k)
            if (!writeTruth(energyText(energyAt(k)), energyAt(k)))
                return false;
        return true;
    });

    FileQueue files(s.width, s.height, writerThreads);
    std::vector<quint16> image(frameSize);
    bool ok = true;
    for (int k = 0; ok && k < s.energies; ++k) {
        ok = writeI0(k, darkMean);
        const QString text = energyText(energyAt(k));
        const QDir projDir(QDir(s.outDir).filePath(projectionDir(text)));
        for (int first = 0; ok && first < rowCount; first += chunkRows) {
            Chunk *chunk = ring.takeFull();
            if (!chunk) {
                ok = false; // the projections' thread gave up
                break;
            }
            for (int r = first; ok && r < first + chunk->rows; ++r) {
                const int i = r / s.height;
                const int y = r % s.height;
                const size_t from = size_t(r - first) * s.width;
                for (int x = 0; x < s.width; ++x) {
                    const size_t at = size_t(y) * s.width + x;
                    // Beam photons, then the camera's dark offset, each with its own noise.
                    const int photons = reading(chunk->means[from + x],
                                                s.noise ? &chunk->params[from + x] : nullptr);
                    const int offset = reading(darkMean[at], &darkParams[size_t(darkIndex[at])]);
                    image[at] = quint16(std::min(65535, photons + offset));
                    if (s.defects)
                        image[at] = defective(image[at], x, i, darkMean[at]);
                }
                if (y == s.height - 1)
                    ok = files.add(projDir.filePath(projectionFileName(text, i)), image);
            }
            ring.giveBack(chunk);
        }
    }
    // The true slices are all written unless the projections failed.
    stopped = !ok;
    ring.stop();
    projections.get();
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
