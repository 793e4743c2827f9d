// Normalisation as XAFS users check it: polynomial post-edges and flattening on spectra
// whose fit is exact, ranges relative to E0 and their clipping, the two E0 methods, the
// default ranges on off-centre edges, the files a spectrum leaves as, and the numbers
// explicit absolute ranges gave before any of this existed.

#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsRecord.h"
#include "xafs/XafsSpectrum.h"
#include "xafs/XafsTiff.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

namespace {

constexpr double pi = 3.141592653589793;

std::vector<double> gridOf(double from, double to, double step)
{
    std::vector<double> g;
    for (double e = from; e <= to + 1e-9; e += step)
        g.push_back(e);
    return g;
}

// µ of noisy voxels on an uneven grid, the same numbers on every machine.
constexpr size_t legacyVoxels = 97;
std::vector<double> legacyGrid()
{
    std::vector<double> g;
    for (int k = 0; k < 40; ++k)
        g.push_back(7050.0 + 2.5 * k + (k > 20 ? 3.0 * (k - 20) : 0.0));
    return g;
}

std::vector<float> legacySpectra(const std::vector<double> &g)
{
    std::vector<float> mu(g.size() * legacyVoxels);
    uint32_t state = 12345u;
    for (size_t k = 0; k < g.size(); ++k) {
        for (size_t j = 0; j < legacyVoxels; ++j) {
            state = state * 1664525u + 1013904223u;
            const double noise = (double(state >> 8) / double(1u << 24) - 0.5) * 0.02;
            const double e0 = 7100.0 + 0.3 * double(j % 40);
            const double jump = 0.02 * double(j % 13);
            mu[k * legacyVoxels + j] = float(0.3 + 1e-4 * (g[k] - 7050.0) +
                                             jump * (0.5 + std::atan(g[k] - e0) / pi) + noise);
        }
    }
    return mu;
}

uint64_t mix(uint64_t h, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int b = 0; b < 4; ++b)
        h = (h ^ ((bits >> (8 * b)) & 0xffu)) * 1099511628211ull;
    return h;
}

} // namespace

class tst_XafsNormalisation : public QObject
{
    Q_OBJECT

private slots:
    void absoluteRangesKeepTheirNumbers_data();
    void absoluteRangesKeepTheirNumbers();
    void polynomialPostEdgeAndFlattening_data();
    void polynomialPostEdgeAndFlattening();
    void e0Methods_data();
    void e0Methods();
    void defaultRangesFollowTheEdge_data();
    void defaultRangesFollowTheEdge();
    void spectrumFiles_data();
    void spectrumFiles();
    void buildWritesRecordFlatStackAndUnits();
};

// Hashes of the float bits of every normalised value, jump and E0, taken with the
// normaliser as it was before relative ranges, polynomials and flattening came in.
void tst_XafsNormalisation::absoluteRangesKeepTheirNumbers_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("newOptions");
    QTest::addColumn<quint64>("hash");
    QTest::newRow("E0 searched") << 0 << false << quint64(0x1fc5f7271dca36c0ull);
    QTest::newRow("E0 fixed") << 1 << false << quint64(0xf0458b7e512984abull);
    QTest::newRow("post-edge third, minimum jump") << 2 << false << quint64(0xfbc56067619a016full);
    QTest::newRow("flattening and element on") << 0 << true << quint64(0x1fc5f7271dca36c0ull);
}

void tst_XafsNormalisation::absoluteRangesKeepTheirNumbers()
{
    QFETCH(int, row);
    QFETCH(bool, newOptions);
    QFETCH(quint64, hash);
    const std::vector<double> grid = legacyGrid();
    const std::vector<float> mu = legacySpectra(grid);
    XafsSettings s;
    s.preEdge1 = 7050;
    s.preEdge2 = 7090;
    s.postEdge1 = 7130;
    s.postEdge2 = 7200;
    if (row == 1)
        s.fixedE0 = 7111.3;
    if (row == 2) {
        s.postEdge1 = s.postEdge2 = XafsSettings::unset;
        s.minJump = 0.1;
    }
    if (newOptions) {
        s.flatten = true;
        s.nnorm = 1;
        s.elementSymbol = "Fe";
        s.elementEdge = "K";
    }
    const XafsNormaliser n(grid, s);
    std::vector<XafsFit> fits(legacyVoxels);
    n.fitMany(mu.data(), legacyVoxels, legacyVoxels, fits.data());
    uint64_t h = 1469598103934665603ull;
    for (size_t j = 0; j < legacyVoxels; ++j) {
        for (size_t k = 0; k < grid.size(); ++k)
            h = mix(h, float(n.normalised(fits[j], k, mu[k * legacyVoxels + j])));
        h = mix(h, float(fits[j].jump));
        h = mix(h, float(fits[j].e0));
    }
    QCOMPARE(quint64(h), hash);
}

