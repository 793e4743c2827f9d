#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "tests/imgdata/ItexWriter.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const double pi = 3.141592653589793;

// An ellipse of constant attenuation per pixel, in coordinates relative to the
// rotation centre: X along the detector at angle 0, Z the other axis of the slice.
struct Ellipse
{
    double x0, z0, a, b, phi, mu;

    bool contains(double X, double Z) const
    {
        const double dx = X - x0;
        const double dz = Z - z0;
        const double u = dx * std::cos(phi) + dz * std::sin(phi);
        const double v = -dx * std::sin(phi) + dz * std::cos(phi);
        return u * u / (a * a) + v * v / (b * b) <= 1.0;
    }
    // Line integral over the line X cos(theta) - Z sin(theta) = s, which is the
    // detector position the reconstruction assigns to (X, Z) at angle theta.
    double project(double theta, double s) const
    {
        const double s0 = x0 * std::cos(theta) - z0 * std::sin(theta);
        const double c = std::cos(theta + phi);
        const double si = std::sin(theta + phi);
        const double r2 = a * a * c * c + b * b * si * si;
        const double d = s - s0;
        if (d * d >= r2)
            return 0.0;
        return 2.0 * mu * a * b / r2 * std::sqrt(r2 - d * d);
    }
};

const Ellipse phantom[] = {
    {0.0, 0.0, 100.0, 80.0, 0.0, 0.010},     {-30.0, 10.0, 25.0, 15.0, 0.3, 0.010},
    {40.0, -20.0, 15.0, 30.0, -0.5, -0.005}, {0.0, 50.0, 10.0, 10.0, 0.0, 0.015},
    {-50.0, -40.0, 8.0, 20.0, 1.0, 0.008},
};

double attenuation(double X, double Z)
{
    double mu = 0.0;
    for (const Ellipse &e : phantom)
        if (e.contains(X, Z))
            mu += e.mu;
    return mu;
}

} // namespace

class tst_CtPhantom : public QObject
{
    Q_OBJECT

private slots:
    void reconstructsEllipses();
};

void tst_CtPhantom::reconstructsEllipses()
{
    // N = 256 from frames 260 wide with the CoR at 129.5 (halfWidth 129, W 257);
    // P = 360 over 180 degrees; 3 rows of which the middle one is the slice.
    const int imgWidth = 260;
    const int imgHeight = 3;
    const double cor = 129.5;
    const int P = 360;
    const double open = 4.0e9;
    const double dark = 1000.0;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    auto writeFrame = [&](const QString &name, const std::vector<double> &line) {
        std::vector<double> v;
        for (int y = 0; y < imgHeight; ++y)
            v.insert(v.end(), line.begin(), line.end());
        const QString path = dir.filePath(name);
        return ItexWriter::write(path, imgWidth, imgHeight, 4, v) ? path : QString();
    };
    std::vector<double> line(imgWidth);
    ImgDatas stack;
    for (int i = 0; i < P; ++i) {
        const double theta = i * pi / P;
        for (int j = 0; j < imgWidth; ++j) {
            double p = 0.0;
            for (const Ellipse &e : phantom)
                p += e.project(theta, j - cor);
            line[j] = dark + (open - dark) * std::exp(-p);
        }
        QVERIFY(
            stack.addFile(writeFrame(QStringLiteral("p%1.img").arg(i, 4, 10, QChar('0')), line)));
    }
    std::unique_ptr<ImgData> i0(ImgData::newImgData(ImgData::ITEX));
    std::unique_ptr<ImgData> bg(ImgData::newImgData(ImgData::ITEX));
    i0->fileName = writeFrame("i0.img", std::vector<double>(imgWidth, open));
    bg->fileName = writeFrame("bg.img", std::vector<double>(imgWidth, dark));
    i0->isOk = i0->open();
    bg->isOk = bg->open();
    ImgData *i0Slot = i0.get();
    ImgData *bgSlot = bg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);

    HSgm sgm;
    QVERIFY(genSinogram0(&sgm, stack, true, cor, 1));
    const int N = sgm.width / 2 * 2;
    QCOMPARE(N, 256);
    CtFbp fbp;
    QVERIFY(fbp.setup(N, P));
    QVERIFY(fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, N, 0, N));

    // Truth: the phantom averaged over 4 x 4 points of each pixel. Compared inside
    // the circle, after fitting result = scale * truth + offset (the unpadded ramp
    // filter removes each projection's mean, which shifts the slice by a near
    // constant).
    const double c = N / 2.0;
    std::vector<double> truth;
    std::vector<double> got;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x) {
            if (!(std::hypot(x - c, z - c) < c))
                continue;
            double mu = 0.0;
            for (int sz = 0; sz < 4; ++sz)
                for (int sx = 0; sx < 4; ++sx)
                    mu += attenuation(x - c + (sx - 1.5) / 4.0, z - c + (sz - 1.5) / 4.0);
            truth.push_back(mu / 16.0);
            got.push_back(fbp.resultRow(z)[x]);
        }
    const double n = double(truth.size());
    double mt = 0, mg = 0;
    for (size_t k = 0; k < truth.size(); ++k) {
        mt += truth[k];
        mg += got[k];
    }
    mt /= n;
    mg /= n;
    double stt = 0, sgg = 0, stg = 0;
    for (size_t k = 0; k < truth.size(); ++k) {
        stt += (truth[k] - mt) * (truth[k] - mt);
        sgg += (got[k] - mg) * (got[k] - mg);
        stg += (truth[k] - mt) * (got[k] - mg);
    }
    const double correlation = stg / std::sqrt(stt * sgg);
    // Least squares of truth on result, so the error is in the phantom's units.
    const double scale = stg / sgg;
    double sse = 0.0;
    double lo = 1e300, hi = -1e300;
    for (size_t k = 0; k < truth.size(); ++k) {
        const double fitted = mt + scale * (got[k] - mg);
        sse += (fitted - truth[k]) * (fitted - truth[k]);
        lo = std::min(lo, truth[k]);
        hi = std::max(hi, truth[k]);
    }
    const double relRmse = std::sqrt(sse / n) / (hi - lo);
    qInfo("phantom N %d P %d: correlation %.5f, RMSE %.3f %% of range, sum per attenuation %.1f "
          "(2P = %d)",
          N, P, correlation, 100.0 * relRmse, 1.0 / scale, 2 * P);
    QVERIFY2(!(correlation <= 0.99), qPrintable(QString::number(correlation)));
    QVERIFY2(!(relRmse >= 0.05), qPrintable(QString::number(relRmse)));
    // The plain sum is about 2P times the attenuation per pixel.
    QVERIFY(!(std::fabs(1.0 / scale / (2.0 * P) - 1.0) > 0.1));
}

QTEST_GUILESS_MAIN(tst_CtPhantom)
#include "tst_CtPhantom.moc"
