#include "ct/CorEstimate.h"
#include "ct/CtFbp.h"
#include "ct/ScanGeometry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

constexpr double pi = 3.141592653589793;

struct Disc
{
    double x, z, r, mu; // centre relative to the axis, radius, attenuation per pixel
};

// Row i of a parallel-beam sinogram of discs at anglesDeg[i]: width samples, the
// axis at sample `axis`; samples past `lastSample` carry garbage, as a detector
// that ends there would leave them.
std::vector<double> sinogramOf(const std::vector<Disc> &discs, const std::vector<double> &anglesDeg,
                               int width, double axis, int lastSample = -1)
{
    std::vector<double> sgm(size_t(width) * anglesDeg.size(), 0.0);
    for (size_t i = 0; i < anglesDeg.size(); ++i) {
        const double theta = anglesDeg[i] * pi / 180.0;
        for (int k = 0; k < width; ++k) {
            double v = 0.0;
            const double t = k - axis;
            for (const Disc &d : discs) {
                const double s = t - (d.x * std::cos(theta) - d.z * std::sin(theta));
                if (std::fabs(s) < d.r)
                    v += 2.0 * d.mu * std::sqrt(d.r * d.r - s * s);
            }
            sgm[i * width + k] = lastSample >= 0 && k > lastSample ? 1e3 : v;
        }
    }
    return sgm;
}

std::vector<double> evenAngles(int count, double range)
{
    std::vector<double> a(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        a[i] = i * range / count;
    return a;
}

// The result over 2P: attenuation per pixel.
std::vector<double> reconstruct(int n, const std::vector<double> &sgm, int count,
                                const CtFbp::Geometry &geometry)
{
    CtFbp fbp;
    fbp.setFilter(CtFilter::Window::Ramp, true);
    if (!fbp.setGeometry(geometry) || !fbp.setup(n, count) ||
        !fbp.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n))
        return {};
    std::vector<double> v(fbp.resultRow(0), fbp.resultRow(0) + size_t(n) * n);
    for (double &x : v)
        x /= 2.0 * count;
    return v;
}

// RMSE of a slice against the discs' attenuation inside radius `within` of the axis.
double rmseInside(const std::vector<double> &slice, int n, const std::vector<Disc> &discs,
                  double within)
{
    double sum = 0.0;
    int count = 0;
    const double c = n / 2.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            if (std::hypot(x - c, z - c) >= within)
                continue;
            double truth = 0.0;
            for (const Disc &d : discs)
                if (std::hypot(x - c - d.x, z - c - d.z) < d.r)
                    truth += d.mu;
            const double e = slice[size_t(z) * n + x] - truth;
            sum += e * e;
            ++count;
        }
    return count ? std::sqrt(sum / count) : NAN;
}

} // namespace

class TestScanGeometry : public QObject
{
    Q_OBJECT
private slots:
    void weightsAgainstClosedForm_data();
    void weightsAgainstClosedForm();
    void angleFile_data();
    void angleFile();
    void evenAnglesGiveTheDefaultSlice_data();
    void evenAnglesGiveTheDefaultSlice();
    void fullTurnOfSymmetricPhantom();
    void halfAcquisitionOfDiscWiderThanDetector();
    void axisFromMirroredPairs_data();
    void axisFromMirroredPairs();
};

void TestScanGeometry::weightsAgainstClosedForm_data()
{
    QTest::addColumn<std::vector<double>>("angles");
    QTest::addColumn<double>("range");
    QTest::addColumn<std::vector<double>>("weights");
    // P times half the gap to the neighbours over the range, neighbours modulo the range.
    QTest::newRow("even 180") << std::vector<double>{0, 45, 90, 135} << 180.0
                              << std::vector<double>{1, 1, 1, 1};
    QTest::newRow("uneven") << std::vector<double>{0, 10, 30, 100} << 180.0
                            << std::vector<double>{4 * 45 / 180.0, 4 * 15 / 180.0, 4 * 45 / 180.0,
                                                   4 * 75 / 180.0};
    QTest::newRow("projection order is not angle order")
        << std::vector<double>{100, 0, 30, 10} << 180.0
        << std::vector<double>{4 * 75 / 180.0, 4 * 45 / 180.0, 4 * 45 / 180.0, 4 * 15 / 180.0};
    // 0 and 180 are one line: together they weigh one step.
    QTest::newRow("repeated end angle")
        << std::vector<double>{0, 60, 120, 180} << 180.0
        << std::vector<double>{4 * 30 / 180.0, 4 * 60 / 180.0, 4 * 60 / 180.0, 4 * 30 / 180.0};
    QTest::newRow("dropped block")
        << std::vector<double>{0, 30, 60, 150} << 180.0
        << std::vector<double>{4 * 30 / 180.0, 4 * 30 / 180.0, 4 * 60 / 180.0, 4 * 60 / 180.0};
    QTest::newRow("full turn, opposite projections each count half")
        << std::vector<double>{0, 90, 180, 270} << 360.0 << std::vector<double>{1, 1, 1, 1};
    QTest::newRow("negative angles")
        << std::vector<double>{-90, 0, 45} << 180.0
        << std::vector<double>{3 * 67.5 / 180.0, 3 * 67.5 / 180.0, 3 * 45 / 180.0};
    QTest::newRow("one projection") << std::vector<double>{17} << 360.0 << std::vector<double>{1};
}

