#include "DispTestUtil.h"

#include "disp/ChCoord.h"
#include "disp/DispA.h"
#include "disp/ImgDisp.h"
#include "disp/MouseC.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <memory>

Q_DECLARE_METATYPE(Qt::MouseButton)
Q_DECLARE_METATYPE(Qt::KeyboardModifiers)

class tst_ImgDisp : public QObject
{
    Q_OBJECT

private:
    // A 400 x 400 drawing area showing a 400 x 400 picture whole.
    std::unique_ptr<ImgDisp> shownDisplay(int side = 400)
    {
        auto disp = std::make_unique<ImgDisp>();
        disp->resize(side, side);
        disp->image = DispTest::ramp(side, side);
        disp->newImage();
        disp->show();
        if (!QTest::qWaitForWindowExposed(disp.get()))
            return nullptr;
        return disp;
    }

private slots:
    void pressStateOfEachButtonAndModifier_data();
    void pressStateOfEachButtonAndModifier();
    void moveWithAltIsIgnored();
    void wheelZoomKeepsPointUnderMouse();
    void wheelZoomIsOneStepWhateverTheDelta();
    void leftDragPansAndReportsReleasePoint();
    void shiftDragSelectsWithoutPanning();
    void selectedAPointRules_data();
    void selectedAPointRules();
    void newImageAndResetScale();
    void farZoomSaturatesPositions();
    void zeroSizeAreaStaysDefined();
    void zoomAndPanReuseThePicture();
    void saveImageWindowPartlyOutside();
    void chCoordMapping();
};

void tst_ImgDisp::pressStateOfEachButtonAndModifier_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("state");
    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers s = Qt::ShiftModifier, c = Qt::ControlModifier, a = Qt::AltModifier;
    const struct
    {
        const char *name;
        Qt::KeyboardModifiers m;
        int value;
    } combos[] = {{"plain", none, 0},       {"Shift", s, 1},
                  {"Ctrl", c, 2},           {"Alt", a, 3},
                  {"Shift+Ctrl", s | c, 4}, {"Shift+Alt", s | a, 5},
                  {"Ctrl+Alt", c | a, 6},   {"Shift+Ctrl+Alt", s | c | a, 7}};
    for (const auto &combo : combos) {
        QTest::addRow("left %s", combo.name) << Qt::LeftButton << combo.m << combo.value;
        QTest::addRow("right %s", combo.name) << Qt::RightButton << combo.m << combo.value + 8;
    }
    QTest::newRow("middle plain") << Qt::MiddleButton << none << 16;
    QTest::newRow("middle Shift+Ctrl") << Qt::MiddleButton << (s | c) << 16;
    QTest::newRow("left with keypad bit")
        << Qt::LeftButton << Qt::KeyboardModifiers(Qt::KeypadModifier) << 0;
}

void tst_ImgDisp::pressStateOfEachButtonAndModifier()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, state);
    DispA area;
    area.resize(100, 100);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    QSignalSpy pressed(&area, &DispA::mousePressed0);
    QTest::mousePress(&area, button, modifiers, QPoint(30, 40));
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(int(area.mouse()->pressState()), state);
    QCOMPARE(area.mouse()->pressPos, QPoint(30, 40));
    QVERIFY(area.mouse()->pressed);
    QTest::mouseRelease(&area, button, modifiers, QPoint(35, 45));
    QVERIFY(!area.mouse()->pressed);
    QCOMPARE(area.mouse()->releasePos, QPoint(35, 45));
}

void tst_ImgDisp::moveWithAltIsIgnored()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    QSignalSpy pos(disp.get(), &ImgDisp::newPos);
    DispTest::move(disp->dispA(), QPoint(50, 60));
    QCOMPARE(pos.count(), 1);
    QCOMPARE(pos.at(0).at(0).toInt(), 50);
    QCOMPARE(pos.at(0).at(1).toInt(), 60);
    DispTest::move(disp->dispA(), QPoint(120, 130), Qt::NoButton, Qt::AltModifier);
    QCOMPARE(pos.count(), 1);
    QCOMPARE(disp->mouse->current, QPoint(50, 60));
}

