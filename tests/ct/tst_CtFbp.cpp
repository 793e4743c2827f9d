#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "imgdata/ImgDatas.h"
#include "tests/imgdata/ItexWriter.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

const double pi = 3.141592653589793;

// What projection i adds to pixel (x, z): the filtered row linearly interpolated
// at t = (x - c) cos(i pi / P) - (z - c) sin(i pi / P) + c, 0 outside the circle.
double expectedTerm(const CtFbp &fbp, int i, int x, int z)
{
    const int N = fbp.n();
    const double c = N / 2.0;
    if (!(std::hypot(x - c, z - c) < c))
        return 0.0;
    const double theta = i * pi / fbp.count();
    const double t = (x - c) * std::cos(theta) - (z - c) * std::sin(theta) + c;
    const int k = int(std::floor(t));
    if (k < 0 || k >= N - 1)
        return 0.0;
    const double *f = fbp.filteredRow(i);
    return f[k] + (t - k) * (f[k + 1] - f[k]);
}

std::vector<double> randomRows(int width, int rows, quint32 seed)
{
    QRandomGenerator rng(seed);
    std::vector<double> v(size_t(width) * rows);
    for (double &x : v)
        x = rng.generateDouble() * 2.0 - 0.5;
    return v;
}

// The instruction sets of the fast back projection this processor has.
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

// The largest difference of two n x n slices, and their largest absolute value.
std::pair<double, double> difference(const CtFbp &a, const CtFbp &b, int n)
{
    double largest = 0.0;
    double worst = 0.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            largest = std::max(largest, std::fabs(a.resultRow(z)[x]));
            worst = std::max(worst, std::fabs(b.resultRow(z)[x] - a.resultRow(z)[x]));
        }
    return {worst, largest};
}

} // namespace

class tst_CtFbp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void setupSizes_data();
    void setupSizes();
    void rampWeights_data();
    void rampWeights();
    void projectionAngle_data();
    void projectionAngle();
    void circleAndRegion_data();
    void circleAndRegion();
    void fastEqualsReference_data();
    void fastEqualsReference();
    void fastEqualsReferenceSizes_data();
    void fastEqualsReferenceSizes();
    void multiSliceEqualsReference_data();
    void multiSliceEqualsReference();
    void reconstructMatchesStepwiseBitForBit_data();
    void reconstructMatchesStepwiseBitForBit();
    void minMax();

private:
    QTemporaryDir dir;
};

void tst_CtFbp::setupSizes_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ok");
    QTest::newRow("N 58, P 1") << 58 << 1 << true;
    QTest::newRow("smallest N") << 2 << 3 << true;
    QTest::newRow("N 1 has no ramp filter") << 1 << 3 << false;
    QTest::newRow("N 0") << 0 << 3 << false;
    QTest::newRow("N negative") << -4 << 3 << false;
    QTest::newRow("no projections") << 16 << 0 << false;
}

void tst_CtFbp::setupSizes()
{
    QFETCH(int, n);
    QFETCH(int, count);
    QFETCH(bool, ok);
    TestSupport::MessageLog log;
    CtFbp fbp;
    QVERIFY(fbp.setup(8, 2));
    QCOMPARE(fbp.setup(n, count), ok);
    QCOMPARE(fbp.n(), ok ? n : 0);
    // Calls on an unusable core do nothing rather than touch missing buffers.
    const std::vector<double> row(size_t(std::max(n, 1)) + 1, 1.0);
    fbp.initResult(std::max(n, 0));
    fbp.fftRow(row.data(), 0);
    fbp.filterRow(0);
    fbp.backProject(0, 0, n, 0, n);
    fbp.fftRow(row.data(), count);
    fbp.filterRow(-1);
    fbp.backProject(count, 0, n, 0, n);
    QCOMPARE(fbp.resultValid(), ok);
    QCOMPARE(fbp.reconstruct(row.data(), int(row.size()), count > 0 ? 1 : 0, 0, n, 0, n),
             ok && count == 1);
}

void tst_CtFbp::rampWeights_data()
{
    QTest::addColumn<int>("bin");
    QTest::addColumn<double>("weight");
    // W = 59 gives N = 58; the centre bin 29 gets weight 29, bin 57 weight 1.
    QTest::newRow("DC is removed") << 0 << 0.0;
    QTest::newRow("bin 1") << 1 << 1.0;
    QTest::newRow("bin 5") << 5 << 5.0;
    QTest::newRow("bin 29, N/2") << 29 << 29.0;
    QTest::newRow("bin 57, N - 1") << 57 << 1.0;
}

