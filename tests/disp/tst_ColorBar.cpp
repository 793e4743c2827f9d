#include "DispTestUtil.h"

#include "disp/ColorBar.h"
#include "disp/DrawText.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

class tst_ColorBar : public QObject
{
    Q_OBJECT

private:
    // Drags the handle nearest to fromY to toY, as a user would.
    static void drag(ColorBar *bar, int fromY, int toY)
    {
        QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, fromY));
        QTest::mouseMove(bar, QPoint(10, toY));
        QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, toY));
    }
    static QLineEdit *edit(ColorBar *bar, const char *name)
    {
        return bar->panel()->findChild<QLineEdit *>(name);
    }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void greyLevels_data();
    void greyLevels();
    void degenerateRangesGiveDefinedGreys();
    void dragEmitsOncePerMove();
    void pressMidwayTakesNoHandle();
    void typedLimits_data();
    void typedLimits();
    void fixAndSetters();
    void rampIsPainted();
    void textFitting();
    void rotatedBoxAndPainterRestored();
};

void tst_ColorBar::greyLevels_data()
{
    QTest::addColumn<int>("loY");
    QTest::addColumn<int>("hiY");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("grey");
    // A 400-pixel bar: the lower handle is dragged from the bottom to loY, the
    // upper from the top to hiY (fraction = (400 - y) / 400).
    QTest::newRow("full window, 0") << 400 << 0 << 0.0 << 0;
    QTest::newRow("full window, 0.5") << 400 << 0 << 0.5 << 128;
    QTest::newRow("full window, 0.998 is white") << 400 << 0 << 0.998 << 255;
    QTest::newRow("full window, 1") << 400 << 0 << 1.0 << 255;
    QTest::newRow("full window, below range") << 400 << 0 << -1.0 << 0;
    QTest::newRow("full window, above range") << 400 << 0 << 2.0 << 255;
    QTest::newRow("window 0.25-0.75, 0.25") << 300 << 100 << 0.25 << 0;
    QTest::newRow("window 0.25-0.75, 0.5") << 300 << 100 << 0.5 << 128;
    QTest::newRow("window 0.25-0.75, 0.75") << 300 << 100 << 0.75 << 255;
    QTest::newRow("window 0.25-0.75, 0.375") << 300 << 100 << 0.375 << 64;
}

void tst_ColorBar::greyLevels()
{
    QFETCH(int, loY);
    QFETCH(int, hiY);
    QFETCH(double, value);
    QFETCH(int, grey);
    ColorBar bar;
    bar.resize(25, 400);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    if (loY != 400)
        drag(&bar, 395, loY);
    if (hiY != 0)
        drag(&bar, 5, hiY);
    QCOMPARE(bar.lo(), (400 - loY) / 400.0);
    QCOMPARE(bar.hi(), (400 - hiY) / 400.0);
    QCOMPARE(bar.grey(value), grey);
    QCOMPARE(bar.greyOfFraction(value), grey);
}

void tst_ColorBar::degenerateRangesGiveDefinedGreys()
{
    ColorBar bar;
    bar.setMin(3.0);
    bar.setMax(3.0);
    QCOMPARE(bar.grey(3.0), 0);   // 0/0
    QCOMPARE(bar.grey(4.0), 255); // +inf
    QCOMPARE(bar.grey(2.0), 0);   // -inf
    QCOMPARE(bar.grey(std::nan("")), 0);
}

void tst_ColorBar::dragEmitsOncePerMove()
{
    ColorBar bar;
    bar.resize(25, 400);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QSignalSpy newBar(&bar, &ColorBar::newBar);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(bar.isDragging());
    for (int y = 20; y <= 100; y += 20)
        QTest::mouseMove(&bar, QPoint(10, y));
    QCOMPARE(newBar.count(), 5);
    QCOMPARE(bar.hi(), 0.75);
    // Dragging past the end of the bar is not clamped.
    QTest::mouseMove(&bar, QPoint(10, -40));
    QCOMPARE(bar.hi(), 1.1);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, -40));
    QVERIFY(!bar.isDragging());
    // Moves without a button change nothing and say nothing.
    QTest::mouseMove(&bar, QPoint(10, 200));
    QCOMPARE(newBar.count(), 6);
    QCOMPARE(bar.lo(), 0.0);
}

void tst_ColorBar::pressMidwayTakesNoHandle()
{
    ColorBar bar;
    bar.resize(25, 400);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QSignalSpy newBar(&bar, &ColorBar::newBar);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, 200));
    QVERIFY(!bar.isDragging());
    QTest::mouseMove(&bar, QPoint(10, 150));
    QCOMPARE(newBar.count(), 1);
    QCOMPARE(bar.lo(), 0.0);
    QCOMPARE(bar.hi(), 1.0);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, 150));
}

