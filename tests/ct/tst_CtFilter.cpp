// The filter's kernels against their closed forms, and the padded ramp's
// absolute values on an analytic phantom.

#include "ct/AttenuationScale.h"
#include "ct/CtFbp.h"
#include "ct/CtFilter.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

const double pi = 3.141592653589793;

// A disc of radius r around the centre with attenuation mu, plus a smaller
// offset disc: the analytic line integrals at detector position s.
struct Disc
{
    double x0, z0, r, mu;
    double project(double theta, double s) const
    {
        const double d = s - (x0 * std::cos(theta) - z0 * std::sin(theta));
        return d * d < r * r ? 2.0 * mu * std::sqrt(r * r - d * d) : 0.0;
    }
    double coverage(double X, double Z) const
    {
        int inside = 0;
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) {
                const double dx = X + (a - 1.5) / 4 - x0;
                const double dz = Z + (b - 1.5) / 4 - z0;
                inside += dx * dx + dz * dz <= r * r;
            }
        return inside / 16.0;
    }
};

} // namespace

class tst_CtFilter : public QObject
{
    Q_OBJECT

private slots:
    void windowGains_data();
    void windowGains();
    void names();
    void unpaddedWeightsAreTheBinIndex();
    void paddedRampKernel_data();
    void paddedRampKernel();
    void padsWithEdgeValues();
    void paddedRampIsUnbiased_data();
    void paddedRampIsUnbiased();
};

void tst_CtFilter::windowGains_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("expected");
    QTest::newRow("ramp at Nyquist") << "ramp" << 1.0 << 1.0;
    QTest::newRow("shepp-logan at 0") << "shepp-logan" << 0.0 << 1.0;
    QTest::newRow("shepp-logan at Nyquist") << "shepp-logan" << 1.0 << 2.0 / pi;
    QTest::newRow("shepp-logan at half") << "shepp-logan" << 0.5 << std::sin(pi / 4) / (pi / 4);
    QTest::newRow("cosine at half") << "cosine" << 0.5 << std::sqrt(0.5);
    QTest::newRow("cosine at Nyquist") << "cosine" << 1.0 << 0.0;
    QTest::newRow("hamming at 0") << "hamming" << 0.0 << 1.0;
    QTest::newRow("hamming at Nyquist") << "hamming" << 1.0 << 0.08;
    QTest::newRow("hann at half") << "hann" << 0.5 << 0.5;
    QTest::newRow("hann at Nyquist") << "hann" << 1.0 << 0.0;
}

void tst_CtFilter::windowGains()
{
    QFETCH(QString, name);
    QFETCH(double, x);
    QFETCH(double, expected);
    CtFilter::Window window;
    QVERIFY(CtFilter::windowOf(name, &window));
    QCOMPARE(CtFilter::nameOf(window), name);
    QVERIFY(std::fabs(CtFilter::gain(window, x) - expected) < 1e-12);
    // The unpadded weights carry the gain on the bin's |frequency| / Nyquist.
    const int n = 64;
    const int m = int(std::lround(x * n / 2));
    const std::vector<double> w = CtFilter::weights(n, false, window);
    QVERIFY(std::fabs(w[m] - m * CtFilter::gain(window, m / 32.0)) < 1e-12);
    QVERIFY(std::fabs(w[n - 1] - CtFilter::gain(window, 1.0 / 32)) < 1e-12);
}

void tst_CtFilter::names()
{
    CtFilter::Window window = CtFilter::Window::Hann;
    QVERIFY(!CtFilter::windowOf("Ramp", &window));
    QVERIFY(!CtFilter::windowOf("", &window));
    QVERIFY(window == CtFilter::Window::Hann);
    QCOMPARE(CtFilter::names().size(), 5);
}

void tst_CtFilter::unpaddedWeightsAreTheBinIndex()
{
    // Today's filter, value for value: the FBP core's default results rest on it.
    const std::vector<double> w = CtFilter::weights(58, false, CtFilter::Window::Ramp);
    QCOMPARE(int(w.size()), 58);
    QCOMPARE(w[0], 0.0);
    QCOMPARE(w[29], 29.0);
    QCOMPARE(w[57], 1.0);
    QCOMPARE(CtFilter::transformLength(58, false), 58);
}

void tst_CtFilter::paddedRampKernel_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("length");
    QTest::newRow("N 58 pads to 128") << 58 << 128;
    QTest::newRow("N 64 pads to 128") << 64 << 128;
    QTest::newRow("N 244 pads to 512") << 244 << 512;
}