void tst_CtFbp::rampWeights()
{
    QFETCH(int, bin);
    QFETCH(double, weight);
    const int W = 59;
    const int N = W / 2 * 2;
    QCOMPARE(N, 58);
    std::vector<double> row(W);
    for (int k = 0; k < N; ++k)
        row[k] = std::cos(2.0 * pi * bin * k / N);
    // The last sample of the sinogram row is not part of the transform.
    row[N] = 1e6;
    CtFbp fbp;
    QVERIFY(fbp.setup(N, 1));
    fbp.fftRow(row.data(), 0);
    fbp.filterRow(0);
    const double b = 2.0 * pi / N;
    for (int k = 0; k < N; ++k) {
        const double expected = weight * b * row[k];
        const double got = fbp.filteredRow(0)[k];
        QVERIFY2(!(std::fabs(got - expected) > 1e-12),
                 qPrintable(QStringLiteral("k %1: %2 vs %3").arg(k).arg(got).arg(expected)));
    }
}

void tst_CtFbp::projectionAngle_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::newRow("first projection at 0") << 180 << 0;
    QTest::newRow("P 180, projection 90 at 90 degrees") << 180 << 90;
    QTest::newRow("P 180, projection 179 at 179 degrees") << 180 << 179;
    QTest::newRow("P 4, projection 1 at 45 degrees") << 4 << 1;
    QTest::newRow("P 7, projection 6") << 7 << 6;
}

void tst_CtFbp::projectionAngle()
{
    QFETCH(int, count);
    QFETCH(int, index);
    const int N = 16;
    const std::vector<double> rows = randomRows(N + 1, count, 11);
    CtFbp fbp;
    QVERIFY(fbp.setup(N, count));
    fbp.initResult(N);
    for (int i = 0; i < count; ++i)
        fbp.fftRow(rows.data() + size_t(i) * (N + 1), i);
    for (int i = 0; i < count; ++i)
        fbp.filterRow(i);
    fbp.backProject(index, 0, N, 0, N);
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x)
            QCOMPARE(fbp.resultRow(z)[x], expectedTerm(fbp, index, x, z));
    const double *f = fbp.filteredRow(index);
    if (index == 0) // t = x: the filtered sample itself
        QCOMPARE(fbp.resultRow(8)[5], f[5]);
    if (count == 180 && index == 90) // t = c - (z - c)
        QCOMPARE(fbp.resultRow(6)[11], f[10]);
}

void tst_CtFbp::circleAndRegion_data()
{
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("z0");
    QTest::addColumn<double>("z1");
    QTest::addColumn<int>("computed");
    const double inf = std::numeric_limits<double>::infinity();
    // N = 16, c = 8: the pixels strictly inside the circle of radius 8.
    int inside = 0;
    for (int z = 0; z < 16; ++z)
        for (int x = 0; x < 16; ++x)
            inside += std::hypot(x - 8.0, z - 8.0) < 8.0;
    QTest::newRow("whole image") << 0.0 << 16.0 << 0.0 << 16.0 << inside;
    QTest::newRow("huge bounds") << -1e300 << 1e300 << -1e10 << 1e10 << inside;
    QTest::newRow("infinite bounds") << -inf << inf << -inf << inf << inside;
    QTest::newRow("region outside the circle") << 0.0 << 2.5 << 0.0 << 2.5 << 0;
    QTest::newRow("fractional bounds: x 3 .. 4, z 7") << 3.9 << 4.2 << 7.5 << 7.6 << 2;
    QTest::newRow("nan bound") << std::nan("") << 16.0 << 0.0 << 16.0 << 0;
    QTest::newRow("empty, x1 below x0") << 9.0 << 3.0 << 0.0 << 16.0 << 0;
}

