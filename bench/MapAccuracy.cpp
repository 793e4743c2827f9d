// Prints how close the chemical maps of a reconstructed `orvo2demo --species 2` data set
// are to the phantom: per slice
//   - the RMS error of the A and B weight maps over absorber voxels 2 px or more inside a
//     grain, and each grain's mean weights beside the true ones;
//   - the largest and median error of the edge50, white-line energy and height maps in
//     the pure grains against the same rules applied to the true normalised µ at the
//     scan's energies (the truth slices through the same normalisation);
//   - how much of each pure grain falls into one cluster, and whether A's and B's differ;
//   - the number of components xafs_pca chose.
//
//   orvo2mapaccuracy DATA XAFS [NAME]   DATA: the generator's folder, XAFS: <results>/xafs

#include "ct/ResultLayout.h"
#include "util/TextFile.h"
#include "xafs/XafsEdgeMaps.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsTiff.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

std::vector<double> readDoubles(const QString &path)
{
    QFile f(path);
    std::vector<double> v;
    if (!f.open(QIODevice::ReadOnly))
        return v;
    const QByteArray bytes = f.readAll();
    v.resize(static_cast<size_t>(bytes.size()) / sizeof(double));
    std::memcpy(v.data(), bytes.constData(), v.size() * sizeof(double));
    return v;
}

struct Map
{
    XafsPage page;
    bool read(const QString &path)
    {
        std::vector<XafsPage> pages;
        if (!XafsTiff::readPages(path, &pages) || pages.empty())
            return false;
        page = pages.front();
        return true;
    }
    // The value at truth pixel (x, z), NaN outside the map.
    double at(int x, int z) const
    {
        const int i = x - static_cast<int>(page.x0), j = z - static_cast<int>(page.z0);
        if (i < 0 || j < 0 || i >= page.width || j >= page.height)
            return std::nan("");
        return page.values[static_cast<size_t>(j) * page.width + i];
    }
};

