// Prints the time xafs_build takes for one slice: E energies of an N x N result
// (float TIFFs as the reconstruction writes them), read, turned into µ, normalised
// per voxel and written as the µ and normalised stacks and the jump and E0 maps.
// Median of a few runs on a warm cache; then the time per slice of a build of several
// slices, where the buffers of the first slice serve the next ones; with --register
// also the time with the registration between energies (one run).
//
//   orvo2benchxafs             E = 100, N = 1024
//   orvo2benchxafs E N         other sizes
//   orvo2benchxafs --register  also with registration

#include "ct/ResultLayout.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsTiff.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

bool writeResults(const QString &folder, int energies, int n)
{
    const int projections = 1440;
    std::vector<float> v(static_cast<size_t>(n) * n);
    for (int k = 0; k < energies; ++k) {
        const double e = 7000.0 + 200.0 * k / energies;
        const double edge = 0.5 + std::atan((e - 7100.0) / 1.5) / M_PI;
        for (int z = 0; z < n; ++z) {
            for (int x = 0; x < n; ++x) {
                const double r2 = std::pow(x - n / 2.0, 2) + std::pow(z - n / 2.0, 2);
                const double mu = r2 < n * n / 9.0 ? 0.01 + 0.02 * edge : 0.002;
                v[static_cast<size_t>(z) * n + x] = static_cast<float>(mu * 2 * projections);
            }
        }
        const QString tag = QStringLiteral("%1eV").arg(e, 0, 'f', 1).replace('.', '_');
        const QJsonObject meta{
            {"orvo2", "ct-slice"}, {"n", n},         {"projections", projections},
            {"energy_eV", e},      {"cor", n / 2.0}, {"slice", 1}};
        XafsPage page;
        page.width = page.height = n;
        page.description = QString::fromUtf8(QJsonDocument(meta).toJson(QJsonDocument::Compact));
        page.values = v;
        if (!XafsTiff::writePage(QDir(folder).filePath(ResultLayout::fileName(
                                     "bench", tag, sliceNumberText(1), "tif")),
                                 page))
            return false;
    }
    return true;
}

// The same results again under further slice numbers, as links to the first ones.
bool linkSlices(const QString &from, const QString &to, int slices)
{
    const QRegularExpression pattern = ResultLayout::filePattern("bench", "tif");
    const QStringList files =
        QDir(from).entryList({ResultLayout::fileFilter("bench", "tif")}, QDir::Files);
    for (const QString &f : files) {
        const QString tag = pattern.match(f).captured(1);
        for (int s = 1; s <= slices; ++s) {
            const QString name = ResultLayout::fileName("bench", tag, sliceNumberText(s), "tif");
            if (!QFile::link(QDir(from).filePath(f), QDir(to).filePath(name)))
                return false;
        }
    }
    return true;
}

double seconds(const XafsLayout &layout, const XafsSettings &settings, int slices = 1)
{
    QElapsedTimer timer;
    timer.start();
    XafsBuilder builder(layout, settings);
    if (builder.build() != slices)
        return NAN;
    return timer.nsecsElapsed() * 1e-9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool withRegistration = args.removeAll(QStringLiteral("--register")) > 0;
    const int energies = args.size() >= 2 ? args[0].toInt() : 100;
    const int n = args.size() >= 2 ? args[1].toInt() : 1024;
    QTemporaryDir dir;
    if (energies < 3 || n < 8 || !dir.isValid() || !writeResults(dir.path(), energies, n)) {
        std::fprintf(stderr, "can not write the results\n");
        return 1;
    }
    const XafsLayout layout{dir.path(), QStringLiteral("bench"), false, false, false};
    std::vector<double> t;
    for (int r = 0; r < 5; ++r)
        t.push_back(seconds(layout, XafsSettings()));
    std::sort(t.begin(), t.end());
    std::printf("xafs_build  E=%d N=%d  one slice: median %.3f s (min %.3f, max %.3f, 5 runs)\n",
                energies, n, t[2], t.front(), t.back());
    constexpr int slices = 4;
    QTemporaryDir many;
    if (many.isValid() && linkSlices(dir.path(), many.path(), slices)) {
        const XafsLayout manyLayout{many.path(), QStringLiteral("bench"), false, false, false};
        std::vector<double> m;
        for (int r = 0; r < 3; ++r)
            m.push_back(seconds(manyLayout, XafsSettings(), slices) / slices);
        std::sort(m.begin(), m.end());
        std::printf("xafs_build  E=%d N=%d  %d slices: median %.3f s per slice (min %.3f, max "
                    "%.3f, 3 runs)\n",
                    energies, n, slices, m[1], m.front(), m.back());
    }
    // The file traffic alone, for comparison: reading the E results, writing two
    // stacks of E pages.
    std::vector<double> readT, writeT;
    const QStringList files = QDir(dir.path()).entryList({"bench-*.tif"}, QDir::Files);
    for (int r = 0; r < 3; ++r) {
        QElapsedTimer timer;
        timer.start();
        std::vector<XafsPage> pages;
        for (const QString &f : files)
            XafsTiff::readPages(QDir(dir.path()).filePath(f), &pages);
        readT.push_back(timer.nsecsElapsed() * 1e-9);
        timer.restart();
        std::vector<float> page(static_cast<size_t>(n) * n, 1.0f);
        for (int stack = 0; stack < 2; ++stack) {
            XafsTiff::Writer w(QDir(dir.path()).filePath(QStringLiteral("w%1.tif").arg(stack)));
            for (int k = 0; k < energies; ++k)
                w.addPage(n, n, 0, 0, QString(), page.data());
            w.commit();
        }
        writeT.push_back(timer.nsecsElapsed() * 1e-9);
    }
    std::sort(readT.begin(), readT.end());
    std::sort(writeT.begin(), writeT.end());
    std::printf("  of which file traffic: reading %d results %.3f s, writing 2 stacks %.3f s "
                "(medians of 3)\n",
                energies, readT[1], writeT[1]);
    // The same build with explicit absolute ranges (straight lines, one set of weights for
    // every voxel) beside the default, whose ranges and polynomial follow each voxel's E0.
    std::vector<double> a;
    XafsSettings absolute;
    absolute.preEdge1 = 7000;
    absolute.preEdge2 = 7000 + 200.0 / 3;
    absolute.postEdge1 = 7000 + 400.0 / 3;
    absolute.postEdge2 = 7200;
    for (int r = 0; r < 5; ++r)
        a.push_back(seconds(layout, absolute));
    std::sort(a.begin(), a.end());
    std::printf("xafs_build  E=%d N=%d  one slice, absolute ranges: median %.3f s (5 runs)\n",
                energies, n, a[2]);
    if (withRegistration) {
        XafsSettings s;
        s.registerEnergies = true;
        std::printf("xafs_build  E=%d N=%d  one slice with registration: %.3f s (1 run)\n",
                    energies, n, seconds(layout, s));
    }
    return 0;
}