void tst_CtFbp::circleAndRegion()
{
    QFETCH(double, x0);
    QFETCH(double, x1);
    QFETCH(double, z0);
    QFETCH(double, z1);
    QFETCH(int, computed);
    const int N = 16;
    const int P = 3;
    // A constant sinogram filters to a row without zeros in the middle.
    std::vector<double> rows = randomRows(N + 1, P, 5);
    CtFbp ref;
    CtFbp fast;
    QVERIFY(ref.setup(N, P));
    QVERIFY(fast.setup(N, P));
    ref.initResult(N);
    for (int i = 0; i < P; ++i)
        ref.fftRow(rows.data() + size_t(i) * (N + 1), i);
    for (int i = 0; i < P; ++i)
        ref.filterRow(i);
    for (int i = 0; i < P; ++i)
        ref.backProject(i, x0, x1, z0, z1);
    QVERIFY(fast.reconstruct(rows.data(), N + 1, P, x0, x1, z0, z1));
    int nonZero = 0;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x) {
            nonZero += ref.resultRow(z)[x] != 0.0;
            QCOMPARE(fast.resultRow(z)[x], ref.resultRow(z)[x]);
        }
    QCOMPARE(nonZero, computed);
    // The circle edge: distance exactly 8 is outside, 7 inside.
    if (computed > 100) {
        QCOMPARE(ref.resultRow(8)[0], 0.0);
        QCOMPARE(ref.resultRow(0)[8], 0.0);
        QVERIFY(ref.resultRow(8)[1] != 0.0);
        QVERIFY(ref.resultRow(8)[15] != 0.0);
    }
}

void tst_CtFbp::fastEqualsReference_data()
{
    QTest::addColumn<bool>("rotAxIsV");
    QTest::addColumn<double>("cor");
    QTest::addColumn<QRectF>("region"); // x0, z0, x1 - x0, z1 - z0
    const QRectF all(-5, -5, 1e4, 1e4);
    QTest::newRow("axis vertical, CoR 14.5") << true << 14.5 << all;
    QTest::newRow("axis vertical, CoR 13.25") << true << 13.25 << all;
    QTest::newRow("axis vertical, CoR 17.75") << true << 17.75 << all;
    QTest::newRow("axis horizontal, CoR 12.5") << false << 12.5 << all;
    QTest::newRow("axis horizontal, CoR 15.0") << false << 15.0 << all;
    QTest::newRow("axis horizontal, CoR 11.75") << false << 11.75 << all;
    QTest::newRow("part region") << true << 14.5 << QRectF(3.5, 6.2, 9.1, 4.4);
}

void tst_CtFbp::fastEqualsReference()
{
    QFETCH(bool, rotAxIsV);
    QFETCH(double, cor);
    QFETCH(QRectF, region);
    // 31 x 29 frames, 37 projections of random intensities, with I0 and BG.
    const int w = 31;
    const int h = 29;
    const int P = 37;
    ImgDatas stack;
    QRandomGenerator rng(42);
    for (int i = 0; i < P; ++i) {
        std::vector<double> v(size_t(w * h));
        for (double &x : v)
            x = 200 + rng.bounded(3000);
        const QString file = dir.filePath(QStringLiteral("p%1.img").arg(i));
        QVERIFY(ItexWriter::write(file, w, h, 2, v));
        QVERIFY(stack.addFile(file));
    }
    HSgm sgm;
    QVERIFY(genSinogram0(&sgm, stack, rotAxIsV, cor, 7));
    const int N = sgm.width / 2 * 2;
    CtFbp ref;
    CtFbp fast;
    QVERIFY(ref.setup(N, P));
    QVERIFY(fast.setup(N, P));
    const double x0 = region.left();
    const double x1 = region.right();
    const double z0 = region.top();
    const double z1 = region.bottom();
    ref.initResult(N);
    for (int i = 0; i < P; ++i)
        ref.fftRow(sgm.sgmRow(i), i);
    for (int i = 0; i < P; ++i)
        ref.filterRow(i);
    for (int i = 0; i < P; ++i)
        ref.backProject(i, x0, x1, z0, z1);
    // Every instruction set gives the reference sums bit for bit, which is
    // stricter than the 1e-9 of the largest value users are promised.
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        QVERIFY(fast.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, x0, x1, z0, z1));
        const auto [worst, largest] = difference(ref, fast, N);
        QVERIFY(largest > 0.0);
        QVERIFY2(worst == 0.0, qPrintable(QStringLiteral("%1: worst %2 of %3")
                                              .arg(CtFbp::simdName(level))
                                              .arg(worst)
                                              .arg(largest)));
    }
}