// Of the defined values only (a voxel whose map is undefined is counted apart).
double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: orvo2mapaccuracy DATA XAFS [NAME]\n");
        return 2;
    }
    const QDir data(args[0]), xafs(args[1]);
    const QString name = args.size() > 2 ? args[2] : QStringLiteral("demo");
    QFile geometryFile(data.filePath("geometry.json"));
    geometryFile.open(QIODevice::ReadOnly);
    const QJsonObject geometry = QJsonDocument::fromJson(geometryFile.readAll()).object();
    const int n = geometry["n_fft"].toInt(), height = geometry["height"].toInt();
    const size_t plane = static_cast<size_t>(n) * n;
    const std::vector<double> weightA = readDoubles(data.filePath("truth/weight-A.f64"));
    const std::vector<double> weightB = readDoubles(data.filePath("truth/weight-B.f64"));
    std::vector<double> energies;
    std::vector<std::vector<double>> truth;
    for (const QJsonValue &e : geometry["energies"].toArray()) {
        energies.push_back(e.toDouble());
        const QString text = QString::number(e.toDouble(), 'f', 1).replace('.', '_') + "eV";
        truth.push_back(readDoubles(data.filePath(geometry["sets"][text]["truth"].toString())));
    }
    if (n < 1 || weightA.size() != plane * height || truth.empty() ||
        truth.front().size() != plane * height) {
        std::fprintf(stderr, "not a --species 2 data set: %s\n", qPrintable(data.path()));
        return 1;
    }
    const XafsNormaliser normaliser(energies, XafsSettings());
    for (int slice = 0; slice < height; ++slice) {
        auto mapOf = [&](const QString &kind) {
            Map m;
            m.read(xafs.filePath(
                ResultLayout::fileName(name, kind, sliceNumberText(slice), QStringLiteral("tif"))));
            return m;
        };
        const Map fitA = mapOf("lcf-A"), fitB = mapOf("lcf-B"), edge = mapOf("edge50"),
                  wlE = mapOf("wl-energy"), wlH = mapOf("wl-height"), cluster = mapOf("cluster");
        if (fitA.page.values.empty()) {
            std::printf("slice %d: no weight maps\n", slice);
            continue;
        }
        const size_t base = static_cast<size_t>(slice) * plane;
        // A voxel is inside its grain when every voxel within 2 px holds the same weights.
        auto interior = [&](int x, int z) {
            const double a = weightA[base + static_cast<size_t>(z) * n + x];
            const double b = weightB[base + static_cast<size_t>(z) * n + x];
            if (a + b <= 0.0)
                return false;
            for (int dz = -2; dz <= 2; ++dz)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int xx = x + dx, zz = z + dz;
                    if (xx < 0 || zz < 0 || xx >= n || zz >= n)
                        return false;
                    const size_t i = base + static_cast<size_t>(zz) * n + xx;
                    if (weightA[i] != a || weightB[i] != b)
                        return false;
                }
            return true;
        };
        double squaresA = 0.0, squaresB = 0.0;
        size_t counted = 0;
        std::map<double, std::vector<double>> grainA, grainB; // true A fraction -> fitted
        std::map<double, std::map<int, int>> clusters;
        std::vector<double> edgeErr, wlEErr, wlHErr;
        std::vector<double> mu(energies.size()), norm(energies.size());
        for (int z = 0; z < n; ++z) {
            for (int x = 0; x < n; ++x) {
                if (!interior(x, z))
                    continue;
                const size_t i = base + static_cast<size_t>(z) * n + x;
                const double a = weightA[i];
                const double fa = fitA.at(x, z), fb = fitB.at(x, z);
                squaresA += (fa - a) * (fa - a);
                squaresB += (fb - weightB[i]) * (fb - weightB[i]);
                ++counted;
                grainA[a].push_back(fa);
                grainB[a].push_back(fb);
                if (!cluster.page.values.empty())
                    ++clusters[a][static_cast<int>(cluster.at(x, z))];
                if (a != 0.0 && a != 1.0)
                    continue;
                for (size_t k = 0; k < energies.size(); ++k)
                    mu[k] = truth[k][i];
                const XafsFit fit = normaliser.fit(mu.data());
                for (size_t k = 0; k < energies.size(); ++k)
                    norm[k] = normaliser.normalised(fit, k, mu[k]);
                double trueE = 0.0, trueH = 0.0;
                XafsEdgeMaps::whiteLine(energies.data(), norm.data(), norm.size(), fit.e0, 30.0,
                                        &trueE, &trueH);
                edgeErr.push_back(
                    std::abs(edge.at(x, z) -
                             XafsEdgeMaps::edge50(energies.data(), norm.data(), norm.size())));
                wlEErr.push_back(std::abs(wlE.at(x, z) - trueE));
                wlHErr.push_back(std::abs(wlH.at(x, z) - trueH));
            }
        }
        auto worst = [](const std::vector<double> &v) {
            double w = 0.0;
            for (double x : v)
                if (!std::isnan(x))
                    w = std::max(w, x);
            return w;
        };
        auto undefined = [](const std::vector<double> &v) {
            return std::count_if(v.begin(), v.end(), [](double x) { return std::isnan(x); });
        };
        std::printf("slice %d: weight RMS over %zu interior voxels: A %.4f, B %.4f\n", slice,
                    counted, std::sqrt(squaresA / counted), std::sqrt(squaresB / counted));
        for (const auto &g : grainA) {
            double sa = 0.0, sb = 0.0;
            for (double v : g.second)
                sa += v;
            for (double v : grainB[g.first])
                sb += v;
            std::printf("  grain of %.0f %% A (%zu voxels): mean weights A %.4f, B %.4f",
                        100 * g.first, g.second.size(), sa / g.second.size(), sb / g.second.size());
            if (!clusters[g.first].empty()) {
                int most = 0, best = 0, total = 0;
                for (const auto &c : clusters[g.first]) {
                    total += c.second;
                    if (c.second > most) {
                        most = c.second;
                        best = c.first;
                    }
                }
                std::printf("; %.1f %% in cluster %d", 100.0 * most / total, best);
            }
            std::printf("\n");
        }
        std::printf("  pure grains, |map - truth's rule| median / max: edge50 %.3f / %.3f eV, "
                    "white-line energy %.3f / %.3f eV, height %.4f / %.4f; undefined voxels %td / "
                    "%td / %td of %zu\n",
                    median(edgeErr), worst(edgeErr), median(wlEErr), worst(wlEErr), median(wlHErr),
                    worst(wlHErr), undefined(edgeErr), undefined(wlEErr), undefined(wlHErr),
                    edgeErr.size());
    }
    QStringList lines;
    if (TextFile::readLines(xafs.filePath(name + "-pca.csv"), &lines) == TextFile::Read &&
        !lines.isEmpty())
        std::printf("xafs_pca: %s\n", qPrintable(lines.last()));
    return 0;
}
