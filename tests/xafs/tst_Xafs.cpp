// Spectra of CT-XAFS stacks: normalisation against closed-form spectra, the E0
// refinement, registration of shifted slices, the grouping of result files with its
// refusals, and the files and CSVs written.

#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsRegister.h"
#include "xafs/XafsSpectrum.h"
#include "xafs/XafsTiff.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

namespace {

constexpr double pi = 3.141592653589793;
using namespace XafsResultFiles;

const std::vector<double> energies9 = {7090, 7100, 7105, 7110, 7115, 7120, 7125, 7135, 7150};

} // namespace

class tst_Xafs : public QObject
{
    Q_OBJECT

private slots:
    void normalisesClosedFormSpectra_data();
    void normalisesClosedFormSpectra();
    void parabolaPeak_data();
    void parabolaPeak();
    void smallJumpsAreLeftOut();
    void fitManyGivesTheBitsOfFit_data();
    void fitManyGivesTheBitsOfFit();
    void refusesUnusableGrids_data();
    void refusesUnusableGrids();
    void recoversSubPixelShifts_data();
    void recoversSubPixelShifts();
    void buildsStacksInEveryLayout_data();
    void buildsStacksInEveryLayout();
    void alignsSetsOnTheirCommonRegion_data();
    void alignsSetsOnTheirCommonRegion();
    void nothingToBuild();
    void registersDriftingEnergies();
    void spectrumCsvOfRegion();
};

// µ(E) = pre(E) + s(E) (post(E) - pre(E)), s an arctan step of half width g at e0. The
// arctan's tails leak at most g / (pi d) of the jump into ranges d eV from the edge,
// which bounds how far the fitted lines can be from the true ones.
void tst_Xafs::normalisesClosedFormSpectra_data()
{
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("e0");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("preSlope");
    QTest::addColumn<double>("postSlope");
    QTest::addColumn<double>("fixedE0");
    QTest::newRow("flat lines, edge on a grid point")
        << 1.0 << 7112.0 << 1.0 << 0.0 << 0.0 << double(NAN);
    QTest::newRow("edge a quarter step off the grid")
        << 1.0 << 7112.25 << 1.0 << 0.0 << 0.0 << double(NAN);
    QTest::newRow("edge half a step off the grid")
        << 1.0 << 7112.5 << 1.5 << 0.0 << 0.0 << double(NAN);
    QTest::newRow("sloped pre and post lines")
        << 1.0 << 7111.7 << 1.0 << -2e-4 << -5e-4 << double(NAN);
    QTest::newRow("2 eV steps, wide edge") << 2.0 << 7113.3 << 3.0 << 1e-4 << -3e-4 << double(NAN);
    QTest::newRow("E0 fixed") << 1.0 << 7112.0 << 1.0 << -2e-4 << -5e-4 << 7112.0;
}

void tst_Xafs::normalisesClosedFormSpectra()
{
    QFETCH(double, step);
    QFETCH(double, e0);
    QFETCH(double, width);
    QFETCH(double, preSlope);
    QFETCH(double, postSlope);
    QFETCH(double, fixedE0);
    // Coarse far from the edge, fine across it, as XANES scans are taken.
    std::vector<double> grid;
    for (double e = 6950; e < 7080; e += 10)
        grid.push_back(e);
    for (double e = 7080; e <= 7145; e += step)
        grid.push_back(e);
    for (double e = 7160; e <= 7300; e += 10)
        grid.push_back(e);
    const double jump = 0.8;
    auto pre = [&](double e) { return 0.3 + preSlope * (e - e0); };
    auto post = [&](double e) { return 0.3 + jump + postSlope * (e - e0); };
    std::vector<double> mu;
    for (double e : grid)
        mu.push_back(pre(e) + (0.5 + std::atan((e - e0) / width) / pi) * (post(e) - pre(e)));

    XafsSettings settings;
    settings.preEdge1 = 6950;
    settings.preEdge2 = 7060;
    settings.postEdge1 = 7160;
    settings.postEdge2 = 7300;
    settings.fixedE0 = fixedE0;
    const XafsNormaliser normaliser(grid, settings);
    QVERIFY2(normaliser.problem().isEmpty(), qPrintable(normaliser.problem()));
    const XafsFit fit = normaliser.fit(mu.data());
    QVERIFY(fit.valid);
    // The fitted ranges start 50 eV from the edge, where the tails hold width / (50 pi)
    // of the jump; a line fitted to them and carried to E0 is off by at most about
    // twice that, and the jump by the sum for both lines.
    const double leak = width / (50.0 * pi);
    QVERIFY2(std::abs(fit.e0 - e0) < 0.1, qPrintable(QString::number(fit.e0 - e0)));
    QVERIFY(std::abs(fit.jump - jump) < 4.0 * leak * jump);
    for (size_t k = 0; k < grid.size(); ++k) {
        const double truth = (mu[k] - pre(grid[k])) / jump;
        QVERIFY(std::abs(normaliser.normalised(fit, k, mu[k]) - truth) < 2.0 * leak);
    }
}

