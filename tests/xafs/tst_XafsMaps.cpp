// Chemical maps: the exact non-negative least squares on closed-form mixtures, reference
// files and their refusals, edge and white-line rules on closed-form spectra, the number
// of components Malinowski's IND chooses, and k-means on separated clusters.

#include "support/TestSupport.h"
#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsComponents.h"
#include "xafs/XafsEdgeMaps.h"
#include "xafs/XafsLeastSquares.h"
#include "xafs/XafsReference.h"
#include "xafs/XafsTiff.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

using Vector = QVector<double>;

namespace {

const double NaN = std::nan("");

// Three reference spectra on 40 energies: two edges 4 eV apart with different white
// lines, and a flat one.
std::vector<std::vector<double>> references()
{
    std::vector<std::vector<double>> r(3, std::vector<double>(40));
    for (int k = 0; k < 40; ++k) {
        const double e = k - 15.0;
        r[0][k] = 1.0 / (1.0 + std::exp(-e)) + 0.6 * std::exp(-0.1 * (e - 3) * (e - 3));
        r[1][k] = 1.0 / (1.0 + std::exp(-(e - 4))) + 0.2 * std::exp(-0.2 * (e - 8) * (e - 8));
        r[2][k] = 0.5;
    }
    return r;
}

double dot(const std::vector<double> &a, const std::vector<double> &b)
{
    double s = 0.0;
    for (size_t k = 0; k < a.size(); ++k)
        s += a[k] * b[k];
    return s;
}

bool near(double a, double b, double tolerance)
{
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) <= tolerance;
}

} // namespace

class tst_XafsMaps : public QObject
{
    Q_OBJECT

private slots:
    void exactWeights_data();
    void exactWeights();
    void referenceFiles_data();
    void referenceFiles();
    void referenceNames();
    void hostileReferenceFiles();
    void edgeAndWhiteLine_data();
    void edgeAndWhiteLine();
    void indicatorChoosesTheRank_data();
    void indicatorChoosesTheRank();
    void kMeansSeparatesClusters();
    void minimumJumpAsPercentage();
};

// y = sum mix_i ref_i (+ a NaN or all zero); the exact weights back.
void tst_XafsMaps::exactWeights_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<Vector>("mix");
    QTest::addColumn<bool>("sumToOne");
    QTest::addColumn<Vector>("weights");
    const auto r = references();
    QTest::newRow("two, free") << 2 << Vector{0.3, 0.9} << false << Vector{0.3, 0.9};
    QTest::newRow("two, sum to one") << 2 << Vector{0.3, 0.7} << true << Vector{0.3, 0.7};
    QTest::newRow("three, sum to one")
        << 3 << Vector{0.2, 0.3, 0.5} << true << Vector{0.2, 0.3, 0.5};
    // Unbounded the second weight would be -0.5; at 0 the first is the projection.
    QTest::newRow("held at 0 by the bound")
        << 2 << Vector{1.0, -0.5} << false
        << Vector{1.0 - 0.5 * dot(r[0], r[1]) / dot(r[0], r[0]), 0.0};
    QTest::newRow("held at 0, sum to one") << 2 << Vector{1.5, -0.5} << true << Vector{1.0, 0.0};
    QTest::newRow("pure third of three")
        << 3 << Vector{0.0, 0.0, 1.0} << true << Vector{0.0, 0.0, 1.0};
    QTest::newRow("all zero gives NaN") << 2 << Vector{0.0, 0.0} << false << Vector{NaN, NaN};
    QTest::newRow("NaN value gives NaN") << 2 << Vector{NaN, 0.5} << true << Vector{NaN, NaN};
}