void tst_CtFbp::fastEqualsReferenceSizes_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("count");
    QTest::newRow("N 64, P 45") << 64 << 45;
    QTest::newRow("N 130, P 90") << 130 << 90;
    // Many angles within a few thousandths of 0 and pi, where eight pixels of a
    // row span almost eight samples.
    QTest::newRow("N 96, P 2000") << 96 << 2000;
    QTest::newRow("N 15 (odd), P 6") << 15 << 6;
    QTest::newRow("N 2, P 1") << 2 << 1;
}

void tst_CtFbp::fastEqualsReferenceSizes()
{
    QFETCH(int, n);
    QFETCH(int, count);
    const std::vector<double> rows = randomRows(n + 1, count, 77);
    CtFbp ref;
    CtFbp fast;
    QVERIFY(ref.setup(n, count));
    QVERIFY(fast.setup(n, count));
    ref.initResult(n);
    for (int i = 0; i < count; ++i)
        ref.fftRow(rows.data() + size_t(i) * (n + 1), i);
    for (int i = 0; i < count; ++i)
        ref.filterRow(i);
    for (int i = 0; i < count; ++i)
        ref.backProject(i, 0, n, 0, n);
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        QVERIFY(fast.reconstruct(rows.data(), n + 1, count, 0, n, 0, n));
        const auto [worst, largest] = difference(ref, fast, n);
        QVERIFY2(worst == 0.0, qPrintable(QStringLiteral("%1: worst %2 of %3")
                                              .arg(CtFbp::simdName(level))
                                              .arg(worst)
                                              .arg(largest)));
    }
}

void tst_CtFbp::multiSliceEqualsReference_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("slices");
    QTest::addColumn<QRectF>("region"); // x0, z0, x1 - x0, z1 - z0
    QTest::addColumn<int>("otherN");    // a core of this N joins the group, 0 for none
    const QRectF all(0, 0, 1e4, 1e4);
    QTest::newRow("2 slices, N 64, P 45") << 64 << 45 << 2 << all << 0;
    QTest::newRow("3 slices, N 15 (odd), P 6") << 15 << 6 << 3 << all << 0;
    QTest::newRow("4 slices, N 130, P 90") << 130 << 90 << 4 << all << 0;
    // Near 0 and pi eight pixels of a row span almost eight samples.
    QTest::newRow("4 slices, N 96, P 720") << 96 << 720 << 4 << all << 0;
    QTest::newRow("6 slices (4 + 2), N 40, P 33") << 40 << 33 << 6 << all << 0;
    QTest::newRow("3 slices, part region") << 64 << 45 << 3 << QRectF(3.5, 6.2, 40.1, 21.4) << 0;
    QTest::newRow("3 slices and one of other N") << 48 << 20 << 3 << all << 32;
}

// Slices back-projected together get what each gets alone from the
// straightforward loop, bit for bit, with every instruction set.
void tst_CtFbp::multiSliceEqualsReference()
{
    QFETCH(int, n);
    QFETCH(int, count);
    QFETCH(int, slices);
    QFETCH(QRectF, region);
    QFETCH(int, otherN);
    const double x0 = region.left();
    const double x1 = region.right();
    const double z0 = region.top();
    const double z1 = region.bottom();
    std::vector<std::unique_ptr<CtFbp>> refs;
    std::vector<std::unique_ptr<CtFbp>> fast;
    std::vector<std::vector<double>> sinograms;
    for (int s = 0; s <= slices; ++s) {
        const int sn = s == slices ? otherN : n;
        if (sn == 0)
            break;
        sinograms.push_back(randomRows(sn + 1, count, 100 + s));
        refs.push_back(std::make_unique<CtFbp>());
        fast.push_back(std::make_unique<CtFbp>());
        CtFbp &ref = *refs.back();
        QVERIFY(ref.setup(sn, count));
        QVERIFY(fast.back()->setup(sn, count));
        ref.initResult(sn);
        for (int i = 0; i < count; ++i)
            ref.fftRow(sinograms.back().data() + size_t(i) * (sn + 1), i);
        for (int i = 0; i < count; ++i) {
            ref.filterRow(i);
            ref.backProject(i, x0, x1, z0, z1);
        }
    }
    std::vector<CtFbp *> group;
    for (auto &core : fast)
        group.push_back(core.get());
    SimdReset reset;
    for (const auto level : simdLevels()) {
        QVERIFY(CtFbp::setSimd(level));
        for (size_t s = 0; s < fast.size(); ++s)
            QVERIFY(fast[s]->filterSinogram(sinograms[s].data(), fast[s]->n() + 1, count));
        CtFbp::backProjectAll(group.data(), int(group.size()), x0, x1, z0, z1);
        for (size_t s = 0; s < fast.size(); ++s) {
            const int sn = fast[s]->n();
            const auto [worst, largest] = difference(*refs[s], *fast[s], sn);
            QVERIFY(fast[s]->resultValid());
            QVERIFY(largest > 0.0);
            QVERIFY2(worst == 0.0, qPrintable(QStringLiteral("%1, slice %2: worst %3 of %4")
                                                  .arg(CtFbp::simdName(level))
                                                  .arg(s)
                                                  .arg(worst)
                                                  .arg(largest)));
        }
    }
}

