// Prints the time of the reconstruction stages for FFT lengths N and projection
// counts P: sinogram generation, filtering, back projection (fast path, and the
// straightforward per-projection loop side by side where it takes reasonable
// time), and the whole slice. Medians of a few runs; fewer runs for big sizes.
// First it loads a stack of ITEX frames from a warm cache, alternating with
// `cat` of the same files, and prints both rates.
//
//   orvo2bench            N in {512, 1024, 2048}, P in {360, 720, 1440}
//   orvo2bench --quick    small sizes, one run each (a smoke test)
//   orvo2bench N P        one size only
//   orvo2bench --load     the load rates only
//   orvo2bench --multi [N P]  several slices per pass only
//   orvo2bench --memory   an engine's buffers in double and single precision

#include "BenchTiming.h"
#include "ItexWriter.h"
#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "imgdata/ImgDataITEX.h"
#include "imgdata/ImgDatas.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

// A frame of `rows` identical detector lines: a smooth attenuating object with
// the open beam outside it, as 16-bit ITEX pixels.
bool writeFrame(const QString &path, int width, int rows, int index, int count)
{
    const double theta = index * 3.141592653589793 / count;
    std::vector<quint16> pixels(size_t(width) * size_t(rows));
    const double c = width / 2.0;
    for (int j = 0; j < width; ++j) {
        const double s = (j - c - 0.2 * c * std::cos(theta)) / (0.6 * c);
        const double p = std::fabs(s) < 1.0 ? 2.0 * std::sqrt(1.0 - s * s) : 0.0;
        const auto v = static_cast<quint16>(100 + 60000 * std::exp(-p));
        for (int r = 0; r < rows; ++r)
            pixels[size_t(r) * width + j] = v;
    }
    return ItexWriter::write(path, width, rows, pixels);
}

QString framePath(const QTemporaryDir &dir, int i)
{
    return dir.filePath(QStringLiteral("p%1.img").arg(i, 5, 10, QChar('0')));
}

// Loads `count` frames of width x rows into a stack from a warm cache and cats
// the same files to the null device, alternately, and prints the median rates.
bool benchLoad(int width, int rows, int count, int runs)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return false;
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        files << framePath(dir, i);
        if (!writeFrame(files.last(), width, rows, i, count))
            return false;
        bytes += QFileInfo(files.last()).size();
    }
    const QString cat = QStandardPaths::findExecutable(QStringLiteral("cat"));
    const auto catAll = [&] {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(cat, files);
        return p.waitForFinished(-1) && p.exitCode() == 0;
    };
    // Once through the cache before anything is timed.
    if (!cat.isEmpty() && !catAll())
        return false;
    bool ok = true;
    const double tCat = cat.isEmpty() ? -1.0 : medianSeconds(runs, [&] { ok = catAll() && ok; });
    const double mb = bytes / 1e6;
    // Frames copied into memory, frames mapped from their files, and mapped frames
    // with every row read once, as a reconstruction does.
    const bool mapDefault = ImgDataITEX::mapFrames;
    const struct
    {
        const char *what;
        bool map;
        bool readRows;
    } kinds[] = {
        {"copied", false, false}, {"mapped", true, false}, {"mapped, rows read", true, true}};
    for (const auto &kind : kinds) {
        ImgDataITEX::mapFrames = kind.map;
        const double tLoad = medianSeconds(runs, [&] {
            ImgDatas stack;
            for (const QString &f : std::as_const(files))
                ok = stack.addFile(f) && ok;
            double sum = 0.0;
            std::vector<double> row(static_cast<size_t>(width));
            for (int i = 0; kind.readRows && i < stack.count(); ++i)
                for (int y = 0; y < rows; ++y)
                    sum += stack.frame(i)->getLine(y, row.data())[width - 1];
            ok = ok && sum >= 0.0;
        });
        std::printf("# load %d frames of %d x %d (%.0f MB) from a warm cache, %s: %.0f MB/s", count,
                    width, rows, mb, kind.what, mb / tLoad);
        if (tCat > 0)
            std::printf(", cat %.0f MB/s, load time / cat time %.2f", mb / tCat, tLoad / tCat);
        std::printf("\n");
    }
    ImgDataITEX::mapFrames = mapDefault;
    std::fflush(stdout);
    return ok;
}