void tst_Xafs::parabolaPeak_data()
{
    QTest::addColumn<QVector<double>>("x");
    QTest::addColumn<double>("vertex");
    QTest::addColumn<double>("expected");
    // y = 5 - (x - vertex)^2 sampled at x.
    QTest::newRow("even spacing, vertex off the middle") << QVector<double>{1, 2, 3} << 2.3 << 2.3;
    QTest::newRow("uneven spacing") << QVector<double>{1, 1.5, 3} << 1.8 << 1.8;
    QTest::newRow("vertex beyond the points is held at the last")
        << QVector<double>{1, 2, 3} << 7.0 << 3.0;
}

void tst_Xafs::parabolaPeak()
{
    QFETCH(QVector<double>, x);
    QFETCH(double, vertex);
    QFETCH(double, expected);
    auto y = [&](double v) { return 5.0 - (v - vertex) * (v - vertex); };
    const double p = XafsNormaliser::parabolaPeak(x[0], y(x[0]), x[1], y(x[1]), x[2], y(x[2]));
    QVERIFY(std::abs(p - expected) < 1e-9);
    // Points that bend up have no maximum: the middle point stands.
    QCOMPARE(XafsNormaliser::parabolaPeak(1, 1, 2, 0, 3, 2), 2.0);
}

void tst_Xafs::smallJumpsAreLeftOut()
{
    const std::vector<double> grid = {1, 2, 3, 4, 5, 6};
    const std::vector<double> small = {0, 0, 0, 0.1, 0.1, 0.1};
    const std::vector<double> falling = {1, 1, 1, 0, 0, 0};
    XafsSettings settings;
    settings.minJump = 0.5;
    const XafsNormaliser strict(grid, settings);
    const XafsFit f = strict.fit(small.data());
    QVERIFY(!f.valid);
    QVERIFY(std::isnan(f.e0));
    QVERIFY(std::isnan(strict.normalised(f, 4, small[4])));
    QVERIFY(std::abs(f.jump - 0.1) < 1e-12);
    // With the default minimum 0 a falling spectrum (negative jump) is left out too.
    const XafsNormaliser lenient(grid, XafsSettings());
    QVERIFY(!lenient.fit(falling.data()).valid);
    QVERIFY(lenient.fit(small.data()).valid);
}

// The stacks are fitted many voxels at a time; every voxel must come out exactly as its
// own fit() gives it, whatever its spectrum holds.
void tst_Xafs::fitManyGivesTheBitsOfFit_data()
{
    QTest::addColumn<double>("fixedE0");
    QTest::addColumn<double>("minJump");
    QTest::addColumn<bool>("nonFinite");
    QTest::newRow("E0 searched") << double(NAN) << 0.0 << false;
    QTest::newRow("E0 fixed") << 7112.5 << 0.0 << false;
    QTest::newRow("minimum jump leaves some out") << double(NAN) << 0.5 << false;
    QTest::newRow("NaN and infinite values") << double(NAN) << 0.0 << true;
}