void tst_ColorBar::typedLimits_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("value");
    QTest::newRow("max abc reads 0") << "CMaxLE"
                                     << "abc" << 0.0;
    QTest::newRow("max number") << "CMaxLE"
                                << "2.5e3" << 2500.0;
    QTest::newRow("max nan reads 0") << "CMaxLE"
                                     << "nan" << 0.0;
    QTest::newRow("min negative") << "CMinLE"
                                  << "-12.25" << -12.25;
    QTest::newRow("min inf reads 0") << "CMinLE"
                                     << "inf" << 0.0;
}

void tst_ColorBar::typedLimits()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(double, value);
    ColorBar bar;
    bar.setMin(-1);
    bar.setMax(5);
    bar.panel()->show();
    QLineEdit *line = edit(&bar, field.toLatin1().constData());
    QVERIFY(line);
    QSignalSpy newBar(&bar, &ColorBar::newBar);
    line->clear();
    QTest::keyClicks(line, typed);
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(newBar.count(), 1);
    QCOMPARE(field == "CMaxLE" ? bar.max() : bar.min(), value);
}

void tst_ColorBar::fixAndSetters()
{
    ColorBar bar;
    QSignalSpy newBar(&bar, &ColorBar::newBar);
    bar.setMin(-0.123456789);
    bar.setMax(1e-7);
    QCOMPARE(edit(&bar, "CMinLE")->text(), QString("-0.123457"));
    QCOMPARE(edit(&bar, "CMaxLE")->text(), QString("1e-07"));
    QCOMPARE(newBar.count(), 0);
    QVERIFY(!bar.fixed());
    bar.setFixColorScale(true);
    QVERIFY(bar.panel()->findChild<QCheckBox *>("CFix")->isChecked());
    QVERIFY(bar.fixed());
    QCOMPARE(bar.greyScale().min, -0.123456789);
}

void tst_ColorBar::rampIsPainted()
{
    ColorBar bar;
    bar.resize(25, 400);
    const QImage shot = bar.grab().toImage();
    QCOMPARE(qGray(shot.pixel(1, 399)), 0);
    // Row y shows fraction (399 - y) / 400: y = 200 gives grey 127.
    QCOMPARE(qGray(shot.pixel(1, 200)), 127);
    // The upper handle line is at the top, in its own colour.
    QCOMPARE(shot.pixel(1, 0), qRgb(0, 192, 255));
}

void tst_ColorBar::textFitting()
{
    QImage canvas(200, 200, QImage::Format_RGB32);
    QPainter p(&canvas);
    const QFont font;
    const QString text = "12345.6";
    QFont at10 = font;
    at10.setPointSizeF(10);
    p.setFont(at10);
    const QRectF m = p.boundingRect(QRectF(0, 0, 5000, 5000), Qt::AlignLeft, text);
    QVERIFY(m.width() > 0 && m.height() > 0);
    const QSizeF box(m.width() / 2, m.height() * 2);
    QCOMPARE(DrawText::fittedPointSize(&p, box, font, Qt::AlignLeft, text, 0), 5.0);
    QCOMPARE(DrawText::fittedPointSize(&p, box, font, Qt::AlignLeft, text, 4), 4.0);
    QCOMPARE(DrawText::fittedPointSize(&p, box * 4, font, Qt::AlignLeft, text, 0), 20.0);
}

void tst_ColorBar::rotatedBoxAndPainterRestored()
{
    QCOMPARE(DrawText::rotatedBox(0, 100, 50, 80, 20), QRectF(60, 40, 80, 20));
    const QRectF turned = DrawText::rotatedBox(90, 100, 50, 80, 20);
    // Its centre lands on (100, 50) once the painter is turned by 90 degrees.
    QTransform t;
    t.rotate(90);
    const QPointF centre = t.map(turned.center());
    QVERIFY(qAbs(centre.x() - 100) < 1e-6 && qAbs(centre.y() - 50) < 1e-6);

    QImage canvas(200, 200, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter p(&canvas);
    p.setPen(Qt::white);
    QFont font;
    font.setPointSize(12);
    p.setFont(font);
    DrawText drawer;
    drawer.rotatedText(&p, 90, 100, 100, 150, 40, font, Qt::AlignCenter, 1, "Rotated", 10, true,
                       Qt::red);
    QVERIFY(p.transform().isIdentity());
    QCOMPARE(p.font().pointSize(), 12);
    p.end();
    // The background fill stands upright: tall and narrow around the centre.
    QCOMPARE(canvas.pixel(100, 40), qRgb(255, 0, 0));
    QCOMPARE(canvas.pixel(40, 100), qRgb(0, 0, 0));
}

QTEST_MAIN(tst_ColorBar)
#include "tst_ColorBar.moc"
