#include "DispTestUtil.h"

#include "disp/ChCoord.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ImgDispWPV.h"
#include "disp/PopDockBase.h"
#include "disp/ProcCtrl.h"
#include "disp/Sinogram.h"
#include "tests/ct/CtTestStack.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <climits>
#include <cmath>
#include <functional>

// What the displays show is what they hold: bar labels after every change of
// range, whole numbers in every read-out, a working "Gen Image", typed limits
// that stay, and square pixels with exact read-outs.
class tst_Readouts : public QObject
{
    Q_OBJECT

private:
    // What the window system last received from the widget, as opposed to a
    // fresh rendering: a change that asked for no repaint shows up as a difference.
    static QImage onScreen(QWidget *w)
    {
        QWidget *top = w->window();
        const QPoint at = w->mapTo(top, QPoint(0, 0));
        return top->screen()
            ->grabWindow(top->winId(), at.x(), at.y(), w->width(), w->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    static QImage rendered(QWidget *w)
    {
        return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // A field shows its whole text when the cursor at the end lies the text's
    // advance from the cursor at the start; a scrolled text leaves less. The
    // line edit settles its scrolling when it paints, hence the grabs.
    static bool showsWholeText(QLineEdit *field)
    {
        const QString text = field->text();
        field->setCursorPosition(int(text.size()));
        field->grab();
        const int end = field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        field->setCursorPosition(0);
        field->grab();
        const int start = field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        const int advance = field->fontMetrics().horizontalAdvance(text);
        if (end - start < advance)
            qWarning() << field->objectName() << text << "needs" << advance << "has" << end - start
                       << "width" << field->width();
        return end - start >= advance;
    }

    static void type(QLineEdit *line, const QString &text)
    {
        line->setFocus();
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
    }

    static bool makeScan(CtTestStack &scan) { return scan.make(48, 4, 30, 23.5); }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void barLabelsFollowEveryRangeChange_data();
    void barLabelsFollowEveryRangeChange();
    void fieldsShowWholeValues_data();
    void fieldsShowWholeValues();
    void longTextShowsItsStartAndTooltip();
    void genImageBuildsSinogramAndPictures();
    void typedLimitsFixTheBar_data();
    void typedLimitsFixTheBar();
    void squarePixelsInAWideArea();
    void sinogramFillsItsArea();
};

void tst_Readouts::barLabelsFollowEveryRangeChange_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("sinogram rebuilt at a new CoR") << 0;
    QTest::newRow("Fourier picture drawn by Gen Image") << 1;
    QTest::newRow("Max typed on a result display") << 2;
    QTest::newRow("range forced by the owner") << 3;
}

void tst_Readouts::barLabelsFollowEveryRangeChange()
{
    QFETCH(int, kind);
    CtTestStack scan;
    QVERIFY(makeScan(scan));
    ProcCtrl proc;
    proc.setRotAxIsV(true);
    proc.setSliceNo(1);
    proc.setCor(23.5);
    Sinogram viewer;
    viewer.setImgDatas(&scan.stack);
    viewer.setProcCtrl(&proc);
    CtCalc2Ui result;

    QWidget *top = kind < 2 ? static_cast<QWidget *>(&viewer) : &result;
    ColorBar *bar = kind == 0   ? viewer.sinogramDisplay()->CBar
                    : kind == 1 ? viewer.fourierDisplay()->CBar
                                : result.bar();
    top->resize(900, 500);
    top->show();
    QVERIFY(QTest::qWaitForWindowExposed(top));
    if (kind == 1)
        viewer.setGenFouS(true);
    QTest::qWait(20);
    const QImage before = onScreen(bar);
    QCOMPARE(before, rendered(bar));

    switch (kind) {
    case 0:
        proc.setCor(21.25);
        break;
    case 1:
        QTest::mouseClick(viewer.findChild<QPushButton *>("GenImg"), Qt::LeftButton);
        break;
    case 2:
        type(bar->panel()->findChild<QLineEdit *>("CMaxLE"), "123.5");
        break;
    default:
        result.setCBarMinMaxForced(-5.0, 5.0);
        break;
    }
    QTest::qWait(20);
    const QImage after = rendered(bar);
    QVERIFY2(after != before, "the range did not change");
    QTRY_COMPARE(onScreen(bar), after);
}

void tst_Readouts::fieldsShowWholeValues_data()
{
    QTest::addColumn<int>("panel");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("integer");
    QTest::newRow("position read-out, large negative") << 0 << -1.23457e+300 << INT_MIN;
    QTest::newRow("position read-out, small negative") << 0 << -0.000542975 << -99999;
    QTest::newRow("colour bar limits") << 1 << -1.23457e-300 << 0;
    QTest::newRow("process controls") << 2 << -1080.49 << INT_MIN;
    QTest::newRow("recorded CoR") << 3 << -80.4932 << 88888;
    QTest::newRow("sinogram CoR") << 4 << -1.23457e-300 << 0;
    QTest::newRow("result panel") << 5 << -1.23457e+300 << INT_MIN;
    QTest::newRow("popped-out result window") << 6 << -411.389 << 99999;
}

void tst_Readouts::fieldsShowWholeValues()
{
    QFETCH(int, panel);
    QFETCH(double, value);
    QFETCH(int, integer);
    // The dock first: a popped-out result panel is its pop window's child and
    // must go before the window does.
    PopDockBase dock;
    ImgDispWPV display;
    ColorBar bar;
    ProcCtrl proc;
    Sinogram viewer;
    CtCalc2Ui result;
    QWidget *shown = nullptr;
    switch (panel) {
    case 0:
        display.noticedNewPos(integer, integer);
        display.setVal(value);
        shown = &display;
        break;
    case 1:
        bar.setMin(value);
        bar.setMax(-value * 1e300 * 1e300);
        shown = bar.panel();
        break;
    case 2:
        proc.setCor(value);
        proc.setSliceNo(integer);
        proc.setSliceFrom(integer);
        proc.setSliceTo(integer);
        proc.setSliceStep(integer);
        shown = &proc;
        break;
    case 3:
        proc.setCor(value);
        proc.setSliceNo(integer);
        proc.recordCoR();
        proc.setCor(value * 1e-100);
        proc.recordCoR();
        shown = &proc;
        break;
    case 4:
        proc.setAutoUpdate(false);
        viewer.setProcCtrl(&proc);
        proc.setCor(value);
        shown = &viewer;
        break;
    default:
        result.setCR(value, value, value, value);
        result.setDR(value, value, value, value);
        result.showStartTime();
        result.showEndTime();
        result.showSpentT();
        result.showSliceNo(integer);
        shown = &result;
        if (panel == 6) {
            result.setCBarMinMaxForced(value, -value);
            dock.setContent(&result);
            dock.show();
            dock.popDock();
            shown = dock.popWindow();
        }
        break;
    }
    if (panel != 6)
        shown->adjustSize();
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    const QList<QLineEdit *> fields = shown->findChildren<QLineEdit *>();
    QVERIFY(!fields.isEmpty());
    for (QLineEdit *field : fields) {
        if (!field->isVisible())
            continue;
        QVERIFY2(showsWholeText(field), qPrintable(field->objectName() + ": " + field->text()));
    }
    // Hidden while whole: a field losing focus as its panel is destroyed would call a
    // slot of a half-destroyed panel.
    shown->hide();
}

void tst_Readouts::longTextShowsItsStartAndTooltip()
{
    ImgDispWPV display;
    display.show();
    QVERIFY(QTest::qWaitForWindowExposed(&display));
    QLineEdit *val = display.findChild<QLineEdit *>("Val");
    // Wider than any number: the start (the sign) must stay in view.
    const QString text = "-" + QString(60, '8');
    val->setText(text);
    val->grab();
    QCOMPARE(val->cursorPosition(), 0);
    QCOMPARE(val->toolTip(), text);
    display.setVal(-0.542975);
    QCOMPARE(val->toolTip(), QString("-0.542975"));
    QVERIFY(showsWholeText(val));
}

void tst_Readouts::genImageBuildsSinogramAndPictures()
{
    CtTestStack scan;
    QVERIFY(makeScan(scan));
    ProcCtrl proc;
    proc.setAutoUpdate(false);
    proc.setRotAxIsV(true);
    proc.setSliceNo(2);
    proc.setCor(23.5);
    Sinogram viewer;
    viewer.setImgDatas(&scan.stack);
    viewer.setProcCtrl(&proc);
    viewer.setGenFouS(true);
    proc.setCor(24.0);
    QVERIFY(viewer.sinogramDisplay()->image.isNull());

    QTest::mouseClick(viewer.findChild<QPushButton *>("GenImg"), Qt::LeftButton);
    const QImage sinogram = viewer.sinogramDisplay()->image;
    QCOMPARE(sinogram.height(), 2 * scan.count);
    QCOMPARE(sinogram.width(), viewer.ownSinogram().width);
    QVERIFY(viewer.ownSinogram().width > 0);
    QCOMPARE(viewer.fourierDisplay()->image.size(), sinogram.size());
    QCOMPARE(viewer.fourierDisplay()->CBar->max(), 10.0);
}

void tst_Readouts::typedLimitsFixTheBar_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("fixes");
    QTest::newRow("Min typed") << "CMinLE"
                               << "0.25" << true;
    QTest::newRow("Max typed") << "CMaxLE"
                               << "-3.5" << true;
    QTest::newRow("left without typing") << "CMaxLE" << QString() << false;
}

void tst_Readouts::typedLimitsFixTheBar()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(bool, fixes);
    ImgDispWPV display;
    ColorBar *bar = display.CBar;
    // A producer as every picture has one: unless fixed, the bar takes the data's range.
    int rebuilt = 0;
    connect(&display, &ImgDispWCBar::newBar, &display, [bar, &rebuilt] {
        ++rebuilt;
        if (!bar->fixed()) {
            bar->setMin(10.0);
            bar->setMax(20.0);
        }
    });
    bar->setMin(10.0);
    bar->setMax(20.0);
    display.show();
    QVERIFY(QTest::qWaitForWindowExposed(&display));
    QLineEdit *edit = bar->panel()->findChild<QLineEdit *>(field);
    if (typed.isEmpty()) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        type(edit, typed);
    }
    QCOMPARE(rebuilt, 1);
    QCOMPARE(bar->fixed(), fixes);
    if (fixes)
        QCOMPARE(edit->text(), typed);
    else
        QCOMPARE(edit->text(), QString("20"));
    display.hide();
}