void tst_Xafs::fitManyGivesTheBitsOfFit()
{
    QFETCH(double, fixedE0);
    QFETCH(double, minJump);
    QFETCH(bool, nonFinite);
    XafsSettings settings;
    settings.fixedE0 = fixedE0;
    settings.minJump = minJump;
    const XafsNormaliser normaliser(energies9, settings);
    // 150 voxels: two full groups of those fitted side by side and a part group.
    const size_t voxels = 150;
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> mu(energies9.size() * voxels);
    for (size_t j = 0; j < voxels; ++j) {
        const double e0 = 7100.0 + 0.2 * double(j % 200);
        const double jump = 0.01 * double(j % 90);
        for (size_t k = 0; k < energies9.size(); ++k)
            mu[k * voxels + j] =
                float(0.2 + jump * (0.5 + std::atan(energies9[k] - e0) / pi)) + noise(random);
    }
    if (nonFinite) {
        mu[3 * voxels + 10] = NAN;
        mu[4 * voxels + 70] = INFINITY;
        mu[0 * voxels + 140] = -INFINITY;
        mu[8 * voxels + 141] = NAN;
    }
    std::vector<XafsFit> many(voxels);
    normaliser.fitMany(mu.data(), voxels, voxels, many.data());
    auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    int valid = 0;
    for (size_t j = 0; j < voxels; ++j) {
        const XafsFit one = normaliser.fit(mu.data() + j, voxels);
        const XafsFit &m = many[j];
        QVERIFY2(same(m.e0, one.e0) && same(m.jump, one.jump) && m.valid == one.valid &&
                     same(m.pre.level, one.pre.level) && same(m.pre.slope, one.pre.slope) &&
                     same(m.post.level, one.post.level) && same(m.post.slope, one.post.slope) &&
                     m.pre.energyRef == one.pre.energyRef,
                 qPrintable(QString("voxel %1").arg(j)));
        valid += one.valid ? 1 : 0;
    }
    // Both kinds of voxel are there to compare.
    QVERIFY(valid > 10 && valid < int(voxels));
}

void tst_Xafs::refusesUnusableGrids_data()
{
    QTest::addColumn<QVector<double>>("grid");
    QTest::addColumn<double>("pre1");
    QTest::addColumn<double>("pre2");
    QTest::newRow("two energies") << QVector<double>{1, 2} << double(NAN) << double(NAN);
    QTest::newRow("energy twice") << QVector<double>{1, 2, 2, 3} << double(NAN) << double(NAN);
    QTest::newRow("pre-edge range holds no energy") << QVector<double>{1, 2, 3, 4} << 10.0 << 20.0;
}

void tst_Xafs::refusesUnusableGrids()
{
    QFETCH(QVector<double>, grid);
    QFETCH(double, pre1);
    QFETCH(double, pre2);
    XafsSettings s;
    s.preEdge1 = pre1;
    s.preEdge2 = pre2;
    const XafsNormaliser n(std::vector<double>(grid.begin(), grid.end()), s);
    QVERIFY(!n.problem().isEmpty());
    const std::vector<double> mu(grid.size(), 1.0);
    QVERIFY(!n.fit(mu.data()).valid);
}

namespace {

// Smooth blobs evaluated at (x - dx, z - dz): the slice moved by (dx, dz).
std::vector<float> blobs(int w, int h, double dx, double dz, double noise = 0.0)
{
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, noise > 0 ? noise : 1.0);
    const double spots[][4] = {{0.35, 0.4, 4.0, 1.0},
                               {0.6, 0.55, 6.0, 0.6},
                               {0.45, 0.65, 2.5, 0.8},
                               {0.55, 0.3, 3.0, -0.4}};
    std::vector<float> v(size_t(w) * h);
    for (int z = 0; z < h; ++z) {
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (const auto &s : spots) {
                const double rx = x - dx - s[0] * w, rz = z - dz - s[1] * h;
                sum += s[3] * std::exp(-(rx * rx + rz * rz) / (2 * s[2] * s[2]));
            }
            v[size_t(z) * w + x] = float(sum + (noise > 0 ? gauss(random) : 0.0));
        }
    }
    return v;
}

} // namespace

void tst_Xafs::recoversSubPixelShifts_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dz");
    QTest::addColumn<double>("noise");
    QTest::newRow("tenths of a pixel") << 0.3 << -0.7 << 0.0;
    QTest::newRow("pixels and a fraction") << 2.45 << 1.15 << 0.0;
    QTest::newRow("one axis only") << -3.8 << 0.0 << 0.0;
    QTest::newRow("with noise") << 1.35 << -2.6 << 0.05;
}