void tst_XafsMaps::exactWeights()
{
    QFETCH(int, count);
    QFETCH(Vector, mix);
    QFETCH(bool, sumToOne);
    QFETCH(Vector, weights);
    auto r = references();
    r.resize(static_cast<size_t>(count));
    std::vector<double> y(40, 0.0);
    for (size_t k = 0; k < y.size(); ++k) {
        for (int i = 0; i < count; ++i)
            y[k] += (std::isnan(mix[i]) && k != 7 ? 0.0 : mix[i]) * r[i][k];
    }
    const XafsLeastSquares solver(r, sumToOne);
    std::vector<double> w(static_cast<size_t>(count));
    double rfactor = 0.0;
    const bool fitted = solver.fit(y.data(), w.data(), &rfactor);
    QCOMPARE(fitted, !std::isnan(weights[0]));
    for (int i = 0; i < count; ++i)
        QVERIFY2(near(w[i], weights[i], 1e-9), qPrintable(QString::number(w[i], 'g', 15)));
    const bool exactMixture = fitted && weights == mix;
    if (exactMixture)
        QVERIFY2(rfactor < 1e-20, qPrintable(QString::number(rfactor)));
    QCOMPARE(std::isnan(rfactor), !fitted);
}

void tst_XafsMaps::referenceFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("points"); // 0: refused
    QTest::addColumn<QString>("diagnostic");
    QTest::newRow("csv with header")
        << QByteArray("energy,mu\n7100,0.0\n7110,0.5\n7120,1.0\n7130,1.1\n7140,1.0\n") << 5 << "";
    QTest::newRow("xdi") << QByteArray("# XDI/1.0\n# Element.symbol: Fe\n#----\n# energy mutrans\n"
                                       "7100 0 9\n7110 0.5 9\n7120 1 9\n7130 1.1 9\n7140 1 9\n"
                                       "7150 1 9\n")
                         << 6 << "";
    QTest::newRow("whitespace, comments, CRLF")
        << QByteArray("# ref\r\n\r\n7100\t0\r\n7110 0.5\r\n7120   1\r\n7130 1.1\r\n7140 1\r\n") << 5
        << "";
    QTest::newRow("fewer than 5 points")
        << QByteArray("7100 0\n7110 0.5\n7120 1\n7130 1\n") << 0 << "fewer than 5 points";
    QTest::newRow("energies not increasing")
        << QByteArray("7100 0\n7110 0.5\n7110 1\n7130 1\n7140 1\n") << 0 << "not increasing";
    QTest::newRow("text among the data")
        << QByteArray("7100 0\n7110 0.5\nstop here\n7130 1\n7140 1\n7150 1\n") << 0
        << "not two numbers";
    QTest::newRow("NaN is no number")
        << QByteArray("7100 0\n7110 NaN\n7120 1\n7130 1\n7140 1\n") << 0 << "not two numbers";
    QTest::newRow("empty") << QByteArray() << 0 << "fewer than 5 points";
    QTest::newRow("not a regular file") << QByteArray("(directory)") << 0 << "can not read";
}

void tst_XafsMaps::referenceFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, points);
    QFETCH(QString, diagnostic);
    QTemporaryDir dir;
    QString path = dir.filePath("ref.txt");
    if (text == "(directory)") {
        path = dir.path();
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }
    TestSupport::MessageLog log;
    XafsReference reference;
    QCOMPARE(reference.read(path), points > 0);
    QCOMPARE(static_cast<int>(reference.energies.size()), points);
    if (!diagnostic.isEmpty())
        QVERIFY2(log.messages().join('\n').contains(diagnostic),
                 qPrintable(log.messages().join('\n')));
    if (points > 0) {
        // Linear between the measured points, NaN outside them.
        const std::vector<double> on = reference.onto({7105, 7125, 7099, 7140});
        QVERIFY(near(on[0], 0.25, 1e-12) && near(on[1], 1.05, 1e-12));
        QVERIFY(std::isnan(on[2]) && near(on[3], 1.0, 1e-12));
        QVERIFY(reference.covers(7100, 7140) && !reference.covers(7090, 7120));
    }
}

void tst_XafsMaps::referenceNames()
{
    QVERIFY(XafsReference::isPlainName("Fe_II_3"));
    for (const char *name : {"", "Fe-II", "Fe II", "Fé", "a/b"})
        QVERIFY2(!XafsReference::isPlainName(name), name);
}

// The inputs kept for the fuzz target: read or refused, never a crash.
void tst_XafsMaps::hostileReferenceFiles()
{
    const QDir dir(QStringLiteral(ORVO2_SOURCE_DIR "/fuzz/regressions/reference"));
    const QStringList files = dir.entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString &file : files) {
        XafsReference reference;
        const bool read = reference.read(dir.filePath(file));
        QCOMPARE(read, file.startsWith(QLatin1String("csv")));
    }
}