// µ is a line below E0 and that line plus a polynomial of degree nnorm above it, on
// energies of thousands of eV: every fit is exact, so the step is the polynomial at E0
// and the flattened post-edge is 1 to rounding.
void tst_XafsNormalisation::polynomialPostEdgeAndFlattening_data()
{
    QTest::addColumn<int>("nnorm");
    QTest::addColumn<QVector<double>>("ranges"); // pre1 pre2 norm1 norm2
    QTest::addColumn<bool>("relative");
    QTest::addColumn<bool>("enough");
    QTest::newRow("nnorm 0, ends on energies")
        << 0 << QVector<double>{-202, -42, 38, 188} << true << true;
    QTest::newRow("nnorm 1, ends between energies")
        << 1 << QVector<double>{-199.5, -40.5, 40.5, 300.5} << true << true;
    QTest::newRow("nnorm 2, post-edge clipped to the scan")
        << 2 << QVector<double>{-150, -30, 50, 2000} << true << true;
    QTest::newRow("nnorm 3 over 600 eV")
        << 3 << QVector<double>{-212, -20, 20, 590} << true << true;
    QTest::newRow("nnorm 2, absolute ranges")
        << 2 << QVector<double>{6910, 7070, 7150, 7500} << false << true;
    QTest::newRow("pre-edge holds one energy")
        << 1 << QVector<double>{-13, -9, 30, 300} << true << false;
    QTest::newRow("nnorm 3 over two energies")
        << 3 << QVector<double>{-200, -30, 20, 31} << true << false;
}

void tst_XafsNormalisation::polynomialPostEdgeAndFlattening()
{
    QFETCH(int, nnorm);
    QFETCH(QVector<double>, ranges);
    QFETCH(bool, relative);
    QFETCH(bool, enough);
    const double e0 = 7112.0;
    const std::vector<double> grid = gridOf(6900, 7700, 5);
    const double c[4] = {0.9, -2e-4, 3e-7, -2e-10};
    auto pre = [&](double e) { return 0.2 + 3e-4 * (e - e0); };
    auto curve = [&](double e) {
        double v = 0.0;
        for (int j = nnorm; j >= 0; --j)
            v = v * (e - e0) + c[j];
        return v;
    };
    std::vector<double> mu;
    for (double e : grid)
        mu.push_back(pre(e) + (e > e0 ? curve(e) : 0.0));
    XafsSettings s;
    s.fixedE0 = e0;
    s.nnorm = nnorm;
    s.flatten = true;
    if (relative) {
        s.preRelative1 = ranges[0];
        s.preRelative2 = ranges[1];
        s.normRelative1 = ranges[2];
        s.normRelative2 = ranges[3];
    } else {
        s.preEdge1 = ranges[0];
        s.preEdge2 = ranges[1];
        s.postEdge1 = ranges[2];
        s.postEdge2 = ranges[3];
    }
    const XafsNormaliser n(grid, s);
    QVERIFY(n.problem().isEmpty());
    const XafsFit f = n.fit(mu.data());
    if (!enough) {
        QVERIFY(!f.valid);
        QVERIFY(f.state == XafsVoxel::FewPoints);
        QVERIFY(std::isnan(f.e0) && std::isnan(f.jump));
        QVERIFY(std::isnan(n.normalised(f, 50, mu[50])) && std::isnan(n.flattened(f, 50, mu[50])));
        return;
    }
    QVERIFY(f.valid);
    QCOMPARE(f.nnorm, nnorm);
    QVERIFY2(std::abs(f.jump - 0.9) < 1e-10, qPrintable(QString::number(f.jump - 0.9)));
    QVERIFY(n.rangesAt(e0).post2 <= grid.back());
    for (size_t k = 0; k < grid.size(); ++k) {
        const double norm = (mu[k] - pre(grid[k])) / 0.9;
        QVERIFY(std::abs(n.normalised(f, k, mu[k]) - norm) < 1e-10);
        const double flat = grid[k] > e0 ? 1.0 : norm;
        QVERIFY2(std::abs(n.flattened(f, k, mu[k]) - flat) < 1e-9,
                 qPrintable(QString("%1 eV").arg(grid[k])));
    }
}

void tst_XafsNormalisation::e0Methods_data()
{
    QTest::addColumn<bool>("half");
    // 0 a ramp over 7110-7120 eV; 1 an arctan at 7112.3 eV; 2 a step whose post-edge
    // falls away, so that its straight post-edge meets E0 at more than twice the step
    QTest::addColumn<int>("shape");
    QTest::addColumn<double>("expected");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("half, ramp: its middle") << true << 0 << 7115.0 << 1e-9;
    QTest::newRow("half, arctan: its centre") << true << 1 << 7112.3 << 0.1;
    QTest::newRow("slope, arctan: its centre") << false << 1 << 7112.3 << 0.05;
    QTest::newRow("half, never rising through 0.5") << true << 2 << double(NAN) << 0.0;
}