void tst_Xafs::recoversSubPixelShifts()
{
    QFETCH(double, dx);
    QFETCH(double, dz);
    QFETCH(double, noise);
    const int w = 96, h = 80;
    const std::vector<float> reference = blobs(w, h, 0, 0);
    std::vector<float> moved = blobs(w, h, dx, dz, noise);
    XafsRegister registration(w, h);
    QVERIFY(registration.isValid());
    registration.setReference(reference.data());
    double fx = 0, fz = 0;
    registration.shiftOf(moved.data(), &fx, &fz);
    QVERIFY2(std::abs(fx - dx) < 0.1 && std::abs(fz - dz) < 0.1,
             qPrintable(QStringLiteral("%1 %2").arg(fx).arg(fz)));
    // Moved back, the slice lies on the reference again.
    registration.applyShift(moved.data(), -fx, -fz);
    double err = 0.0;
    for (int z = 8; z < h - 8; ++z)
        for (int x = 8; x < w - 8; ++x)
            err = std::max(
                err, std::abs(double(moved[size_t(z) * w + x] - reference[size_t(z) * w + x])));
    QVERIFY2(err < 0.05 + 4 * noise, qPrintable(QString::number(err)));
}

void tst_Xafs::buildsStacksInEveryLayout_data()
{
    QTest::addColumn<bool>("inSub");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::newRow("flat") << false << false << false;
    QTest::newRow("energy sub folders") << true << true << false;
    QTest::newRow("slice sub folders") << true << false << true;
    QTest::newRow("both kinds of sub folder") << true << true << true;
}

void tst_Xafs::buildsStacksInEveryLayout()
{
    QFETCH(bool, inSub);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    results.layout = {inSub, ofEnergy, ofSlice};
    // Written in a scrambled energy order: the stack comes out ordered.
    for (double e : {7120.0, 7090.0, 7150.0, 7100.0, 7135.0, 7105.0, 7125.0, 7115.0, 7110.0})
        QVERIFY(results.write(e, {3, 12}));
    XafsBuilder builder({dir.path(), "smp", inSub, ofEnergy, ofSlice}, XafsSettings());
    QCOMPARE(builder.build(), 2);

    std::vector<XafsPage> mu, norm, jump, e0;
    const QDir out(dir.filePath("xafs"));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-mu-00012.tif"), &mu));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-norm-00012.tif"), &norm));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-jump-00012.tif"), &jump));
    QVERIFY(XafsTiff::readPages(out.filePath("smp-e0-00012.tif"), &e0));
    QVERIFY(QFile::exists(out.filePath("smp-mu-00003.tif")));
    QCOMPARE(mu.size(), energies9.size());
    QCOMPARE(norm.size(), energies9.size());
    for (size_t k = 0; k < mu.size(); ++k) {
        const QJsonObject o = QJsonDocument::fromJson(mu[k].description.toUtf8()).object();
        QCOMPARE(o.value("energy_eV").toDouble(), energies9[k]);
        QCOMPARE(mu[k].x0, 4.0);
        QCOMPARE(mu[k].z0, 6.0);
        for (int z = 0; z < 12; ++z) {
            for (int x = 0; x < 20; ++x) {
                const size_t i = size_t(z) * 20 + x;
                const double truth = Phantom::mu(4 + x, 6 + z, energies9[k]);
                QVERIFY(std::abs(mu[k].values[i] - truth) < 1e-6);
                QVERIFY(std::abs(norm[k].values[i] - Phantom::step(energies9[k])) < 1e-3);
            }
        }
    }
    // Flat lines either side of a sharp step: the jump is the step; the steepest rise
    // lies between 7115 and 7120 eV.
    for (int z = 0; z < 12; ++z) {
        for (int x = 0; x < 20; ++x) {
            const size_t i = size_t(z) * 20 + x;
            QVERIFY(std::abs(jump[0].values[i] - Phantom::absorber(4 + x, 6 + z)) < 1e-6);
            QVERIFY(e0[0].values[i] >= 7115.0f && e0[0].values[i] <= 7120.0f);
        }
    }
    QFile csv(out.filePath("smp-energies.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 2 * int(energies9.size()));
    QCOMPARE(lines[0], QStringLiteral("index,energy_eV,tag,cor,slice,shift_x,shift_z"));
    QCOMPARE(lines[1], QStringLiteral("0,7090,7090_0eV,31.5,00003,0,0"));
    QCOMPARE(lines.last(), QStringLiteral("8,7150,7150_0eV,31.5,00012,0,0"));
}

// One set (7125 eV) saved with another N or region than the others: the rotation axis
// lies at N / 2 of every slice, so its pixels are moved by half the difference of N and
// the stacks cover what every set covers. Slice 5 is missing at 7110 eV.
void tst_Xafs::alignsSetsOnTheirCommonRegion_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QRect>("common"); // null: the build is refused
    QTest::newRow("same N, wider region") << 64 << QRect(4, 6, 22, 12) << QRect(4, 6, 20, 12);
    QTest::newRow("N + 2, same pixels") << 66 << QRect(5, 7, 20, 12) << QRect(4, 6, 20, 12);
    QTest::newRow("N - 4, region shifted") << 60 << QRect(0, 2, 20, 12) << QRect(4, 6, 18, 10);
    QTest::newRow("region outside the others'") << 64 << QRect(40, 40, 20, 12) << QRect();
    QTest::newRow("N differing by an odd count") << 65 << QRect(4, 6, 20, 12) << QRect();
}