void tst_ImgDisp::wheelZoomKeepsPointUnderMouse()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    QCOMPARE(disp->dispA()->size(), QSize(400, 400));
    QSignalSpy newS(disp.get(), &ImgDisp::newS);
    DispTest::move(disp->dispA(), QPoint(200, 200));
    DispTest::wheel(disp->dispA(), QPoint(200, 200), 120);
    QCOMPARE(newS.count(), 1);
    const QRectF in = disp->s;
    QCOMPARE(in.x(), 200.0 - 200.0 / 1.1);
    QCOMPARE(in.y(), 200.0 - 200.0 / 1.1);
    QCOMPARE(in.width(), 400.0 / 1.1);
    QCOMPARE(in.height(), 400.0 / 1.1);
    QVERIFY(qAbs(in.x() - 18.1818) < 1e-4);
    QVERIFY(qAbs(in.width() - 363.6364) < 1e-4);
    QCOMPARE(newS.at(0).at(0).toRectF(), in);
    // The image point under the mouse is still (200, 200).
    QSignalSpy pos(disp.get(), &ImgDisp::newPos);
    DispTest::move(disp->dispA(), QPoint(200, 200));
    QCOMPARE(pos.at(0).at(0).toInt(), 200);
    QCOMPARE(pos.at(0).at(1).toInt(), 200);

    DispTest::wheel(disp->dispA(), QPoint(200, 200), -120);
    QVERIFY(qAbs(disp->s.width() - 400.0) < 1e-9);
    QVERIFY(qAbs(disp->s.height() - 400.0) < 1e-9);
    QVERIFY(qAbs(disp->s.x()) < 1e-9);

    // Off centre: the image point under (100, 300) stays there.
    DispTest::move(disp->dispA(), QPoint(100, 300));
    const double x = disp->coord->screenToRealX(100);
    const double y = disp->coord->screenToRealY(300);
    DispTest::wheel(disp->dispA(), QPoint(100, 300), 120);
    QVERIFY(qAbs(disp->s.x() + 100 * disp->s.width() / 400 - x) < 1e-9);
    QVERIFY(qAbs(disp->s.y() + 300 * disp->s.height() / 400 - y) < 1e-9);
}

void tst_ImgDisp::wheelZoomIsOneStepWhateverTheDelta()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    DispTest::move(disp->dispA(), QPoint(200, 200));
    DispTest::wheel(disp->dispA(), QPoint(200, 200), 240);
    QCOMPARE(disp->s.width(), 400.0 / 1.1);
    DispTest::wheel(disp->dispA(), QPoint(200, 200), 12);
    QCOMPARE(disp->s.width(), 400.0 / 1.1 / 1.1);
    QCOMPARE(disp->mouse->wheelStep, 12 * 0.125 / 15);
}

void tst_ImgDisp::leftDragPansAndReportsReleasePoint()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    QSignalSpy newS(disp.get(), &ImgDisp::newS);
    QSignalSpy point(disp.get(), &ImgDisp::selectedAPoint);
    QTest::mousePress(disp->dispA(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QTest::mouseMove(disp->dispA(), QPoint(230, 210));
    QTest::mouseMove(disp->dispA(), QPoint(250, 230));
    QCOMPARE(newS.count(), 2);
    QCOMPARE(disp->s, QRectF(-50, -30, 400, 400));
    QTest::mouseRelease(disp->dispA(), Qt::LeftButton, Qt::NoModifier, QPoint(250, 230));
    QCOMPARE(point.count(), 1);
    // The image point grabbed at (200, 200) followed the mouse to (250, 230).
    QCOMPARE(point.at(0).at(0).toDouble(), 200.0);
    QCOMPARE(point.at(0).at(1).toDouble(), 200.0);
    QCOMPARE(point.at(0).at(2).value<MouseC::MStat>(), MouseC::Left);
    QVERIFY(!disp->selectionValid);
}

void tst_ImgDisp::shiftDragSelectsWithoutPanning()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    QSignalSpy newS(disp.get(), &ImgDisp::newS);
    QSignalSpy point(disp.get(), &ImgDisp::selectedAPoint);
    QTest::mousePress(disp->dispA(), Qt::LeftButton, Qt::ShiftModifier, QPoint(300, 250));
    QVERIFY(disp->selecting);
    QTest::mouseMove(disp->dispA(), QPoint(200, 180));
    QTest::mouseMove(disp->dispA(), QPoint(100, 100));
    QTest::mouseRelease(disp->dispA(), Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 100));
    QCOMPARE(newS.count(), 0);
    QCOMPARE(point.count(), 0);
    QCOMPARE(disp->s, QRectF(0, 0, 400, 400));
    QVERIFY(!disp->selecting);
    QVERIFY(disp->selectionValid);
    QCOMPARE(QRectF(disp->selX, disp->selY, disp->selW, disp->selH), QRectF(100, 100, 200, 150));

    // A Shift+right press clears the selection start and size.
    QTest::mousePress(disp->dispA(), Qt::RightButton, Qt::ShiftModifier, QPoint(10, 10));
    QCOMPARE(disp->selW, 0.0);
    QTest::mouseRelease(disp->dispA(), Qt::RightButton, Qt::ShiftModifier, QPoint(10, 10));

    // A Shift click without a drag selects nothing new.
    disp->selectionValid = false;
    QTest::mousePress(disp->dispA(), Qt::LeftButton, Qt::ShiftModifier, QPoint(50, 50));
    QTest::mouseRelease(disp->dispA(), Qt::LeftButton, Qt::ShiftModifier, QPoint(50, 50));
    QVERIFY(!disp->selectionValid);
}

