// Figures of quantitative slices and of result writing:
//
//   1. Filters on analytic phantoms of known attenuation (N 256 and 512): the
//      mean bias inside the body and the RMSE of attenuation per pixel (sum /
//      2P) for the plain ramp and the padded ramp; and across an absorption
//      edge (two energies, absorber attenuation up by a known step) the edge
//      jump in absorber voxels and in absorber-free voxels.
//   2. The ".dat" text writer against the text stream it replaced, MB/s, and
//      the float TIFF encoder, at N = 1024.
//
//   orvo2resultbench               all figures
//   orvo2resultbench --out DIR     also writes the phantom sinograms, the true
//                                  slices and this program's slices into DIR
//                                  for bench/compare_iradon.py
//   orvo2resultbench --quick       N 128 only, one run each

#include "BenchTiming.h"
#include "ct/AttenuationScale.h"
#include "ct/CtFbp.h"
#include "ct/CtFilter.h"
#include "ct/FloatTiff.h"
#include "ct/SavingData.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

const double pi = 3.141592653589793;

// An ellipse of constant attenuation, centred at (x0, z0) relative to the
// rotation centre, in pixels.
struct Ellipse
{
    double x0, z0, a, b, phi;
    double project(double theta, double s) const
    {
        const double s0 = x0 * std::cos(theta) - z0 * std::sin(theta);
        const double c = std::cos(theta + phi);
        const double si = std::sin(theta + phi);
        const double r2 = a * a * c * c + b * b * si * si;
        const double d = s - s0;
        return d * d >= r2 ? 0.0 : 2.0 * a * b / r2 * std::sqrt(r2 - d * d);
    }
    // Distance-like measure: below 1 inside.
    double level(double X, double Z) const
    {
        const double dx = X - x0, dz = Z - z0;
        const double u = dx * std::cos(phi) + dz * std::sin(phi);
        const double v = -dx * std::sin(phi) + dz * std::cos(phi);
        return u * u / (a * a) + v * v / (b * b);
    }
    double coverage(double X, double Z) const
    {
        int inside = 0;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                inside += level(X + (i - 1.5) / 4, Z + (j - 1.5) / 4) <= 1.0;
        return inside / 16.0;
    }
};

// A body of matrix attenuation with absorber grains; the absorber's
// attenuation changes across the edge, the matrix's does not.
struct Phantom
{
    int n = 0;
    Ellipse body;
    std::vector<Ellipse> grains;
    double matrixMu = 0.0;
    double absorberMu = 0.0; // on top of the matrix

    explicit Phantom(int size)
        : n(size)
    {
        const double s = size / 256.0;
        body = {0, 0, 110 * s, 95 * s, 0.2};
        grains = {{-40 * s, 10 * s, 18 * s, 12 * s, 0.4},
                  {35 * s, -30 * s, 10 * s, 22 * s, -0.3},
                  {10 * s, 50 * s, 14 * s, 14 * s, 0.0},
                  {60 * s, 40 * s, 6 * s, 9 * s, 1.0}};
        // Per pixel: about 0.01 for the matrix of a slice 244 px wide, grains
        // several times that.
        matrixMu = 0.01 * 244.0 / size;
    }
    // Sinogram rows of n + 1 samples, the centre of rotation on sample n / 2;
    // each sample is the mean over its detector bin (8 lines), as a detector
    // pixel integrates, so that sharp edges do not alias into streaks.
    std::vector<double> sinogram(int projections) const
    {
        constexpr int lines = 8;
        std::vector<double> sgm(size_t(n + 1) * projections);
        for (int i = 0; i < projections; ++i) {
            const double theta = i * pi / projections;
            for (int j = 0; j <= n; ++j) {
                double p = 0.0;
                for (int l = 0; l < lines; ++l) {
                    const double s = j - n / 2.0 + (l + 0.5) / lines - 0.5;
                    p += matrixMu * body.project(theta, s);
                    for (const Ellipse &g : grains)
                        p += absorberMu * g.project(theta, s);
                }
                sgm[size_t(i) * (n + 1) + j] = p / lines;
            }
        }
        return sgm;
    }
    double absorberCoverage(double X, double Z) const
    {
        double c = 0.0;
        for (const Ellipse &g : grains)
            c += g.coverage(X, Z);
        return c;
    }
    std::vector<double> truth() const
    {
        std::vector<double> t(size_t(n) * n);
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                const double X = x - n / 2.0, Z = z - n / 2.0;
                t[size_t(z) * n + x] =
                    matrixMu * body.coverage(X, Z) + absorberMu * absorberCoverage(X, Z);
            }
        return t;
    }
    // Voxels of the body well inside (level below 0.9) and at least `margin`
    // pixels from every grain's boundary: 1 inside a grain, 0 outside all, -1
    // excluded.
    int kind(int x, int z, double margin) const
    {
        const double X = x - n / 2.0, Z = z - n / 2.0;
        if (body.level(X, Z) > 0.9)
            return -1;
        for (const Ellipse &g : grains) {
            // Shrunk and grown copies of the grain bound its boundary band.
            const Ellipse inner{g.x0, g.z0, g.a - margin, g.b - margin, g.phi};
            const Ellipse outer{g.x0, g.z0, g.a + margin, g.b + margin, g.phi};
            if (inner.a > 0 && inner.b > 0 && inner.level(X, Z) <= 1.0)
                return 1;
            if (outer.level(X, Z) <= 1.0)
                return -1;
        }
        return 0;
    }
};