// Processor time of this thread: a shared machine's other work does not count.
double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Several slices per pass: 1 to 4 cores back-projected together, the processor
// time per update and slice, for the chosen instruction set and the narrower
// vector one. The group sizes take turns within each round, so that a busy
// moment of the machine falls on all of them alike; medians, the least in
// brackets. Single precision (ct_precision single) on its own lines.
bool multiSlice(const HSgm &sgm, int N, int P, int runs, bool chosenOnly,
                CtFbp::Precision precision = CtFbp::Precision::Double)
{
    constexpr int most = 4;
    std::vector<std::unique_ptr<CtFbp>> cores;
    std::vector<CtFbp *> group;
    for (int s = 0; s < most; ++s) {
        cores.push_back(std::make_unique<CtFbp>());
        if (!cores.back()->setPrecision(precision) || !cores.back()->setup(N, P) ||
            !cores.back()->filterSinogram(sgm.sgm.data(), sgm.width, sgm.height))
            return false;
        group.push_back(cores.back().get());
    }
    const double updates = double(N) * N * P;
    std::vector<CtFbp::Simd> levels{CtFbp::simd()};
    if (!chosenOnly && CtFbp::simd() == CtFbp::Simd::Avx512)
        levels.push_back(CtFbp::Simd::Avx2);
    for (const auto level : levels) {
        CtFbp::setSimd(level);
        std::vector<double> t[most + 1];
        for (int r = 0; r < runs; ++r)
            for (int count = 1; count <= most; ++count) {
                for (int s = 0; s < count; ++s)
                    group[s]->initResult(N);
                const double start = threadSeconds();
                CtFbp::backProjectAll(group.data(), count, 0, N, 0, N);
                t[count].push_back((threadSeconds() - start) / count / updates * 1e9);
            }
        std::printf("# multi-slice bp %d %d %s%s, ns/upd per slice (processor time, median "
                    "[least]):",
                    N, P, CtFbp::simdName(level),
                    precision == CtFbp::Precision::Single ? " single" : "");
        for (int count = 1; count <= most; ++count) {
            std::sort(t[count].begin(), t[count].end());
            std::printf(" %d: %.3f [%.3f]", count, t[count][t[count].size() / 2], t[count][0]);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    CtFbp::setSimd(chosenOnly ? CtFbp::simd() : CtFbp::Simd::Auto);
    return true;
}

// The bytes of one engine's buffers for N and P in a precision: its sinogram
// (N + 1 samples a row, as a run makes it, without the raw intensities) and its
// core's FFT buffers, filtered rows, tables and result after a slice.
size_t engineBytes(int N, int P, CtFbp::Precision precision)
{
    HSgm sgm;
    sgm.keepRaw = false;
    sgm.singleSamples = precision == CtFbp::Precision::Single;
    sgm.resize(N + 1, P);
    CtFbp core;
    const bool filtered = core.setPrecision(precision) && core.setup(N, P) &&
                          (sgm.singleSamples ? core.filterSinogram(sgm.sgmSingle.data(), N + 1, P)
                                             : core.filterSinogram(sgm.sgm.data(), N + 1, P));
    return filtered ? sgm.bytes() + core.bufferBytes() : 0;
}

bool engineMemory()
{
    for (const int N : {1024, 2048}) {
        const int P = 720;
        const double d = engineBytes(N, P, CtFbp::Precision::Double) / 1e6;
        const double f = engineBytes(N, P, CtFbp::Precision::Single) / 1e6;
        if (!(d > 0.0 && f > 0.0))
            return false;
        std::printf("# engine buffers N %d P %d: double %.1f MB, single %.1f MB (%.0f %%)\n", N, P,
                    d, f, 100.0 * f / d);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const bool loadOnly = args.contains(QStringLiteral("--load"));
    if (args.contains(QStringLiteral("--memory")))
        return engineMemory() ? 0 : 1;
    // --multi: the multi-slice lines only, with more rounds.
    const bool multiOnly = args.removeAll(QStringLiteral("--multi")) > 0;
    // --simd NAME: back projection with that instruction set only.
    const int simdAt = args.indexOf(QStringLiteral("--simd"));
    if (simdAt > 0) {
        const QString name = args.value(simdAt + 1).toLower();
        bool chosen = false;
        for (const auto level : {CtFbp::Simd::Scalar, CtFbp::Simd::Avx2, CtFbp::Simd::Avx512})
            if (name == QString::fromLatin1(CtFbp::simdName(level)).toLower())
                chosen = CtFbp::setSimd(level);
        if (!chosen) {
            std::fprintf(stderr, "--simd: scalar, avx2 or avx-512, as this processor has\n");
            return 2;
        }
        args.remove(simdAt, 2);
    }
    if ((args.size() != 3 || quick) && !multiOnly) {
        const bool loaded = quick ? benchLoad(256, 64, 90, 1) : benchLoad(2048, 64, 720, 5);
        if (!loaded) {
            std::fprintf(stderr, "load benchmark failed\n");
            return 1;
        }
        if (loadOnly)
            return 0;
    }
    std::vector<int> sizes = quick ? std::vector<int>{256, 512} : std::vector<int>{512, 1024, 2048};
    std::vector<int> counts = quick ? std::vector<int>{180, 360} : std::vector<int>{360, 720, 1440};
    if (args.size() == 3 && args.at(1).toInt() >= 4 && args.at(2).toInt() >= 1) {
        sizes = {args.at(1).toInt() / 2 * 2};
        counts = {args.at(2).toInt()};
    }
    const int rows = 2;
    // Wide enough that a CoR of N/2 + 1.25 leaves N + 1 samples for the largest N.
    const int width = sizes.back() + 8;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const int maxP = counts.back();
    for (int i = 0; i < maxP; ++i)
        if (!writeFrame(framePath(dir, i), width, rows, i, maxP)) {
            std::fprintf(stderr, "cannot write frames\n");
            return 1;
        }

    if (!multiOnly) {
        std::printf("# back projection with %s\n", CtFbp::simdName(CtFbp::simd()));
        std::printf("%6s %5s %10s %10s %10s %10s %10s %10s %9s\n", "N", "P", "slice ms", "sgm ms",
                    "filter ms", "bp ms", "bp ns/upd", "ref ns/upd", "ref/fast");
    }
    for (const int P : counts) {
        ImgDatas stack;
        QElapsedTimer load;
        load.start();
        for (int i = 0; i < P; ++i)
            stack.addFile(framePath(dir, i));
        const double loadSeconds = load.nsecsElapsed() * 1e-9;
        const double mb = double(P) * QFileInfo(framePath(dir, 0)).size() / 1e6;
        std::printf("# loaded %d frames of %d x %d, %.1f MB/s\n", P, width, rows, mb / loadSeconds);
        for (const int N : sizes) {
            const double updates = double(N) * N * P;
            const int runs = quick ? 1 : (updates <= 2e8 ? 5 : (updates <= 1e9 ? 3 : 1));
            const double cor = N / 2 + 1.25;
            HSgm sgm;
            CtFbp fbp;
            // The first sinogram of an engine allocates its rows; later ones reuse them.
            genSinogram0(&sgm, stack, true, cor, 1);
            if (multiOnly) {
                if (!multiSlice(sgm, N, P, 2 * runs + 1, simdAt > 0) ||
                    !multiSlice(sgm, N, P, 2 * runs + 1, simdAt > 0, CtFbp::Precision::Single))
                    return 1;
                continue;
            }
            const double tSgm =
                medianSeconds(runs, [&] { genSinogram0(&sgm, stack, true, cor, 1); });
            if (sgm.width / 2 * 2 != N || !fbp.setup(N, P)) {
                std::fprintf(stderr, "unexpected sinogram width %d for N %d\n", sgm.width, N);
                return 1;
            }
            const auto filter = [&] {
                for (int i = 0; i < P; ++i)
                    fbp.fftRow(sgm.sgmRow(i), i);
                for (int i = 0; i < P; ++i)
                    fbp.filterRow(i);
            };
            // The stepwise path makes its spectra array on first use; its page
            // faults are not the filter's time.
            filter();
            const double tFilter = medianSeconds(runs, filter);
            fbp.initResult(N); // the result's first page faults likewise
            const double tBp = medianSeconds(runs, [&] {
                fbp.initResult(N);
                fbp.backProjectAll(0, N, 0, N);
            });
            const double tSlice = medianSeconds(runs, [&] {
                genSinogram0(&sgm, stack, true, cor, 1);
                fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, N, 0, N);
            });
            // The straightforward loop only where it finishes in a few seconds.
            double tRef = -1.0;
            if (quick || updates <= 1.6e9)
                tRef = medianSeconds(quick ? 1 : (updates <= 2e8 ? 3 : 1), [&] {
                    fbp.initResult(N);
                    for (int i = 0; i < P; ++i)
                        fbp.backProject(i, 0, N, 0, N);
                });
            char ref[32] = "-";
            char ratio[32] = "-";
            if (tRef > 0) {
                std::snprintf(ref, sizeof ref, "%.3f", tRef / updates * 1e9);
                std::snprintf(ratio, sizeof ratio, "%.2f", tRef / tBp);
            }
            std::printf("%6d %5d %10.1f %10.2f %10.2f %10.1f %10.3f %10s %9s\n", N, P, tSlice * 1e3,
                        tSgm * 1e3, tFilter * 1e3, tBp * 1e3, tBp / updates * 1e9, ref, ratio);
            // The narrower instruction sets this processor also has, for comparison.
            for (const auto level : {CtFbp::Simd::Scalar, CtFbp::Simd::Avx2}) {
                if (quick || simdAt > 0 || level >= CtFbp::simd())
                    continue;
                CtFbp::setSimd(level);
                const double t = medianSeconds(runs, [&] {
                    fbp.initResult(N);
                    fbp.backProjectAll(0, N, 0, N);
                });
                CtFbp::setSimd(CtFbp::Simd::Auto);
                std::printf("#   bp with %s: %.1f ms, %.3f ns/upd\n", CtFbp::simdName(level),
                            t * 1e3, t / updates * 1e9);
            }
            // Whole slices (filter and back projection) per second on one thread,
            // double beside single, taking turns so that a busy moment hits both.
            CtFbp single;
            if (!single.setPrecision(CtFbp::Precision::Single) || !single.setup(N, P))
                return 1;
            std::vector<double> tDouble;
            std::vector<double> tSingle;
            for (int r = 0; r < 2 * runs + 1; ++r) {
                double start = threadSeconds();
                fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, N, 0, N);
                tDouble.push_back(threadSeconds() - start);
                start = threadSeconds();
                single.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, N, 0, N);
                tSingle.push_back(threadSeconds() - start);
            }
            std::sort(tDouble.begin(), tDouble.end());
            std::sort(tSingle.begin(), tSingle.end());
            const double d = tDouble[tDouble.size() / 2];
            const double f = tSingle[tSingle.size() / 2];
            std::printf("# filter + bp %d %d %s, slices/s (processor time, median): double %.2f, "
                        "single %.2f, single/double %.2f\n",
                        N, P, CtFbp::simdName(CtFbp::simd()), 1.0 / d, 1.0 / f, d / f);
            std::fflush(stdout);
            if (!multiSlice(sgm, N, P, runs, quick || simdAt > 0))
                return 1;
            if (!multiSlice(sgm, N, P, runs, quick || simdAt > 0, CtFbp::Precision::Single))
                return 1;
        }
    }
    return 0;
}