void tst_XafsNormalisation::e0Methods()
{
    QFETCH(bool, half);
    QFETCH(int, shape);
    QFETCH(double, expected);
    QFETCH(double, tolerance);
    const std::vector<double> grid = gridOf(7000, 7300, 0.5);
    std::vector<double> mu;
    for (double e : grid) {
        if (shape == 0)
            mu.push_back(std::clamp((e - 7110.0) / 10.0, 0.0, 1.0));
        else if (shape == 1)
            mu.push_back(0.5 + std::atan((e - 7112.3) / 1.0) / pi);
        else
            mu.push_back(e < 7112 ? 0.0 : e < 7142 ? 0.4 : 0.4 - 0.02 * (e - 7142));
    }
    XafsSettings s;
    s.preRelative1 = -100;
    s.preRelative2 = -30;
    s.normRelative1 = 30;
    s.normRelative2 = 150;
    s.e0Method = half ? XafsE0Method::Half : XafsE0Method::Slope;
    const XafsNormaliser n(grid, s);
    const XafsFit f = n.fit(mu.data());
    if (std::isnan(expected)) {
        QVERIFY(!f.valid && f.state == XafsVoxel::NoCrossing);
        QVERIFY(std::isnan(f.e0) && std::isnan(f.jump));
        return;
    }
    QVERIFY(f.valid && f.state == XafsVoxel::Valid);
    QVERIFY2(std::abs(f.e0 - expected) <= tolerance, qPrintable(QString::number(f.e0, 'f', 6)));
}

// With no ranges, edges at a third, a half and two thirds of the scan, and the short scan
// around the edge whose lowest third held the edge: the post-edge comes out at 1.
void tst_XafsNormalisation::defaultRangesFollowTheEdge_data()
{
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    QTest::addColumn<double>("step");
    QTest::newRow("edge at a third") << 7012.0 << 7312.0 << 2.0;
    QTest::newRow("edge at a half") << 6912.0 << 7312.0 << 2.0;
    QTest::newRow("edge at two thirds") << 6912.0 << 7162.0 << 2.0;
    QTest::newRow("scan cut to 7096-7152 eV") << 7096.0 << 7152.0 << 1.0;
}

void tst_XafsNormalisation::defaultRangesFollowTheEdge()
{
    QFETCH(double, first);
    QFETCH(double, last);
    QFETCH(double, step);
    const double edge = 7112.0;
    const std::vector<double> grid = gridOf(first, last, step);
    std::vector<double> mu;
    for (double e : grid)
        mu.push_back(0.3 + 2e-4 * (e - edge) + 0.8 * (0.5 + std::atan((e - edge) / 0.2) / pi));
    const XafsNormaliser n(grid, XafsSettings());
    const XafsFit f = n.fit(mu.data());
    QVERIFY(f.valid);
    QVERIFY(std::abs(f.e0 - edge) < 0.5);
    const double from = f.e0 + std::min(25.0, (last - f.e0) / 3.0);
    for (size_t k = 0; k < grid.size(); ++k) {
        if (grid[k] >= from)
            QVERIFY2(std::abs(n.normalised(f, k, mu[k]) - 1.0) < 0.05,
                     qPrintable(QString("%1 eV: %2").arg(grid[k]).arg(n.normalised(f, k, mu[k]))));
    }
}

void tst_XafsNormalisation::spectrumFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("flatten");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QString>("columns");
    QTest::newRow("CSV") << "s.csv" << false
                         << QStringList{"# data_name: smp", "# slice: 7", "# pixels: 6",
                                        "# nnorm: 0", "# unit: 1/pixel"}
                         << "energy_eV,mu,normalised_mu";
    QTest::newRow("XDI") << "s.xdi" << false
                         << QStringList{"# Column.1: energy eV", "# Column.2: mu",
                                        "# Column.3: norm", "# Orvo2.slice: 7", "#----"}
                         << "# energy mu norm";
    QTest::newRow("XDI flattened, with the element")
        << "s.xdi" << true
        << QStringList{"# Column.4: flat", "# Element.symbol: Fe", "# Element.edge: K",
                       "# Orvo2.flatten: 1"}
        << "# energy mu norm flat";
}