std::vector<double> reconstruct(const std::vector<double> &sgm, int n, int projections, bool padded)
{
    CtFbp fbp;
    fbp.setFilter(CtFilter::Window::Ramp, padded);
    fbp.setup(n, projections);
    fbp.reconstruct(sgm.data(), n + 1, projections, 0, n, 0, n);
    std::vector<double> mu(size_t(n) * n);
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            mu[size_t(z) * n + x] = attenuationPerPixel(fbp.resultRow(z)[x], projections);
    return mu;
}

bool writeRaw(const QString &path, const std::vector<double> &v)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(reinterpret_cast<const char *>(v.data()), qint64(v.size() * sizeof(double))) ==
               qint64(v.size() * sizeof(double));
}

void phantomFigures(int n, int projections, const QString &outDir)
{
    Phantom ph(n);
    const double preMu = 0.02 * 244.0 / n;
    const double postMu = 0.06 * 244.0 / n; // the absorber's step across the edge
    ph.absorberMu = preMu;
    const std::vector<double> sgmPre = ph.sinogram(projections);
    const std::vector<double> truthPre = ph.truth();
    ph.absorberMu = postMu;
    const std::vector<double> sgmPost = ph.sinogram(projections);
    const double jump = postMu - preMu;

    std::printf("\nphantom N %d, P %d (matrix %.5g, absorber +%.5g -> +%.5g per pixel)\n", n,
                projections, ph.matrixMu, preMu, postMu);
    std::printf("%-12s %10s %11s %11s %14s %14s %14s\n", "filter", "bias/RMS", "RMSE", "RMSE/range",
                "jump absorber", "free: mean", "free: 99%");
    for (bool padded : {false, true}) {
        const std::vector<double> pre = reconstruct(sgmPre, n, projections, padded);
        const std::vector<double> post = reconstruct(sgmPost, n, projections, padded);
        double bias = 0, square = 0, sse = 0, lo = 1e300, hi = -1e300;
        double jumpIn = 0, jumpOut = 0;
        std::vector<double> freeJumps;
        long count = 0, in = 0;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                const double X = x - n / 2.0, Z = z - n / 2.0;
                const size_t k = size_t(z) * n + x;
                if (ph.body.level(X, Z) <= 1.0) {
                    const double e = pre[k] - truthPre[k];
                    bias += e;
                    sse += e * e;
                    square += truthPre[k] * truthPre[k];
                    lo = std::min(lo, truthPre[k]);
                    hi = std::max(hi, truthPre[k]);
                    ++count;
                }
                const int kind = ph.kind(x, z, 3.0);
                const double dj = post[k] - pre[k];
                if (kind == 1) {
                    jumpIn += dj;
                    ++in;
                } else if (kind == 0) {
                    jumpOut += dj;
                    freeJumps.push_back(std::fabs(dj));
                }
            }
        std::sort(freeJumps.begin(), freeJumps.end());
        const double p99 = freeJumps[freeJumps.size() * 99 / 100];
        const double rms = std::sqrt(square / count);
        const double rmse = std::sqrt(sse / count);
        // Edge jumps relative to the true jump: the error of the mean in
        // absorber voxels; in absorber-free voxels the mean and the 99th
        // percentile of |jump|.
        std::printf("%-12s %10.5f %11.4g %10.3f%% %13.3f%% %13.3f%% %13.3f%%\n",
                    padded ? "padded ramp" : "ramp", bias / count / rms, rmse,
                    100 * rmse / (hi - lo), 100 * (jumpIn / in / jump - 1),
                    100 * jumpOut / double(freeJumps.size()) / jump, 100 * p99 / jump);
        if (!outDir.isEmpty()) {
            const QString tag = QStringLiteral("n%1-%2").arg(n).arg(padded ? "padded" : "ramp");
            writeRaw(QDir(outDir).filePath(tag + "-pre.f64"), pre);
            writeRaw(QDir(outDir).filePath(tag + "-post.f64"), post);
        }
    }
    if (!outDir.isEmpty()) {
        const QString tag = QStringLiteral("n%1").arg(n);
        writeRaw(QDir(outDir).filePath(tag + "-sgm-pre.f64"), sgmPre);
        writeRaw(QDir(outDir).filePath(tag + "-sgm-post.f64"), sgmPost);
        writeRaw(QDir(outDir).filePath(tag + "-truth-pre.f64"), truthPre);
        std::vector<double> kinds(size_t(n) * n);
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x)
                kinds[size_t(z) * n + x] =
                    ph.body.level(x - n / 2.0, z - n / 2.0) <= 1.0 ? 1 + ph.kind(x, z, 3.0) : -9;
        writeRaw(QDir(outDir).filePath(tag + "-kinds.f64"), kinds);
        QFile info(QDir(outDir).filePath(tag + ".txt"));
        if (info.open(QIODevice::WriteOnly))
            info.write(QStringLiteral("%1 %2 %3\n")
                           .arg(n)
                           .arg(projections)
                           .arg(jump, 0, 'g', 17)
                           .toLatin1());
    }
}