void TestScanGeometry::weightsAgainstClosedForm()
{
    QFETCH(std::vector<double>, angles);
    QFETCH(double, range);
    QFETCH(std::vector<double>, weights);
    const std::vector<double> got = ScanGeometry::weightsOf(angles, range);
    QCOMPARE(got.size(), weights.size());
    for (size_t i = 0; i < got.size(); ++i)
        QVERIFY2(std::fabs(got[i] - weights[i]) < 1e-12, qPrintable(QString::number(i)));
}

void TestScanGeometry::angleFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::vector<double>>("angles");
    QTest::newRow("comments and blank lines")
        << QByteArray("# stage angles\n0\n\n 0.5 # second\n1e0\r\n")
        << std::vector<double>{0, 0.5, 1};
    QTest::newRow("not a number") << QByteArray("0\nten\n") << std::vector<double>{};
    QTest::newRow("not finite") << QByteArray("0\nnan\n") << std::vector<double>{};
    QTest::newRow("two numbers on a line") << QByteArray("0 1\n") << std::vector<double>{};
    QTest::newRow("no angle") << QByteArray("# none\n") << std::vector<double>{};
}

void TestScanGeometry::angleFile()
{
    QFETCH(QByteArray, text);
    QFETCH(std::vector<double>, angles);
    QTemporaryDir dir;
    const QString path = dir.filePath("angles.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    std::vector<double> got;
    QString error;
    QCOMPARE(ScanGeometry::readAngleFile(path, &got, &error), !angles.empty());
    QCOMPARE(got, angles);
    QCOMPARE(error.isEmpty(), !angles.empty());
}

void TestScanGeometry::evenAnglesGiveTheDefaultSlice_data()
{
    QTest::addColumn<bool>("single");
    QTest::newRow("double") << false;
    QTest::newRow("single") << true;
}

// An angle file holding exactly the even angles takes the other path and gives
// the same slice within 1e-9 of its range (float rounding in single precision).
void TestScanGeometry::evenAnglesGiveTheDefaultSlice()
{
    QFETCH(bool, single);
    const int n = 96;
    const int p = 120;
    const std::vector<Disc> discs = {{0, 0, 40, 0.01}, {12, -9, 10, 0.02}, {-20, 15, 6, 0.03}};
    const std::vector<double> sgm = sinogramOf(discs, evenAngles(p, 180), n + 1, n / 2);
    CtFbp plain, given;
    const auto precision = single ? CtFbp::Precision::Single : CtFbp::Precision::Double;
    plain.setPrecision(precision);
    given.setPrecision(precision);
    ScanGeometry geometry = ScanGeometry::fromAngles(evenAngles(p, 180), 180, "angles.txt");
    QVERIFY(given.setGeometry(geometry.forSinogram(p, n + 1, n + 1, n / 2)));
    QVERIFY(plain.setup(n, p) && given.setup(n, p));
    QVERIFY(plain.reconstruct(sgm.data(), n + 1, p, 0, n, 0, n));
    QVERIFY(given.reconstruct(sgm.data(), n + 1, p, 0, n, 0, n));
    plain.calcMinMax();
    const double tolerance = (single ? 1e-5 : 1e-9) * (plain.max() - plain.min());
    double worst = 0.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            worst = std::max(worst, std::fabs(plain.resultAt(x, z) - given.resultAt(x, z)));
    QVERIFY2(worst <= tolerance, qPrintable(QString::number(worst)));
}

// A 360-degree scan of P projections gives the 180-degree slice of P / 2: each
// line is seen twice, each view weighing half.
void TestScanGeometry::fullTurnOfSymmetricPhantom()
{
    const int n = 128;
    const int p = 180;
    const std::vector<Disc> discs = {{0, 0, 50, 0.01}, {20, 0, 12, 0.02}, {-20, 0, 12, 0.02}};
    const ScanGeometry turn = ScanGeometry::fromAngles({}, 360, "even");
    const std::vector<double> full =
        reconstruct(n, sinogramOf(discs, evenAngles(2 * p, 360), n + 1, n / 2), 2 * p,
                    turn.forSinogram(2 * p, n + 1, n + 1, n / 2));
    const std::vector<double> half =
        reconstruct(n, sinogramOf(discs, evenAngles(p, 180), n + 1, n / 2), p, {});
    QVERIFY(!full.empty() && !half.empty());
    const double errorFull = rmseInside(full, n, discs, 55);
    const double errorHalf = rmseInside(half, n, discs, 55);
    double worst = 0.0;
    for (size_t k = 0; k < full.size(); ++k)
        worst += (full[k] - half[k]) * (full[k] - half[k]) / full.size();
    worst = std::sqrt(worst);
    QVERIFY2(worst < 0.1 * errorHalf && errorFull < 1.05 * errorHalf,
             qPrintable(QStringLiteral("%1 %2 %3").arg(worst).arg(errorFull).arg(errorHalf)));
}

// A disc wider than the detector, axis at 0.9 W, over a full turn: the field the
// rotation sweeps is reconstructed, with no ring where the overlap ends.
void TestScanGeometry::halfAcquisitionOfDiscWiderThanDetector()
{
    const int w = 80;
    const double cor = 0.9 * w;
    QVERIFY(ScanGeometry::isHalfAcquisition(360, w, cor));
    QVERIFY(!ScanGeometry::isHalfAcquisition(180, w, cor));
    QVERIFY(!ScanGeometry::isHalfAcquisition(360, w, 0.5 * w));
    const int h = ScanGeometry::halfAcquisitionHalfWidth(w, cor);
    const int width = 2 * h - 1;
    const int n = width - 1;
    QCOMPARE(n, 2 * int(std::ceil(cor)));
    const int p = 360;
    const std::vector<Disc> discs = {{0, 0, 0.84 * w, 0.01}, {25, 10, 12, 0.02}};
    // The detector's last sample lies w - 1 - cor past the axis.
    const double axis = h - 1;
    const std::vector<double> sgm =
        sinogramOf(discs, evenAngles(p, 360), width, axis, int(std::floor(axis + (w - 1 - cor))));
    const ScanGeometry turn = ScanGeometry::fromAngles({}, 360, "even");
    const std::vector<double> slice = reconstruct(n, sgm, p, turn.forSinogram(p, width, w, cor));
    const std::vector<double> wide =
        reconstruct(n, sinogramOf(discs, evenAngles(p / 2, 180), n + 1, n / 2), p / 2, {});
    QVERIFY(!slice.empty() && !wide.empty());
    const double error = rmseInside(slice, n, discs, 0.8 * w);
    const double errorWide = rmseInside(wide, n, discs, 0.8 * w);
    QVERIFY2(error < 1.15 * errorWide,
             qPrintable(QStringLiteral("%1 %2").arg(error).arg(errorWide)));
    // Rings at the overlap's edge show as a step in the mean over circles.
    const double c = n / 2.0;
    const double overlap = w - 1 - cor;
    std::vector<double> ring(size_t(c) + 1, 0.0), count(size_t(c) + 1, 0.0);
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double r = std::hypot(x - c, z - c);
            if (r < c && std::hypot(x - c - 25, z - c - 10) > 14) {
                ring[size_t(r)] += slice[size_t(z) * n + x];
                count[size_t(r)] += 1;
            }
        }
    for (size_t r = 2; r < size_t(0.8 * w); ++r) {
        const double step = ring[r] / count[r] - ring[r - 1] / count[r - 1];
        QVERIFY2(
            std::fabs(step) < 0.05 * 0.01,
            qPrintable(QStringLiteral("radius %1 (overlap %2): %3").arg(r).arg(overlap).arg(step)));
    }
}

