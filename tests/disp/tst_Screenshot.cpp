#include "DispTestUtil.h"

#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ImgDispWPV.h"
#include "disp/PopDockBase.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "disp/Sinogram.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

// A picture of a composite display as a user sees it: a head phantom, its colour
// bar with the range written on it, and the position/value line under the
// mouse. With ORVO2_SCREENSHOT set to a file name the window is saved there
// (run it under a real X server to see the platform's fonts and styles).
class tst_Screenshot : public QObject
{
    Q_OBJECT

private:
    // Attenuation of the modified Shepp-Logan head phantom on an n x n grid
    // covering [-1, 1] x [-1, 1], rows downwards.
    static std::vector<double> phantom(int n)
    {
        struct Ellipse
        {
            double value, a, b, x0, y0, degrees;
        };
        const Ellipse ellipses[] = {
            {1.0, 0.69, 0.92, 0, 0, 0},        {-0.8, 0.6624, 0.874, 0, -0.0184, 0},
            {-0.2, 0.11, 0.31, 0.22, 0, -18},  {-0.2, 0.16, 0.41, -0.22, 0, 18},
            {0.1, 0.21, 0.25, 0, 0.35, 0},     {0.1, 0.046, 0.046, 0, 0.1, 0},
            {0.1, 0.046, 0.046, 0, -0.1, 0},   {0.1, 0.046, 0.023, -0.08, -0.605, 0},
            {0.1, 0.023, 0.023, 0, -0.606, 0}, {0.1, 0.023, 0.046, 0.06, -0.605, 0}};
        std::vector<double> values(size_t(n) * n, 0.0);
        for (int row = 0; row < n; ++row) {
            const double y = 1.0 - 2.0 * (row + 0.5) / n;
            for (int col = 0; col < n; ++col) {
                const double x = 2.0 * (col + 0.5) / n - 1.0;
                double v = 0.0;
                for (const Ellipse &e : ellipses) {
                    const double t = e.degrees * M_PI / 180.0;
                    const double u = (x - e.x0) * std::cos(t) + (y - e.y0) * std::sin(t);
                    const double w = -(x - e.x0) * std::sin(t) + (y - e.y0) * std::cos(t);
                    if (u * u / (e.a * e.a) + w * w / (e.b * e.b) <= 1.0)
                        v += e.value;
                }
                // Rounded so that sums like 1 - 0.8 - 0.2 give exactly 0.
                values[size_t(row) * n + col] = 0.02 * std::round(v * 1000.0) / 1000.0;
            }
        }
        return values;
    }

private slots:
    void compositeDisplay();
    void panels();
};

void tst_Screenshot::compositeDisplay()
{
    QLocale::setDefault(QLocale::c());
    const int n = 256;
    const std::vector<double> values = phantom(n);
    ImgDispWPV disp;
    disp.setWindowTitle("Orvo2 composite display");
    disp.resize(560, 620);
    ColorBar *bar = disp.CBar;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : values) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    bar->setMin(lo);
    bar->setMax(hi);
    disp.image = QImage(n, n, QImage::Format_Grayscale8);
    for (int row = 0; row < n; ++row)
        for (int col = 0; col < n; ++col)
            disp.image.scanLine(row)[col] = uchar(bar->grey(values[size_t(row) * n + col]));
    disp.newImage();
    connect(&disp, &ImgDispWPV::newPosInvY, &disp, [&](double x, double y) {
        const int col = int(x), row = int(y);
        if (col >= 0 && col < n && row >= 0 && row < n)
            disp.setVal(values[size_t(row) * n + col]);
    });
    disp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&disp));

    // The mouse over the upper small ellipse: the line reads its position and value.
    const QSize area = disp.dispA()->size();
    const QPoint at(int(area.width() * 0.5), int(area.height() * 0.31));
    DispTest::move(disp.dispA(), at);
    QCOMPARE(disp.posXText(), QString::number(int(at.x() * double(n) / area.width())));
    QVERIFY(disp.valText() != "0");

    const QImage shot = disp.grab().toImage();
    QCOMPARE(shot.size(), disp.size());
    // The bar is drawn: black at its foot, near white at its head.
    const QPoint barFoot = bar->mapTo(&disp, QPoint(bar->width() / 2, bar->height() - 2));
    QCOMPARE(qGray(shot.pixel(barFoot)), 0);
    const QByteArray target = qgetenv("ORVO2_SCREENSHOT");
    if (!target.isEmpty())
        QVERIFY(shot.save(QString::fromLocal8Bit(target)));
}

// The panels as laid out by their forms; saved into ORVO2_SCREENSHOT_DIR when set.
void tst_Screenshot::panels()
{
    ProcCtrl proc;
    SeekCtrl seek;
    seek.setMaximum(180);
    CtCalc2Ui result;
    result.resize(520, 640);
    Sinogram viewer;
    viewer.resize(900, 500);
    PopDockBase dock;
    QWidget *shown[] = {&proc, &seek, &result, &viewer, &dock};
    const char *names[] = {"ProcCtrl", "SeekCtrl", "CtCalc2Ui", "Sinogram", "PopDockBase"};
    const QString dir = QString::fromLocal8Bit(qgetenv("ORVO2_SCREENSHOT_DIR"));
    for (int i = 0; i < 5; ++i) {
        shown[i]->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown[i]));
        const QImage shot = shown[i]->grab().toImage();
        QVERIFY(!shot.isNull());
        if (!dir.isEmpty())
            QVERIFY(shot.save(dir + "/" + names[i] + ".png"));
    }
}

QTEST_MAIN(tst_Screenshot)
#include "tst_Screenshot.moc"