void tst_CtFilter::paddedRampKernel()
{
    QFETCH(int, n);
    QFETCH(int, length);
    QCOMPARE(CtFilter::transformLength(n, true), length);
    const std::vector<double> h = CtFilter::spatialRamp(length);
    QCOMPARE(h[0], 0.25);
    QCOMPARE(h[2], 0.0);
    QVERIFY(std::fabs(h[3] + 1.0 / (9 * pi * pi)) < 1e-15);
    QCOMPARE(h[length - 3], h[3]);

    const std::vector<double> w = CtFilter::weights(n, true, CtFilter::Window::Ramp);
    QCOMPARE(int(w.size()), length);
    // H(m) = 1/4 - (2/pi^2) sum over odd k < L/2 of cos(2 pi k m / L) / k^2, times L.
    auto closedForm = [length](int m) {
        double sum = 0.25;
        for (int k = 1; k < length / 2; k += 2)
            sum -= 2.0 / (pi * pi * k * k) * std::cos(2 * pi * double(k) * m / length);
        return sum * length;
    };
    for (int m : {0, 1, 7, length / 4, length / 2, length - 1})
        QVERIFY2(std::fabs(w[m] - closedForm(m)) < 1e-9 * length, qPrintable(QString::number(m)));
    // The DC term is small but not zero; at Nyquist the ramp reaches L/2 bins.
    QVERIFY(w[0] > 0.0 && w[0] < 1.0);
    QVERIFY(std::fabs(w[length / 2] - length / 2.0) < 0.5);
    // A window multiplies the same kernel.
    const std::vector<double> hann = CtFilter::weights(n, true, CtFilter::Window::Hann);
    QVERIFY(std::fabs(hann[length / 4] - w[length / 4] * 0.5) < 1e-9);
}

void tst_CtFilter::padsWithEdgeValues()
{
    const double row[] = {3.0, 1.0, 2.0, 7.0, 5.0};
    std::vector<double> out(16, -1.0);
    CtFilter::padWithEdges(row, 5, out.data(), 16);
    const std::vector<double> expected = {3, 1, 2, 7, 5, 5, 5, 5, 5, 5, 3, 3, 3, 3, 3, 3};
    QCOMPARE(out, expected);

    // The FBP core pads the same way: a constant row stays constant after
    // padding, so its filtered row is the constant times the DC weight alone
    // (zeros beyond the row would give a ramp-filtered box instead).
    const int n = 16;
    CtFbp fbp;
    QVERIFY(fbp.setFilter(CtFilter::Window::Ramp, true));
    QVERIFY(fbp.setup(n, 1));
    const std::vector<double> constant(n + 1, 2.0);
    fbp.fftRow(constant.data(), 0);
    fbp.filterRow(0);
    const double dc = CtFilter::weights(n, true, CtFilter::Window::Ramp)[0];
    const double expectedValue = 2.0 * dc * 2 * pi / fbp.transformLength();
    for (int k = 0; k < n; ++k)
        QVERIFY(std::fabs(fbp.filteredRow(0)[k] - expectedValue) < 1e-12);
}

void tst_CtFilter::paddedRampIsUnbiased_data()
{
    QTest::addColumn<bool>("padded");
    QTest::addColumn<QString>("window");
    QTest::newRow("padded ramp") << true << "ramp";
    QTest::newRow("unpadded ramp") << false << "ramp";
    QTest::newRow("padded hann") << true << "hann";
}

void tst_CtFilter::paddedRampIsUnbiased()
{
    QFETCH(bool, padded);
    QFETCH(QString, window);
    const int N = 128;
    const int P = 180;
    const Disc discs[] = {{0.0, 0.0, 50.0, 0.02}, {15.0, -10.0, 12.0, 0.03}};
    // Rows of N + 1 samples with the centre of rotation on sample N/2.
    std::vector<double> sgm(size_t(N + 1) * P);
    for (int i = 0; i < P; ++i)
        for (int j = 0; j <= N; ++j) {
            double p = 0.0;
            for (const Disc &d : discs)
                p += d.project(i * pi / P, j - N / 2.0);
            sgm[size_t(i) * (N + 1) + j] = p;
        }
    CtFilter::Window w;
    QVERIFY(CtFilter::windowOf(window, &w));
    CtFbp fbp;
    QVERIFY(fbp.setFilter(w, padded));
    QVERIFY(fbp.setup(N, P));
    QCOMPARE(fbp.transformLength(), padded ? 256 : 128);
    QVERIFY(fbp.reconstruct(sgm.data(), N + 1, P, 0, N, 0, N));

    double bias = 0.0, square = 0.0;
    int count = 0;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x) {
            const double X = x - N / 2.0, Z = z - N / 2.0;
            if (X * X + Z * Z > 45.0 * 45.0)
                continue;
            double truth = 0.0;
            for (const Disc &d : discs)
                truth += d.mu * d.coverage(X, Z);
            bias += attenuationPerPixel(fbp.resultRow(z)[x], P) - truth;
            square += truth * truth;
            ++count;
        }
    const double relativeBias = bias / count / std::sqrt(square / count);
    qInfo("%s: mean bias %.4f of the phantom's RMS", qPrintable(QTest::currentDataTag()),
          relativeBias);
    if (padded)
        QVERIFY2(std::fabs(relativeBias) < 0.02, qPrintable(QString::number(relativeBias)));
    else
        QVERIFY2(relativeBias < -0.1, qPrintable(QString::number(relativeBias)));
}

QTEST_GUILESS_MAIN(tst_CtFilter)
#include "tst_CtFilter.moc"