void tst_Xafs::alignsSetsOnTheirCommonRegion()
{
    QFETCH(int, n);
    QFETCH(QRect, saved);
    QFETCH(QRect, common);
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    ResultWriter other = results;
    other.n = n;
    const int d = (n - results.n) / 2;
    for (double e : energies9) {
        const QList<int> slices = e == 7110.0 ? QList<int>{2} : QList<int>{2, 5};
        if (e != 7125.0)
            QVERIFY(results.write(e, slices));
        else
            QVERIFY(other.write(e, slices, saved.x(), saved.y(), saved.width(), saved.height(),
                                [e, d](int x, int z) { return Phantom::mu(x - d, z - d, e); }));
    }
    if (common.isNull())
        QTest::ignoreMessage(QtDebugMsg, "XAFS: build refused, sets that can not be used 1");
    XafsBuilder builder({dir.path(), "smp", false, false, false}, XafsSettings());
    QCOMPARE(builder.build(), common.isNull() ? 0 : 1);
    QVERIFY(!QFile::exists(dir.filePath("xafs/smp-mu-00005.tif")));
    if (common.isNull())
        return;
    QCOMPARE(int(builder.sets().size()), int(energies9.size()));
    std::vector<XafsPage> mu;
    QVERIFY(XafsTiff::readPages(dir.filePath("xafs/smp-mu-00002.tif"), &mu));
    QCOMPARE(QRect(int(mu[0].x0), int(mu[0].z0), mu[0].width, mu[0].height), common);
    for (size_t k = 0; k < mu.size(); ++k) {
        for (int z = 0; z < common.height(); ++z)
            for (int x = 0; x < common.width(); ++x)
                QVERIFY(std::abs(mu[k].values[size_t(z) * common.width() + x] -
                                 Phantom::mu(common.x() + x, common.y() + z, energies9[k])) < 1e-6);
    }
}

void tst_Xafs::nothingToBuild()
{
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    // Results of another data name, and sub folders on without a kind chosen.
    results.name = "other";
    for (double e : energies9)
        QVERIFY(results.write(e, {1}));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: fewer than 3 energies"));
    QCOMPARE(XafsBuilder({dir.path(), "smp", false, false, false}, XafsSettings()).build(), 0);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: fewer than 3 energies"));
    QCOMPARE(XafsBuilder({dir.path(), "other", true, false, false}, XafsSettings()).build(), 0);
    QVERIFY(!QFile::exists(dir.filePath("xafs")));
}