void tst_XafsMaps::edgeAndWhiteLine_data()
{
    QTest::addColumn<Vector>("mu"); // at energies 0, 1, 2, ...
    QTest::addColumn<double>("e0");
    QTest::addColumn<double>("edge50");
    QTest::addColumn<double>("energy");
    QTest::addColumn<double>("height");
    Vector ramp, parabola, rising, zeros(21, 0.0), nans(21, NaN);
    for (int k = 0; k <= 20; ++k) {
        ramp << 0.1 * k;
        // A parabola is its own parabola through three points: vertex exact.
        parabola << (k < 3 ? 0.2 * k : 1.2 - 0.01 * (k - 7.3) * (k - 7.3));
        rising << 0.05 * k;
    }
    const double crossing = 2.0 + 0.1 / (parabola[3] - 0.4);
    QTest::newRow("ramp crosses 0.5 at 5; peak at the window's end")
        << ramp << 2.0 << 5.0 << NaN << NaN;
    QTest::newRow("parabola's vertex") << parabola << 2.0 << crossing << 7.3 << 1.2;
    QTest::newRow("no E0") << parabola << NaN << crossing << NaN << NaN;
    QTest::newRow("never reaches 0.5") << Vector(21, 0.3) << 2.0 << NaN << NaN << NaN;
    QTest::newRow("rising through the window") << rising << 0.0 << 10.0 << NaN << NaN;
    QTest::newRow("all zero") << zeros << 2.0 << NaN << NaN << NaN;
    QTest::newRow("all NaN") << nans << 2.0 << NaN << NaN << NaN;
}

void tst_XafsMaps::edgeAndWhiteLine()
{
    QFETCH(Vector, mu);
    QFETCH(double, e0);
    QFETCH(double, edge50);
    QFETCH(double, energy);
    QFETCH(double, height);
    std::vector<double> e(static_cast<size_t>(mu.size()));
    for (size_t k = 0; k < e.size(); ++k)
        e[k] = static_cast<double>(k);
    double wlEnergy = 0.0, wlHeight = 0.0;
    XafsEdgeMaps::whiteLine(e.data(), mu.data(), e.size(), e0, 10.0, &wlEnergy, &wlHeight);
    QVERIFY2(near(XafsEdgeMaps::edge50(e.data(), mu.data(), e.size()), edge50, 1e-12), "edge50");
    QVERIFY2(near(wlEnergy, energy, 1e-9), qPrintable(QString::number(wlEnergy)));
    QVERIFY2(near(wlHeight, height, 1e-9), qPrintable(QString::number(wlHeight)));
}

void tst_XafsMaps::indicatorChoosesTheRank_data()
{
    QTest::addColumn<int>("rank");
    QTest::addColumn<double>("noise");
    QTest::addColumn<bool>("preEdgeLine");
    QTest::newRow("rank 1, noise 1e-3") << 1 << 1e-3 << false;
    QTest::newRow("rank 2, noise 1e-3") << 2 << 1e-3 << false;
    QTest::newRow("rank 2, noise 1e-2") << 2 << 1e-2 << false;
    QTest::newRow("rank 3, noise 1e-3") << 3 << 1e-3 << false;
    // Each spectrum less the line fitted to its own first 12 points, as normalisation
    // does: the noise of those points spreads over the whole spectrum as a line.
    QTest::newRow("rank 2, noise 1e-3, own pre-edge line") << 2 << 1e-3 << true;
    QTest::newRow("rank 3, noise 1e-3, own pre-edge line") << 3 << 1e-3 << true;
}

