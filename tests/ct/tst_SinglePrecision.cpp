#include "ct/CtFbp.h"

#include <QCryptographicHash>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const double pi = 3.141592653589793;

// The sinogram of a few discs (centre x, centre z, radius, attenuation), P rows
// of N + 1 samples, in the back projection's own geometry. A wide object reaches
// past the reconstruction circle, as a measured sample usually does.
std::vector<double> discsSinogram(int n, int count, bool wide = false)
{
    const double discs[][4] = {{0.5, 0.5, wide ? 0.8 : 0.42, 1.0},
                               {0.38, 0.55, 0.12, 2.5},
                               {0.62, 0.40, 0.08, -0.6},
                               {0.52, 0.68, 0.05, 4.0}};
    const int width = n + 1;
    const double c = n * 0.5;
    std::vector<double> sgm(size_t(width) * count, 0.0);
    for (int i = 0; i < count; ++i) {
        const double theta = i * pi / count;
        for (const auto &d : discs) {
            const double x = d[0] * n - c;
            const double z = d[1] * n - c;
            const double r = d[2] * n;
            const double centre = x * std::cos(theta) - z * std::sin(theta) + c;
            for (int k = 0; k < width; ++k) {
                const double s = k - centre;
                if (std::fabs(s) < r)
                    sgm[size_t(i) * width + k] += d[3] * 2.0 * std::sqrt(r * r - s * s);
            }
        }
    }
    return sgm;
}

std::vector<CtFbp::Simd> simdLevels()
{
    std::vector<CtFbp::Simd> levels;
    for (const auto level : {CtFbp::Simd::Scalar, CtFbp::Simd::Avx2, CtFbp::Simd::Avx512})
        if (CtFbp::simdSupported(level))
            levels.push_back(level);
    return levels;
}

struct SimdReset
{
    ~SimdReset() { CtFbp::setSimd(CtFbp::Simd::Auto); }
};

std::vector<double> slice(const CtFbp &fbp)
{
    const int n = fbp.resultSize();
    std::vector<double> values(size_t(n) * n);
    fbp.copyResult(values.data());
    return values;
}

QByteArray sha1(const std::vector<double> &values)
{
    return QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char *>(values.data()),
                                                   qsizetype(values.size() * sizeof(double))),
                                    QCryptographicHash::Sha1)
        .toHex();
}

// The filter settings of the rows below by name.
struct Filter
{
    CtFilter::Window window;
    bool padded;
};

} // namespace

class tst_SinglePrecision : public QObject
{
    Q_OBJECT

private slots:
    void doubleKeepsItsBits_data();
    void doubleKeepsItsBits();
    void singleCloseToDouble_data();
    void singleCloseToDouble();
    void singleSameBitsForAnySliceGroup();
    void floatSinogramSameBits_data();
    void floatSinogramSameBits();
    void precisionNames();
};

void tst_SinglePrecision::doubleKeepsItsBits_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<bool>("padded");
    QTest::addColumn<QByteArray>("digest");
    // Taken with the program before it had a single-precision path.
    QTest::newRow("ramp") << int(CtFilter::Window::Ramp) << false
                          << QByteArray("fbf6eb577e408fbadf3d5091773be76a0cba4a69");
    QTest::newRow("hann, padded") << int(CtFilter::Window::Hann) << true
                                  << QByteArray("c88790c88c34a46eb297a6c46b4104e80c2e3951");
}

// The default and a core set back to double after single give the double
// path's bytes, on every instruction set.
void tst_SinglePrecision::doubleKeepsItsBits()
{
    QFETCH(int, window);
    QFETCH(bool, padded);
    QFETCH(QByteArray, digest);
    const int n = 96;
    const int count = 120;
    const std::vector<double> sgm = discsSinogram(n, count);
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        CtFbp fresh;
        QVERIFY(fresh.setFilter(CtFilter::Window(window), padded));
        QVERIFY(fresh.setup(n, count));
        QVERIFY(fresh.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n));
        QCOMPARE(sha1(slice(fresh)), digest);
        CtFbp switched;
        QVERIFY(switched.setFilter(CtFilter::Window(window), padded));
        QVERIFY(switched.setPrecision(CtFbp::Precision::Single));
        QVERIFY(switched.setup(n, count));
        QVERIFY(switched.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n));
        QVERIFY(switched.setPrecision(CtFbp::Precision::Double));
        QVERIFY(switched.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n));
        QCOMPARE(sha1(slice(switched)), digest);
    }
}

void tst_SinglePrecision::singleCloseToDouble_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("window");
    QTest::addColumn<bool>("padded");
    QTest::addColumn<bool>("stepwise");
    QTest::addColumn<bool>("wide");
    QTest::newRow("256 x 360, ramp")
        << 256 << 360 << int(CtFilter::Window::Ramp) << false << false << false;
    QTest::newRow("588 x 181, object wider than the circle")
        << 588 << 181 << int(CtFilter::Window::Ramp) << false << false << true;
    QTest::newRow("256 x 360, shepp-logan padded")
        << 256 << 360 << int(CtFilter::Window::SheppLogan) << true << false << false;
    QTest::newRow("200 x 1800, hamming padded (steps near 0 degrees fall back)")
        << 200 << 1800 << int(CtFilter::Window::Hamming) << true << false << true;
    QTest::newRow("odd N 101 x 90, cosine")
        << 101 << 90 << int(CtFilter::Window::Cosine) << false << false << false;
    QTest::newRow("stepwise, as CT1, hann")
        << 128 << 180 << int(CtFilter::Window::Hann) << true << true << true;
}