void tst_XafsNormalisation::spectrumFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, flatten);
    QFETCH(QStringList, header);
    QFETCH(QString, columns);
    QTemporaryDir dir;
    const std::vector<double> grid = {7090, 7100, 7105, 7110, 7115, 7120, 7125, 7135, 7150};
    std::vector<double> mu;
    for (double e : grid)
        mu.push_back(e >= 7120 ? 0.5 : 0.2);
    XafsSettings s;
    s.flatten = flatten;
    s.elementSymbol = flatten ? "Fe" : "";
    s.elementEdge = flatten ? "K" : "";
    const QString path = dir.filePath(file);
    QVERIFY(XafsSpectrum::write(path, grid, mu, s, {"smp", 7, 10, 8, 13, 10, 6}));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    if (file.endsWith(".xdi"))
        QVERIFY(lines[0].startsWith("# XDI/1.0 Orvo2/"));
    for (const QString &h : header)
        QVERIFY2(lines.contains(h), qPrintable(h));
    QStringList data;
    for (const QString &l : lines)
        if (!l.startsWith('#'))
            data << l;
    const int labels = int(lines.indexOf(columns));
    QVERIFY(labels >= 0);
    QCOMPARE(data.size(), int(grid.size()) + (columns.startsWith('#') ? 0 : 1));
    const QString separator = file.endsWith(".xdi") ? " " : ",";
    const QStringList last = data.last().split(separator);
    QCOMPARE(last.size(), flatten ? 4 : 3);
    QCOMPARE(last[0].toDouble(), 7150.0);
    QCOMPARE(last[1].toDouble(), 0.5);
    QVERIFY(std::abs(last[2].toDouble() - 1.0) < 1e-9);
}

// A build with flattening, a pixel size and an energy shift: the flattened stack, µ in
// 1/cm, every energy moved, and the record saying so.
void tst_XafsNormalisation::buildWritesRecordFlatStackAndUnits()
{
    using namespace XafsResultFiles;
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    const std::vector<double> energies = {7090, 7100, 7105, 7110, 7115, 7120, 7125, 7135, 7150};
    for (double e : energies)
        QVERIFY(results.write(e, {7}));
    XafsSettings s;
    s.flatten = true;
    s.pixelSizeUm = 2.0;
    s.energyShift = -1.5;
    XafsBuilder builder({dir.path(), "smp", false, false, false}, s);
    builder.setRecordExtra({{"maps", QJsonObject{{"kind", "later"}}}});
    QCOMPARE(builder.build(), 1);
    const QDir out(dir.filePath("xafs"));
    std::vector<XafsPage> mu, flat, jump;
    QVERIFY(XafsTiff::readPages(out.filePath("smp-mu-00007.tif"), &mu));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-flat-00007.tif"), &flat));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-jump-00007.tif"), &jump));
    QCOMPARE(flat.size(), energies.size());
    const double perCm = 1.0 / (2.0 * 1e-4);
    for (size_t k = 0; k < mu.size(); ++k) {
        const QJsonObject o = QJsonDocument::fromJson(mu[k].description.toUtf8()).object();
        QCOMPARE(o.value("energy_eV").toDouble(), energies[k] - 1.5);
        QCOMPARE(o.value("unit").toString(), QStringLiteral("1/cm"));
        const double truth = Phantom::mu(4, 6, energies[k]) * perCm;
        QVERIFY(std::abs(mu[k].values[0] - truth) < 1e-5 * truth);
        QVERIFY(std::abs(flat[k].values[0] - Phantom::step(energies[k])) < 1e-4);
    }
    QVERIFY(std::abs(jump[0].values[0] - Phantom::absorber(4, 6) * perCm) < 1e-3);
    const QJsonObject record = XafsRecord::read(out.filePath("smp-xafs.json"));
    QCOMPARE(record.value("slices_built").toArray(), QJsonArray{7});
    QCOMPARE(record.value("energies_eV").toArray().first().toDouble(), 7088.5);
    const QJsonObject used = record.value("normalisation").toObject();
    QCOMPARE(used.value("ranges").toString(), QStringLiteral("default"));
    QCOMPARE(used.value("unit").toString(), QStringLiteral("1/cm"));
    const QJsonObject slice = record.value("slices").toArray().first().toObject();
    QCOMPARE(slice.value("voxels").toInt(), 240);
    QCOMPARE(slice.value("voxels_per_nnorm").toObject().value("0").toInt(), 240);
    QCOMPARE(record.value("maps").toObject().value("kind").toString(), QStringLiteral("later"));
    // The spectrum of the built stack is per pixel again before the settings' unit.
    XafsSpectrum spectrum;
    QVERIFY(spectrum.load(out.filePath("smp-mu-00007.tif")));
    QCOMPARE(spectrum.energies().front(), 7090.0);
}

QTEST_GUILESS_MAIN(tst_XafsNormalisation)
#include "tst_XafsNormalisation.moc"