// A 100 x 100 picture in a 400 x 200 area is drawn 200 x 200 in the middle, and
// read-outs and zoom follow the picture where it is drawn.
void tst_Readouts::squarePixelsInAWideArea()
{
    ImgDisp disp;
    disp.resize(400, 200);
    disp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&disp));
    QWidget *area = disp.dispA();
    QCOMPARE(area->size(), QSize(400, 200));
    QImage picture(100, 100, QImage::Format_Grayscale8);
    picture.fill(0);
    disp.image = picture;
    disp.newImage();
    QCOMPARE(disp.s, QRectF(0, 0, 100, 100));
    const QImage shot = rendered(area);
    auto grey = [&shot](int x, int y) { return qGray(shot.pixel(x, y)); };
    for (int y : {1, 100, 198}) {
        QCOMPARE(grey(98, y), 255);
        QCOMPARE(grey(102, y), 0);
        QCOMPARE(grey(297, y), 0);
        QCOMPARE(grey(302, y), 255);
    }

    QSignalSpy positions(&disp, &ImgDisp::newPos);
    // Screen (100 + 2 i + 1, 2 j + 1) lies in image pixel (i, j).
    DispTest::move(area, QPoint(100 + 2 * 37 + 1, 2 * 20 + 1));
    QCOMPARE(positions.last().at(0).toInt(), 37);
    QCOMPARE(positions.last().at(1).toInt(), 20);

    // One notch in at a point off the centre keeps that image point under the mouse
    // and the pixels square.
    const QPoint at(310, 50);
    DispTest::move(area, at);
    const double x = disp.coord->screenToRealX(at.x());
    const double y = disp.coord->screenToRealY(at.y());
    DispTest::wheel(area, at, 120);
    QVERIFY(std::abs(disp.coord->screenToRealX(at.x()) - x) < 1e-9);
    QVERIFY(std::abs(disp.coord->screenToRealY(at.y()) - y) < 1e-9);
    const QRectF view = disp.view();
    QVERIFY(std::abs(view.width() / view.height() - 2.0) < 1e-9);
    QVERIFY(std::abs(disp.s.width() - 100.0 / 1.1) < 1e-9);
}

void tst_Readouts::sinogramFillsItsArea()
{
    Sinogram viewer;
    viewer.resize(900, 300);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    ImgDispWPV *disp = viewer.sinogramDisplay();
    disp->image = QImage(50, 400, QImage::Format_Grayscale8);
    disp->image.fill(0);
    disp->newImage();
    QCOMPARE(disp->view(), disp->s);
    const QImage shot = rendered(disp->dispA());
    QCOMPARE(qGray(shot.pixel(1, shot.height() / 2)), 0);
    QCOMPARE(qGray(shot.pixel(shot.width() - 2, shot.height() / 2)), 0);
}

QTEST_MAIN(tst_Readouts)
#include "tst_Readouts.moc"