// Every slice in single precision lies within 1e-5 of the double slice's range,
// on each instruction set.
void tst_SinglePrecision::singleCloseToDouble()
{
    QFETCH(int, n);
    QFETCH(int, count);
    QFETCH(int, window);
    QFETCH(bool, padded);
    QFETCH(bool, stepwise);
    QFETCH(bool, wide);
    const std::vector<double> sgm = discsSinogram(n, count, wide);
    CtFbp exact;
    QVERIFY(exact.setFilter(CtFilter::Window(window), padded));
    QVERIFY(exact.setup(n, count));
    QVERIFY(exact.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n));
    const std::vector<double> reference = slice(exact);
    const auto [lo, hi] = std::minmax_element(reference.cbegin(), reference.cend());
    const double range = *hi - *lo;
    QVERIFY(range > 0.0);
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        CtFbp single;
        QVERIFY(single.setFilter(CtFilter::Window(window), padded));
        QVERIFY(single.setPrecision(CtFbp::Precision::Single));
        QVERIFY(single.setup(n, count));
        if (stepwise) {
            // Half the projections one by one, then all at once: both follow the setting.
            single.initResult(n);
            for (int i = 0; i < count; ++i) {
                single.fftRow(sgm.data() + size_t(i) * (n + 1), i);
                single.filterRow(i);
                single.backProject(i, 0, n, 0, n);
            }
        } else {
            QVERIFY(single.reconstruct(sgm.data(), n + 1, count, 0, n, 0, n));
        }
        const std::vector<double> got = slice(single);
        double worst = 0.0;
        for (size_t k = 0; k < got.size(); ++k)
            worst = std::max(worst, std::fabs(got[k] - reference[k]));
        // Written so that a NaN fails.
        QVERIFY2(worst <= 1e-5 * range, qPrintable(QStringLiteral("%1: worst %2 of range %3")
                                                       .arg(CtFbp::simdName(level))
                                                       .arg(worst)
                                                       .arg(range)));
        QVERIFY(got != reference);
    }
}

// Slices reconstructed alone and in groups of four (as one engine with several
// slices per pass, or several engines with one each) get the same bits.
void tst_SinglePrecision::singleSameBitsForAnySliceGroup()
{
    const int n = 130;
    const int count = 150;
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        std::vector<std::unique_ptr<CtFbp>> cores;
        std::vector<CtFbp *> group;
        std::vector<std::vector<double>> sinograms;
        for (int s = 0; s < 5; ++s) {
            sinograms.push_back(discsSinogram(n, count));
            for (double &v : sinograms.back())
                v *= 1.0 + 0.1 * s;
            cores.push_back(std::make_unique<CtFbp>());
            QVERIFY(cores.back()->setPrecision(CtFbp::Precision::Single));
            QVERIFY(cores.back()->setup(n, count));
            QVERIFY(cores.back()->filterSinogram(sinograms.back().data(), n + 1, count));
            group.push_back(cores.back().get());
        }
        CtFbp::backProjectAll(group.data(), int(group.size()), 2.5, n - 3, 1, n);
        for (int s = 0; s < 5; ++s) {
            CtFbp alone;
            QVERIFY(alone.setPrecision(CtFbp::Precision::Single));
            QVERIFY(alone.setup(n, count));
            QVERIFY(alone.reconstruct(sinograms[s].data(), n + 1, count, 2.5, n - 3, 1, n));
            QVERIFY2(slice(alone) == slice(*cores[s]),
                     qPrintable(QStringLiteral("%1, slice %2").arg(CtFbp::simdName(level)).arg(s)));
        }
    }
}

void tst_SinglePrecision::floatSinogramSameBits_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<bool>("padded");
    QTest::newRow("ramp") << int(CtFilter::Window::Ramp) << false;
    QTest::newRow("hann, padded") << int(CtFilter::Window::Hann) << true;
}

// A sinogram kept in float, as single-precision engines keep theirs, gives the
// slice of the double sinogram bit for bit; the result is kept in float.
void tst_SinglePrecision::floatSinogramSameBits()
{
    QFETCH(int, window);
    QFETCH(bool, padded);
    const int n = 90;
    const int count = 100;
    const std::vector<double> sgm = discsSinogram(n, count, true);
    const std::vector<float> rounded(sgm.cbegin(), sgm.cend());
    CtFbp fromDouble, fromFloat;
    for (CtFbp *core : {&fromDouble, &fromFloat})
        QVERIFY(core->setFilter(CtFilter::Window(window), padded) &&
                core->setPrecision(CtFbp::Precision::Single) && core->setup(n, count));
    QVERIFY(fromDouble.reconstruct(sgm.data(), n + 1, count, 1, n, 0, n - 2));
    QVERIFY(fromFloat.reconstruct(rounded.data(), n + 1, count, 1, n, 0, n - 2));
    QVERIFY(fromFloat.resultIsSingle() && !fromFloat.resultRow(0));
    QVERIFY(slice(fromFloat) == slice(fromDouble));
}

void tst_SinglePrecision::precisionNames()
{
    CtFbp::Precision value = CtFbp::Precision::Double;
    QVERIFY(CtFbp::precisionOf("single", &value));
    QCOMPARE(value, CtFbp::Precision::Single);
    QVERIFY(CtFbp::precisionOf("double", &value));
    QCOMPARE(value, CtFbp::Precision::Double);
    for (const char *bad : {"float", "Single", "", "double "})
        QVERIFY(!CtFbp::precisionOf(bad, &value));
    QCOMPARE(CtFbp::nameOf(CtFbp::Precision::Single), QStringLiteral("single"));
}

QTEST_GUILESS_MAIN(tst_SinglePrecision)
#include "tst_SinglePrecision.moc"
