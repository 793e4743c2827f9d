#include "ct/AttenuationScale.h"
#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "ct/RingRemoval.h"
#include "tests/ct/ScanFolder.h"

#include "DemoGenerator.h"

#include <QDataStream>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <random>

// Stripe removal judged by what a user sees: the rings of a scan with detector
// defects, against the same scan without them, and how little a clean scan changes.
class tst_RingRemoval : public QObject
{
    Q_OBJECT

private slots:
    void removesInjectedStripes_data();
    void removesInjectedStripes();
    void windowZeroLeavesSinogramUntouched();
    void findsDeadColumnAndWideStripe();
    void leavesObjectWiderThanTheFieldAlone();

private:
    struct Scan
    {
        QTemporaryDir dir;
        ScanFolder folder;
        DemoGenerator *generator = nullptr;
    };
};

namespace {

DemoSettings settingsOf(const QString &out, int width, int projections, bool noise, bool defects)
{
    DemoSettings s;
    s.outDir = out;
    s.width = width;
    s.height = 1;
    s.projections = projections;
    s.energies = 1;
    s.noise = noise;
    s.defects = defects;
    s.seed = 11;
    s.layout = DemoSettings::Layout::Flat;
    return s;
}

// The sinogram of slice 0 at the scan's CoR.
bool sinogramOf(const QString &out, const DemoSettings &s, HSgm *sgm)
{
    DemoGenerator generator(s);
    ScanFolder folder;
    return generator.generate() && folder.load(out) &&
           genSinogram0(sgm, folder.stack, true, folder.cor(), 0);
}

std::vector<double> reconstruction(const HSgm &sgm, int window)
{
    std::vector<double> rows = sgm.sgm;
    if (window > 0)
        RingRemoval::apply(rows.data(), sgm.width, sgm.height, window);
    const int n = sgm.width / 2 * 2;
    CtFbp fbp;
    if (!fbp.setup(n, sgm.height) ||
        !fbp.reconstruct(rows.data(), sgm.width, sgm.height, 0, n, 0, n))
        return {};
    std::vector<double> out(fbp.resultRow(0), fbp.resultRow(0) + size_t(n) * n);
    for (double &v : out)
        v = attenuationPerPixel(v, sgm.height);
    return out;
}

// RMS of a - b over the disc of radius 0.95 N/2, where the object is.
double rmsOverDisc(const std::vector<double> &a, const std::vector<double> &b, int n)
{
    double sum = 0.0;
    long count = 0;
    const double c = n / 2.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            if (std::hypot(x - c, z - c) < 0.95 * c) {
                const double d = a[size_t(z) * n + x] - b[size_t(z) * n + x];
                sum += d * d;
                ++count;
            }
    return count > 0 ? std::sqrt(sum / count) : std::nan("");
}

std::vector<double> truthOf(const QString &out, int n)
{
    QFile file(QDir(out).filePath(QStringLiteral("truth")));
    const QStringList raws = QDir(QDir(out).filePath(QStringLiteral("truth")))
                                 .entryList({QStringLiteral("*.raw")}, QDir::Files);
    if (raws.isEmpty())
        return {};
    QFile raw(QDir(out).filePath(QStringLiteral("truth/") + raws.first()));
    if (!raw.open(QIODevice::ReadOnly))
        return {};
    QDataStream stream(&raw);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::DoublePrecision);
    std::vector<double> truth(size_t(n) * n);
    for (double &v : truth)
        stream >> v;
    return stream.status() == QDataStream::Ok ? truth : std::vector<double>{};
}

} // namespace

void tst_RingRemoval::removesInjectedStripes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("projections");
    QTest::addColumn<int>("window");
    QTest::newRow("512 wide, 360 projections, window 21") << 512 << 360 << 21;
    QTest::newRow("512 wide, 180 projections, window 31") << 512 << 180 << 31;
}