void tst_ImgDisp::selectedAPointRules_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("state");
    QTest::newRow("plain left reports 0") << Qt::LeftButton << Qt::KeyboardModifiers() << 0;
    QTest::newRow("plain right reports 8") << Qt::RightButton << Qt::KeyboardModifiers() << 8;
    QTest::newRow("Shift left silent")
        << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << -1;
    QTest::newRow("Ctrl left silent")
        << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << -1;
    QTest::newRow("Alt left silent")
        << Qt::LeftButton << Qt::KeyboardModifiers(Qt::AltModifier) << -1;
    QTest::newRow("Ctrl right silent")
        << Qt::RightButton << Qt::KeyboardModifiers(Qt::ControlModifier) << -1;
    QTest::newRow("Shift right silent")
        << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << -1;
    QTest::newRow("middle silent") << Qt::MiddleButton << Qt::KeyboardModifiers() << -1;
}

void tst_ImgDisp::selectedAPointRules()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, state);
    auto disp = shownDisplay();
    QVERIFY(disp);
    DispTest::move(disp->dispA(), QPoint(123, 77));
    QSignalSpy point(disp.get(), &ImgDisp::selectedAPoint);
    QTest::mouseClick(disp->dispA(), button, modifiers, QPoint(123, 77));
    if (state < 0) {
        QCOMPARE(point.count(), 0);
        return;
    }
    QCOMPARE(point.count(), 1);
    QCOMPARE(point.at(0).at(0).toDouble(), 123.0);
    QCOMPARE(point.at(0).at(1).toDouble(), 77.0);
    QCOMPARE(int(point.at(0).at(2).value<MouseC::MStat>()), state);
}

void tst_ImgDisp::newImageAndResetScale()
{
    ImgDisp disp;
    disp.resize(200, 200);
    QSignalSpy newS(&disp, &ImgDisp::newS);
    disp.image = QImage(0, 0, QImage::Format_Grayscale8);
    disp.newImage();
    QCOMPARE(newS.count(), 0);
    QVERIFY(!disp.scaleSet);
    QCOMPARE(disp.s, QRectF());

    disp.image = DispTest::ramp(64, 32);
    disp.newImage();
    QCOMPARE(newS.count(), 1);
    QCOMPARE(disp.s, QRectF(0, 0, 64, 32));

    disp.s = QRectF(5, 6, 10, 11);
    disp.image = DispTest::ramp(128, 128);
    disp.newImage();
    QCOMPARE(newS.count(), 1);
    QCOMPARE(disp.s, QRectF(5, 6, 10, 11));

    disp.resetScale();
    QCOMPARE(disp.s, QRectF(0, 0, 128, 128));
    QCOMPARE(newS.count(), 1);
}

// About 250 notches out the window is wider than the int range: positions
// saturate instead of wrapping or tripping the sanitizer.
void tst_ImgDisp::farZoomSaturatesPositions()
{
    auto disp = shownDisplay();
    QVERIFY(disp);
    DispTest::move(disp->dispA(), QPoint(200, 200));
    for (int i = 0; i < 250; ++i)
        DispTest::wheel(disp->dispA(), QPoint(200, 200), -120);
    QVERIFY(disp->s.width() > 1e12);
    QSignalSpy pos(disp.get(), &ImgDisp::newPos);
    DispTest::move(disp->dispA(), QPoint(0, 0));
    DispTest::move(disp->dispA(), QPoint(399, 399));
    QCOMPARE(pos.count(), 2);
    QCOMPARE(pos.at(0).at(0).toInt(), INT_MIN);
    QCOMPARE(pos.at(0).at(1).toInt(), INT_MIN);
    QCOMPARE(pos.at(1).at(0).toInt(), INT_MAX);
    QCOMPARE(pos.at(1).at(1).toInt(), INT_MAX);
    QVERIFY(!disp->grab().isNull());
}

void tst_ImgDisp::zeroSizeAreaStaysDefined()
{
    ImgDisp disp;
    disp.resize(0, 0);
    disp.image = DispTest::ramp(16, 16);
    disp.newImage();
    QSignalSpy pos(&disp, &ImgDisp::newPos);
    disp.onMouseMoved();
    disp.onWheelMoved();
    disp.onMouseMoved();
    QCOMPARE(pos.count(), 2);
    QTemporaryDir dir;
    disp.saveImage(dir.filePath("zero.png"));
    disp.s = QRectF(3, 3, 0, 0);
    disp.onMouseMoved();
    disp.saveImage(dir.filePath("empty.png"));
    QVERIFY(!QFile::exists(dir.filePath("empty.png")));
}