void tst_CtFbp::reconstructMatchesStepwiseBitForBit_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstN"); // a set-up of other sizes before, 0 for none
    QTest::newRow("N 64, P 45") << 64 << 45 << 0;
    QTest::newRow("N 15 (odd), P 7") << 15 << 7 << 0;
    QTest::newRow("N 40, P 9 after N 16, P 30") << 40 << 9 << 16;
}

// reconstruct() filters each spectrum without keeping it; its filtered rows and
// slice must be those of the stepwise path exactly, not merely close.
void tst_CtFbp::reconstructMatchesStepwiseBitForBit()
{
    QFETCH(int, n);
    QFETCH(int, count);
    QFETCH(int, firstN);
    const std::vector<double> rows = randomRows(n + 3, count, 11);
    CtFbp stepwise;
    CtFbp whole;
    if (firstN > 0) {
        // Spectra of other sizes from an earlier set-up must not leak into these.
        const std::vector<double> other = randomRows(firstN + 1, 30, 12);
        QVERIFY(stepwise.setup(firstN, 30));
        for (int i = 0; i < 30; ++i)
            stepwise.fftRow(other.data() + size_t(i) * (firstN + 1), i);
        QVERIFY(whole.setup(firstN, 30));
        QVERIFY(whole.reconstruct(other.data(), firstN + 1, 30, 0, firstN, 0, firstN));
    }
    QVERIFY(stepwise.setup(n, count));
    QVERIFY(whole.setup(n, count));
    stepwise.initResult(n);
    for (int i = 0; i < count; ++i)
        stepwise.fftRow(rows.data() + size_t(i) * (n + 3), i);
    for (int i = 0; i < count; ++i)
        stepwise.filterRow(i);
    stepwise.backProjectAll(0, n, 0, n);
    QVERIFY(whole.reconstruct(rows.data(), n + 3, count, 0, n, 0, n));
    const size_t rowBytes = sizeof(double) * size_t(n);
    for (int i = 0; i < count; ++i)
        QVERIFY2(std::memcmp(stepwise.filteredRow(i), whole.filteredRow(i), rowBytes) == 0,
                 qPrintable(QStringLiteral("filtered row %1").arg(i)));
    for (int z = 0; z < n; ++z)
        QVERIFY2(std::memcmp(stepwise.resultRow(z), whole.resultRow(z), rowBytes) == 0,
                 qPrintable(QStringLiteral("result row %1").arg(z)));

    // A row filtered before any transform is all zeros.
    CtFbp fresh;
    QVERIFY(fresh.setup(n, count));
    fresh.filterRow(count - 1);
    const double *f = fresh.filteredRow(count - 1);
    QVERIFY(std::all_of(f, f + n, [](double v) { return v == 0.0; }));
}

void tst_CtFbp::minMax()
{
    const int N = 12;
    const int P = 5;
    const std::vector<double> rows = randomRows(N + 1, P, 3);
    CtFbp fbp;
    QVERIFY(fbp.setup(N, P));
    QVERIFY(fbp.reconstruct(rows.data(), N + 1, P, 0, N, 0, N));
    fbp.calcMinMax();
    double lo = 1e300;
    double hi = -1e300;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x) {
            lo = std::min(lo, fbp.resultRow(z)[x]);
            hi = std::max(hi, fbp.resultRow(z)[x]);
        }
    QCOMPARE(fbp.min(), lo);
    QCOMPARE(fbp.max(), hi);
    QVERIFY(lo < 0.0 && hi > 0.0); // outside the circle stays 0
}

QTEST_GUILESS_MAIN(tst_CtFbp)
#include "tst_CtFbp.moc"