// The data text as the text stream wrote it, for the speed comparison.
QByteArray streamText(int n, const double *values)
{
    QByteArray text;
    QTextStream out(&text, QIODevice::WriteOnly);
    out << "#ORVO-CTImg\n";
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            out << x << "\t" << z << "\t" << values[qsizetype(z) * n + x] << "\n";
    out.flush();
    return text;
}

void writerFigures(int n, int runs)
{
    // Values of a reconstructed slice: mostly small attenuation sums, both signs.
    std::mt19937_64 random(3);
    std::normal_distribution<double> normal(2.0, 3.0);
    std::vector<double> values(size_t(n) * n);
    for (double &v : values)
        v = normal(random);
    QByteArray fast, slow, tiffBytes;
    const double tFast =
        medianSeconds(runs, [&] { fast = SavingData::resultText(n, values.data(), 0, 0, n, n); });
    const double tSlow =
        medianSeconds(std::max(1, runs / 2), [&] { slow = streamText(n, values.data()); });
    FloatTiff tiff;
    tiff.width = n;
    tiff.height = n;
    tiff.values.assign(values.begin(), values.end());
    const double tTiff = medianSeconds(runs, [&] { tiffBytes = tiff.encode(); });
    const double mb = fast.size() / 1e6;
    std::printf("\n.dat text of N %d (%.1f MB): writer %.3f s = %.0f MB/s, text stream %.3f s = "
                "%.0f MB/s, %.1fx faster\n",
                n, mb, tFast, mb / tFast, tSlow, slow.size() / 1e6 / tSlow, tSlow / tFast);
    std::printf("float TIFF of N %d (%.1f MB): %.4f s = %.0f MB/s\n", n, tiffBytes.size() / 1e6,
                tTiff, tiffBytes.size() / 1e6 / tTiff);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains("--quick");
    const int outAt = args.indexOf("--out");
    const QString outDir = outAt > 0 && outAt + 1 < args.size() ? args[outAt + 1] : QString();
    if (!outDir.isEmpty())
        QDir().mkpath(outDir);
    if (quick) {
        phantomFigures(128, 180, outDir);
        writerFigures(128, 1);
        return 0;
    }
    phantomFigures(256, 360, outDir);
    phantomFigures(512, 720, outDir);
    writerFigures(1024, 5);
    return 0;
}