void tst_Xafs::registersDriftingEnergies()
{
    // The sample drifts by a known amount per energy; with registration on, every
    // page of the stack lies on the slice at the edge.
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    results.name = "reg";
    const int w = 64, h = 64;
    const double edge = 7112.0;
    const std::vector<double> grid = {7090, 7100, 7108, 7110, 7112, 7114, 7116, 7125, 7140};
    for (size_t k = 0; k < grid.size(); ++k) {
        const double drift = 0.3 * (double(k) - 4.0);
        const std::vector<float> v = blobs(w, h, drift, -0.5 * drift);
        const double contrast = 1.0 + (grid[k] >= edge ? 1.0 : 0.0);
        QVERIFY(results.write(grid[k], {1}, 0, 0, w, h,
                              [&](int x, int z) { return v[size_t(z) * w + x] * contrast; }));
    }
    XafsSettings settings;
    settings.registerEnergies = true;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: built slices"));
    QCOMPARE(XafsBuilder({dir.path(), "reg", false, false, false}, settings).build(), 1);
    QFile csv(dir.filePath("xafs/reg-energies.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + int(grid.size()));
    // The reference is the energy nearest the edge of the mean spectrum (7110 or 7112
    // eV, the rise lies between them); it is not moved, the others are moved onto it.
    int reference = -1;
    for (int k = 1; k <= int(grid.size()); ++k) {
        if (lines[k].endsWith(QLatin1String(",0,0")))
            reference = k - 1;
    }
    QVERIFY(reference == 3 || reference == 4);
    for (size_t k = 0; k < grid.size(); ++k) {
        const QStringList f = lines[int(k) + 1].split(',');
        const double drift = 0.3 * (double(k) - reference);
        QVERIFY2(std::abs(f[5].toDouble() + drift) < 0.1 &&
                     std::abs(f[6].toDouble() - 0.5 * drift) < 0.1,
                 qPrintable(lines[int(k) + 1]));
    }
}

void tst_Xafs::spectrumCsvOfRegion()
{
    QTemporaryDir dir;
    ResultWriter results;
    results.folder = dir.path();
    for (double e : energies9)
        QVERIFY(results.write(e, {7}));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: built slices"));
    QCOMPARE(XafsBuilder({dir.path(), "smp", false, false, false}, XafsSettings()).build(), 1);
    XafsSpectrum spectrum;
    QVERIFY(spectrum.load(dir.filePath("xafs/smp-mu-00007.tif")));
    std::vector<double> mu;
    // Pixels 10 <= x < 12.5 (10, 11, 12) and 8 <= z < 10 (8, 9), region given as reals.
    QCOMPARE(spectrum.meanOver(10.7, 8.2, 12.5, 10.0, &mu), 6);
    // A region reaching outside the stack keeps to its pixels; one wholly outside has none.
    std::vector<double> clipped;
    QCOMPARE(spectrum.meanOver(-5, -5, 5, 7, &clipped), 1);
    QCOMPARE(spectrum.meanOver(100, 100, 120, 120, &clipped), 0);
    const QString path = dir.filePath("spectrum.csv");
    QVERIFY(XafsSpectrum::writeCsv(path, spectrum.energies(), mu, XafsSettings()));
    QFile csv(path);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    // A column reader skips the `#` lines and finds today's columns.
    QStringList lines;
    for (const QString &l : QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts))
        if (!l.startsWith('#'))
            lines << l;
    QCOMPARE(lines.size(), 1 + int(energies9.size()));
    QCOMPARE(lines[0], QStringLiteral("energy_eV,mu,normalised_mu"));
    for (size_t k = 0; k < energies9.size(); ++k) {
        const QStringList f = lines[int(k) + 1].split(',');
        double truth = 0.0;
        for (int z : {8, 9})
            for (int x : {10, 11, 12})
                truth += Phantom::mu(x, z, energies9[k]) / 6.0;
        QCOMPARE(f[0].toDouble(), energies9[k]);
        QVERIFY(std::abs(f[1].toDouble() - truth) < 1e-6);
        QVERIFY(std::abs(f[2].toDouble() - Phantom::step(energies9[k])) < 1e-4);
    }
}

QTEST_GUILESS_MAIN(tst_Xafs)
#include "tst_Xafs.moc"