void tst_ImgDisp::zoomAndPanReuseThePicture()
{
    auto disp = shownDisplay(400);
    QVERIFY(disp);
    disp->image = DispTest::ramp(2048, 2048);
    disp->resetScale();
    disp->grab();
    const int built = disp->pictureConversions();
    DispTest::move(disp->dispA(), QPoint(200, 200));
    for (int i = 0; i < 3; ++i)
        DispTest::wheel(disp->dispA(), QPoint(200, 200), 120);
    QTest::mousePress(disp->dispA(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QTest::mouseMove(disp->dispA(), QPoint(150, 150));
    QTest::mouseRelease(disp->dispA(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 150));
    const QImage zoomed = disp->grab().toImage();
    QCOMPARE(disp->pictureConversions(), built);
    QVERIFY(!zoomed.isNull());

    disp->image.scanLine(0)[0] = 255;
    disp->newImage();
    disp->grab();
    QCOMPARE(disp->pictureConversions(), built + 1);
}

void tst_ImgDisp::saveImageWindowPartlyOutside()
{
    ImgDisp disp;
    disp.image = QImage(10, 8, QImage::Format_Grayscale8);
    disp.image.fill(200);
    disp.image.scanLine(7)[9] = 17;
    disp.newImage();
    disp.s = QRectF(6.7, 5.2, 8.9, 6.99);
    QTemporaryDir dir;
    const QString file = dir.filePath("window.png");
    disp.saveImage(file);
    QImage saved(file);
    QVERIFY(!saved.isNull());
    QCOMPARE(saved.size(), QSize(8, 6));
    saved = saved.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int ix = 6 + x, iy = 5 + y;
            int expected = ix < 10 && iy < 8 ? 200 : 0;
            if (ix == 9 && iy == 7)
                expected = 17;
            QCOMPARE(qGray(saved.pixel(x, y)), expected);
        }
    }
    // Wholly outside, and far beyond the int range: a black window.
    disp.s = QRectF(-3e9, 4, 5, 3);
    disp.saveImage(file);
    saved = QImage(file);
    QCOMPARE(saved.size(), QSize(5, 3));
    QCOMPARE(qGray(saved.pixel(4, 2)), 0);
}

void tst_ImgDisp::chCoordMapping()
{
    ChCoord c;
    c.setWidgetRange(0, 200, 100, 0);
    c.setRealRange(10, 20, 5, 15);
    QCOMPARE(c.realToScreenX(15), 100.0);
    QCOMPARE(c.screenToRealX(100), 15.0);
    QCOMPARE(c.screenToRealY(0), 15.0);
    QCOMPARE(c.screenToRealOffsetX(100), 5.0);
    QCOMPARE(c.screenToRealClampedX(500), 20.0);
    QCOMPARE(c.screenToRealClampedY(500), 5.0);
    QCOMPARE(c.realLengthToScreenX(1), 20.0);
    QVERIFY(c.nearScreenEdgeX(195));
    QVERIFY(!c.nearScreenEdgeX(100));
    c.applyMargins();
    QCOMPARE(c.SX0, 20.0);
    QCOMPARE(c.SX1, 190.0);
    QCOMPARE(c.SY0, 90.0);
    QCOMPARE(c.SY1, 5.0);

    // Pan with a connected mouse in its pan state (left + Shift) shifts the range.
    DispA area;
    area.resize(200, 100);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    ChCoord *coord = area.coord();
    coord->setRealRange(0, 200, 100, 0);
    coord->connectMouse(area.mouse());
    QSignalSpy updated(coord, &ChCoord::updated);
    QTest::mousePress(&area, Qt::LeftButton, Qt::ShiftModifier, QPoint(50, 50));
    DispTest::move(&area, QPoint(60, 50), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(coord->RX0, -10.0);
    QCOMPARE(coord->RX1, 190.0);
    QVERIFY(updated.count() >= 2);
    QTest::mouseRelease(&area, Qt::LeftButton, Qt::ShiftModifier, QPoint(60, 50));
    coord->connectMouse(nullptr);
    const int before = updated.count();
    QTest::mouseClick(&area, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(updated.count(), before);
    coord->clearScale();
    QCOMPARE(coord->RX1, 0.0);
    QVERIFY(!coord->xChanged);
}

QTEST_MAIN(tst_ImgDisp)
#include "tst_ImgDisp.moc"