void TestScanGeometry::axisFromMirroredPairs_data()
{
    QTest::addColumn<double>("axis");
    QTest::newRow("middle") << 40.3;
    QTest::newRow("half acquisition, right edge") << 72.0;
    QTest::newRow("overlap a tenth of the line") << 75.0;
    QTest::newRow("half acquisition, left edge") << 6.7;
}

// A full turn finds its axis from each projection and its mirror half a turn on,
// also with the axis far off the middle.
void TestScanGeometry::axisFromMirroredPairs()
{
    QFETCH(double, axis);
    const int w = 80;
    const std::vector<Disc> discs = {{0, 0, 70, 0.01}, {25, 10, 12, 0.02}, {-30, -5, 6, 0.04}};
    const std::vector<double> angles = evenAngles(16, 180);
    std::vector<double> turned = angles;
    for (double &a : turned)
        a += 180.0;
    // Detector sample x lies at x - axis.
    const std::vector<double> near = sinogramOf(discs, angles, w, axis);
    const std::vector<double> far = sinogramOf(discs, turned, w, axis);
    std::vector<CorEstimate::Pair> pairs;
    for (size_t i = 0; i < angles.size(); ++i)
        pairs.push_back({std::vector<double>(near.begin() + i * w, near.begin() + (i + 1) * w),
                         std::vector<double>(far.begin() + i * w, far.begin() + (i + 1) * w)});
    const CorEstimate::Result r = CorEstimate::fromMirrorPairs(pairs, w, CorEstimate::wholeLine());
    QVERIFY2(r.ok, qPrintable(r.reason));
    QVERIFY2(std::fabs(r.cor - axis) < 0.25, qPrintable(QString::number(r.cor)));
}

QTEST_GUILESS_MAIN(TestScanGeometry)
#include "tst_ScanGeometry.moc"