void tst_RingRemoval::removesInjectedStripes()
{
    QFETCH(int, width);
    QFETCH(int, projections);
    QFETCH(int, window);
    QTemporaryDir cleanDir, defectDir, exactDir;
    HSgm clean, defect, exact;
    QVERIFY(sinogramOf(cleanDir.path(),
                       settingsOf(cleanDir.path(), width, projections, true, false), &clean));
    QVERIFY(sinogramOf(defectDir.path(),
                       settingsOf(defectDir.path(), width, projections, true, true), &defect));
    QVERIFY(sinogramOf(exactDir.path(),
                       settingsOf(exactDir.path(), width, projections, false, false), &exact));
    const int n = clean.width / 2 * 2;

    const std::vector<double> reference = reconstruction(clean, 0);
    const double ringsOff = rmsOverDisc(reconstruction(defect, 0), reference, n);
    const double ringsOn = rmsOverDisc(reconstruction(defect, window), reference, n);
    const std::vector<double> truth = truthOf(exactDir.path(), n);
    QVERIFY(!truth.empty());
    const double exactError = rmsOverDisc(reconstruction(exact, 0), truth, n);
    const double cleanChange = rmsOverDisc(reconstruction(clean, window), reference, n);
    qInfo("ring residual %.3g -> %.3g (%.1fx less); clean scan changed by %.3g = %.1f %% of the "
          "noise-free error %.3g",
          ringsOff, ringsOn, ringsOff / ringsOn, cleanChange, 100.0 * cleanChange / exactError,
          exactError);
    QVERIFY2(ringsOn * 5.0 < ringsOff, qPrintable(QString::number(ringsOff / ringsOn)));
    QVERIFY2(cleanChange < 0.1 * exactError, qPrintable(QString::number(cleanChange / exactError)));
}

void tst_RingRemoval::windowZeroLeavesSinogramUntouched()
{
    std::vector<double> sgm(64 * 20);
    for (size_t k = 0; k < sgm.size(); ++k)
        sgm[k] = std::sin(0.37 * double(k)) + (k % 64 == 30 ? 0.5 : 0.0);
    const std::vector<double> before = sgm;
    RingRemoval::apply(sgm.data(), 64, 20, 0);
    QVERIFY(std::memcmp(before.data(), sgm.data(), sgm.size() * sizeof(double)) == 0);
}

void tst_RingRemoval::findsDeadColumnAndWideStripe()
{
    QTemporaryDir dir;
    HSgm defect;
    const DemoSettings s = settingsOf(dir.path(), 256, 120, true, true);
    QVERIFY(sinogramOf(dir.path(), s, &defect));
    // Sinogram sample k is detector column k + cor - (halfWidth - 1).
    const int shift = int(std::floor(s.corOrDefault())) - (DemoGenerator(s).halfWidth() - 1);
    const RingRemoval::Report r =
        RingRemoval::apply(defect.sgm.data(), defect.width, defect.height, 21);
    const auto has = [](const std::vector<int> &v, int column) {
        return std::find(v.begin(), v.end(), column) != v.end();
    };
    const int dead = int(0.52 * 256) - shift;
    QVERIFY2(has(r.deadColumns, dead) || has(r.largeStripeColumns, dead),
             qPrintable(QString::number(dead)));
    // The stripe's 4 columns, each resampled from two detector pixels: its inner ones.
    const int stripe = int(0.72 * 256) - shift;
    int found = 0;
    for (int j = stripe; j < stripe + 4; ++j)
        found += has(r.largeStripeColumns, j);
    QVERIFY2(found >= 3, qPrintable(QString::number(found)));
}

// A sample wider than the field of view slopes steeply at both ends of every
// sinogram; without stripes, removal must leave such a scan as it is.
void tst_RingRemoval::leavesObjectWiderThanTheFieldAlone()
{
    const int width = 192;
    const int rows = 180;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.003);
    std::vector<double> sgm(size_t(width) * rows);
    const double c = (width - 1) / 2.0;
    for (int i = 0; i < rows; ++i) {
        const double orbit = 30.0 * std::cos(i * M_PI / rows - 0.4);
        for (int j = 0; j < width; ++j) {
            const double t = j - c;
            const double u = t - orbit;
            sgm[size_t(i) * width + j] = 0.02 * std::sqrt(110.0 * 110.0 - t * t) +
                                         0.005 * std::sqrt(std::max(0.0, 15.0 * 15.0 - u * u)) +
                                         noise(random);
        }
    }
    const std::vector<double> before = sgm;
    RingRemoval::apply(sgm.data(), width, rows, 21);
    // The RMS over the columns of each column's mean change.
    double sum = 0.0;
    for (int j = 0; j < width; ++j) {
        double d = 0.0;
        for (int i = 0; i < rows; ++i)
            d += sgm[size_t(i) * width + j] - before[size_t(i) * width + j];
        sum += (d / rows) * (d / rows);
    }
    const double change = std::sqrt(sum / width);
    QVERIFY2(change < 0.001, qPrintable(QString::number(change)));
}

QTEST_GUILESS_MAIN(tst_RingRemoval)
#include "tst_RingRemoval.moc"