// Spectra mixed from `rank` edge shapes with random weights, plus white noise.
void tst_XafsMaps::indicatorChoosesTheRank()
{
    QFETCH(int, rank);
    QFETCH(double, noise);
    QFETCH(bool, preEdgeLine);
    const auto shapes = references();
    constexpr size_t energies = 40;
    constexpr size_t pre = 12;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> weight(0.0, 1.0);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> at(energies);
    for (size_t k = 0; k < energies; ++k)
        at[k] = 7000.0 + 2.0 * static_cast<double>(k);
    XafsComponents components(at);
    std::vector<double> y(energies);
    for (int v = 0; v < 3000; ++v) {
        std::vector<double> w(3);
        for (int i = 0; i < rank; ++i)
            w[static_cast<size_t>(i)] = weight(random);
        for (size_t k = 0; k < energies; ++k) {
            const double peak = std::exp(-0.05 * std::pow(k - 30.0, 2));
            y[k] = w[0] * shapes[0][k] + w[1] * shapes[1][k] + w[2] * peak + noise * white(random);
        }
        if (preEdgeLine) {
            const double mean = (pre - 1) / 2.0;
            double level = 0.0, slope = 0.0, spread = 0.0;
            for (size_t k = 0; k < pre; ++k) {
                level += y[k] / pre;
                slope += (k - mean) * y[k];
                spread += (k - mean) * (k - mean);
            }
            for (size_t k = 0; k < energies; ++k)
                y[k] -= level + slope / spread * (k - mean);
        }
        components.add(y.data(), 1);
    }
    const XafsPca pca = components.solve();
    QCOMPARE(pca.chosen, rank);
    QCOMPARE(pca.voxels, size_t(3000));
    double explained = 0.0;
    for (double f : pca.explained)
        explained += f;
    QVERIFY(near(explained, 1.0, 1e-9));
    QVERIFY(near(dot(pca.components[0], pca.components[0]), 1.0, 1e-9));
}

// Three separated clouds in two dimensions: each lands whole in a cluster of its own,
// and the same points give the same clusters.
void tst_XafsMaps::kMeansSeparatesClusters()
{
    std::mt19937 random(3);
    std::normal_distribution<float> spread(0.0f, 0.3f);
    const float centres[3][2] = {{0, 0}, {10, 0}, {0, 10}};
    std::vector<float> points;
    for (int p = 0; p < 600; ++p) {
        points.push_back(centres[p % 3][0] + spread(random));
        points.push_back(centres[p % 3][1] + spread(random));
    }
    std::vector<double> found, again;
    const std::vector<int> labels = XafsKMeans::cluster(points, 2, 3, 42, 100, &found);
    QCOMPARE(XafsKMeans::cluster(points, 2, 3, 42, 100, &again), labels);
    QCOMPARE(found, again);
    for (int p = 3; p < 600; ++p)
        QCOMPARE(labels[p], labels[p % 3]);
    QVERIFY(labels[0] != labels[1] && labels[1] != labels[2] && labels[0] != labels[2]);
}

QTEST_GUILESS_MAIN(tst_XafsMaps)
// xafs_min_jump 50%: the voxels whose jump is below half the slice's largest are NaN
// in the E0 map, the others keep their E0.
void tst_XafsMaps::minimumJumpAsPercentage()
{
    QTemporaryDir dir;
    XafsResultFiles::ResultWriter results;
    results.folder = dir.path();
    for (double e : {7100.0, 7105.0, 7110.0, 7115.0, 7120.0, 7125.0, 7130.0, 7140.0})
        QVERIFY(results.write(e, {2}));
    XafsSettings settings;
    settings.minJumpPercent = 50.0;
    QCOMPARE(XafsBuilder({dir.path(), "smp", false, false, false}, settings).build(), 1);
    std::vector<XafsPage> e0;
    QVERIFY(XafsTiff::readPages(
        QDir(dir.filePath("xafs")).filePath(XafsBuilder::stackFileName("smp", "e0", 2)), &e0));
    using XafsResultFiles::Phantom;
    // The region written: x 4..23, z 6..17; the largest jump at its far corner.
    const double least = 0.5 * Phantom::absorber(23, 17);
    int left = 0, expected = 0;
    for (int z = 6; z < 18; ++z) {
        for (int x = 4; x < 24; ++x) {
            const float v = e0.front().values[size_t(z - 6) * 20 + size_t(x - 4)];
            left += std::isnan(v) ? 1 : 0;
            expected += Phantom::absorber(x, z) < 0.999 * least ? 1 : 0;
            if (Phantom::absorber(x, z) > 1.001 * least)
                QVERIFY2(!std::isnan(v), qPrintable(QStringLiteral("%1, %2").arg(x).arg(z)));
        }
    }
    QVERIFY2(left >= expected && left > 0,
             qPrintable(QStringLiteral("%1 %2").arg(left).arg(expected)));
}

#include "tst_XafsMaps.moc"
