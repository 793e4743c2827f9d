// Prints the speed of the chemical maps:
//   - xafs_lcf's per-voxel fit on one core: voxels per second for R references x E
//     energies (in memory, no files);
//   - xafs_pca + xafs_cluster 4 on S built slices of E energies x N x N, beside the
//     xafs_build of the same slices (float TIFF results written first), same run.
//
//   orvo2benchmaps             R = 3, E = 100, N = 1024, S = 4
//   orvo2benchmaps E N S       other sizes (R stays 3)

#include "BenchTiming.h"
#include "ct/ResultLayout.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsChemicalMaps.h"
#include "xafs/XafsLcf.h"
#include "xafs/XafsTiff.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double pi = 3.141592653589793;

// Normalised µ of two species with edges 4 eV apart and different white lines.
double species(int which, double e)
{
    const double edge = which == 0 ? 7112.0 : 7116.0;
    const double line = which == 0 ? 0.6 : 0.2;
    return 0.5 + std::atan((e - edge) / 1.5) / pi +
           line * std::exp(-0.05 * std::pow(e - edge - 6, 2));
}

double energyAt(int k, int energies)
{
    return 7060.0 + 120.0 * k / energies;
}

double lcfVoxelsPerSecond(int energies)
{
    constexpr size_t pixels = size_t(1) << 18;
    std::vector<std::vector<double>> refs(3, std::vector<double>(energies));
    std::vector<std::vector<float>> pages(energies, std::vector<float>(pixels));
    std::mt19937 random(1);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::vector<double> a(pixels), b(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        a[i] = share(random);
        b[i] = (1.0 - a[i]) * share(random);
    }
    for (int k = 0; k < energies; ++k) {
        const double e = energyAt(k, energies);
        refs[0][k] = species(0, e);
        refs[1][k] = species(1, e);
        refs[2][k] = 0.5 + std::atan((e - 7120.0) / 3.0) / pi;
        for (size_t i = 0; i < pixels; ++i)
            pages[k][i] = static_cast<float>(a[i] * refs[0][k] + b[i] * refs[1][k] +
                                             (1 - a[i] - b[i]) * refs[2][k]);
    }
    XafsStackView view;
    view.pixels = pixels;
    for (const auto &p : pages)
        view.pages.push_back(p.data());
    std::vector<size_t> at(energies);
    for (int k = 0; k < energies; ++k)
        at[k] = k;
    const XafsLcf lcf(refs, true);
    std::vector<std::vector<float>> weights;
    std::vector<float> rfactor;
    const double t = medianSeconds(5, [&] { lcf.fit(view, at, &weights, &rfactor); });
    return pixels / t;
}

// One energy's result slices: a disc of species A on the left, B on the right and
// their even mixture in the middle, in a weak matrix without an edge.
bool writeResults(const QString &folder, int energies, int n, int slices)
{
    const int projections = 1440;
    std::vector<float> v(static_cast<size_t>(n) * n);
    for (int k = 0; k < energies; ++k) {
        const double e = energyAt(k, energies);
        const double muA = species(0, e), muB = species(1, e);
        for (int z = 0; z < n; ++z) {
            for (int x = 0; x < n; ++x) {
                const double r2 = std::pow(x - n / 2.0, 2) + std::pow(z - n / 2.0, 2);
                const double third = (x - n / 2.0) / (n / 3.0);
                const double mix = third < -0.33 ? 1.0 : third > 0.33 ? 0.0 : 0.5;
                const double mu =
                    r2 < n * n / 9.0 ? 0.002 + 0.02 * (mix * muA + (1 - mix) * muB) : 0.002;
                v[static_cast<size_t>(z) * n + x] = static_cast<float>(mu * 2 * projections);
            }
        }
        const QString tag = QStringLiteral("%1eV").arg(e, 0, 'f', 1).replace('.', '_');
        for (int s = 1; s <= slices; ++s) {
            const QJsonObject meta{
                {"orvo2", "ct-slice"}, {"n", n},         {"projections", projections},
                {"energy_eV", e},      {"cor", n / 2.0}, {"slice", s}};
            XafsPage page;
            page.width = page.height = n;
            page.description =
                QString::fromUtf8(QJsonDocument(meta).toJson(QJsonDocument::Compact));
            page.values = v;
            if (!XafsTiff::writePage(QDir(folder).filePath(ResultLayout::fileName(
                                         "bench", tag, sliceNumberText(s), "tif")),
                                     page))
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int energies = args.size() >= 3 ? args[0].toInt() : 100;
    const int n = args.size() >= 3 ? args[1].toInt() : 1024;
    const int slices = args.size() >= 3 ? args[2].toInt() : 4;
    if (energies < 10 || n < 16 || slices < 1) {
        std::fprintf(stderr, "usage: orvo2benchmaps [E N S]\n");
        return 1;
    }
    std::printf("xafs_lcf    R=3 E=%d  one core: %.3g voxels/s (median of 5, 2^18 voxels)\n",
                energies, lcfVoxelsPerSecond(energies));
    std::fflush(stdout);
    QTemporaryDir dir;
    if (!dir.isValid() || !writeResults(dir.path(), energies, n, slices)) {
        std::fprintf(stderr, "can not write the results\n");
        return 1;
    }
    const XafsLayout layout{dir.path(), QStringLiteral("bench"), false, false, false};
    // The matrix has no edge: its voxels are left out, as a user leaves them out.
    XafsSettings settings;
    settings.minJump = 0.01;
    const XafsBuilder builder(layout, settings);
    const QString folder = builder.outputFolder();
    const double build = medianSeconds(3, [&] { XafsBuilder(layout, settings).build(); });
    const XafsChemicalMaps maps(folder, QStringLiteral("bench"), XafsMapSettings());
    XafsPca pca;
    const double components = medianSeconds(3, [&] { maps.principalComponents(&pca); });
    const double clusters = medianSeconds(3, [&] { maps.clusters(pca, 4); });
    std::printf("E=%d N=%d S=%d  xafs_build %.2f s, xafs_pca %.2f s (chosen %d), "
                "xafs_cluster 4 %.2f s: (pca + cluster) / build = %.2f (medians of 3)\n",
                energies, n, slices, build, components, pca.chosen, clusters,
                (components + clusters) / build);
    std::printf("singular values / the largest:");
    for (size_t j = 0; j < pca.singular.size() && j < 8; ++j)
        std::printf(" %.3g", pca.singular[j] / pca.singular[0]);
    std::printf("\n");
    return 0;
}
