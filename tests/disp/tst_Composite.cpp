#include "DispTestUtil.h"

#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ImgDispWPV.h"
#include "disp/RawDisp.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// Stands in for a reconstruction engine: counts the picture rebuilds asked of it.
class tst_Composite : public QObject
{
    Q_OBJECT

private:
    static QString field(QWidget *w, const char *name)
    {
        auto *line = w->findChild<QLineEdit *>(name);
        return line ? line->text() : QStringLiteral("<missing>");
    }
    static QStringList fields(QWidget *w, const QStringList &names)
    {
        QStringList out;
        for (const QString &n : names)
            out << field(w, n.toLatin1().constData());
        return out;
    }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void formsCarryTheirNames();
    void positionAndValueReadOut();
    void scaleResetButton();
    void barDragRebuildsOncePerMove();
    void setCRChangeDetection_data();
    void setCRChangeDetection();
    void nonFiniteRegionsSettle();
    void zoomUpdatesDisplayRegionAndSetCRegion();
    void setDRWindowSurvivesNewImage();
    void spentTime();
    void resultReadOut();
    void forcedBarLimits();
};

void tst_Composite::formsCarryTheirNames()
{
    RawDisp raw;
    QVERIFY(raw.findChild<QFrame *>("PVFrame"));
    QCOMPARE(raw.findChild<QPushButton *>("ResetScale")->text(), QString("Scale Reset"));
    QVERIFY(raw.findChild<ColorBar *>("CBar"));
    QVERIFY(raw.findChild<QFrame *>("CBarUIBase"));
    QCOMPARE(raw.width(), raw.height());
    QVERIFY(raw.imgDatas == nullptr);

    CtCalc2Ui panel;
    for (const char *name : {"Drx0", "Drz0", "Drx1", "Drz1", "Crx0", "Crz0", "Crx1", "Crz1",
                             "StartT", "EndT", "SpentT", "ShowSliceNo"})
        QVERIFY2(panel.findChild<QLineEdit *>(name), name);
    QCOMPARE(panel.findChild<QPushButton *>("SetCRegion")->text(), QString("Set To C. Region"));
    QVERIFY(panel.findChild<ImgDispWPV *>("DispCt"));
    QCOMPARE(fields(&panel, {"Crx0", "Crz0", "Crx1", "Crz1"}),
             QStringList({"0", "0", "2047", "2047"}));
    QVERIFY(!panel.calcRegionChanged());
    QVERIFY(field(&panel, "Drx0") == "0" && panel.findChild<QLineEdit *>("Drx0")->isReadOnly());
}

void tst_Composite::positionAndValueReadOut()
{
    ImgDispWPV disp;
    disp.resize(300, 300);
    disp.image = DispTest::ramp(100, 50);
    disp.newImage();
    disp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&disp));
    QSignalSpy inv(&disp, &ImgDispWPV::newPosInvY);
    const QSize area = disp.dispA()->size();
    DispTest::move(disp.dispA(), QPoint(area.width() / 2, area.height() / 4));
    QCOMPARE(inv.count(), 1);
    // The picture is drawn with square pixels: the area shows the view, the image
    // window widened to the area's shape.
    const QRectF view = disp.view();
    const int x = int(view.x() + area.width() / 2 * view.width() / area.width());
    const int y = int(view.y() + area.height() / 4 * view.height() / area.height());
    QCOMPARE(inv.at(0).at(0).toDouble(), double(x));
    QCOMPARE(inv.at(0).at(1).toDouble(), double(y));
    QCOMPARE(disp.posXText(), QString::number(x));
    QCOMPARE(disp.posYText(), QString::number(y));
    disp.setVal(1234567.0);
    QCOMPARE(disp.valText(), QString("1.23457e+06"));
}

void tst_Composite::scaleResetButton()
{
    ImgDispWPV disp;
    disp.image = DispTest::ramp(64, 64);
    disp.newImage();
    QSignalSpy newS(&disp, &ImgDisp::newS);
    disp.s = QRectF(10, 10, 5, 5);
    QTest::mouseClick(disp.findChild<QPushButton *>("ResetScale"), Qt::LeftButton);
    QCOMPARE(disp.s, QRectF(0, 0, 64, 64));
    QCOMPARE(newS.count(), 0);
}

void tst_Composite::barDragRebuildsOncePerMove()
{
    CtCalc2Ui panel;
    QSignalSpy rebuilds(panel.display(), &ImgDispWCBar::newBar);
    panel.resize(500, 700);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    ColorBar *bar = panel.bar();
    QVERIFY(bar->height() > 100);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, 3));
    for (int i = 1; i <= 7; ++i)
        QTest::mouseMove(bar, QPoint(5, 3 + 10 * i));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, 73));
    QCOMPARE(rebuilds.count(), 7);
}

void tst_Composite::setCRChangeDetection_data()
{
    QTest::addColumn<QList<double>>("region");
    QTest::addColumn<bool>("reported");
    QTest::newRow("same values again") << QList<double>{0, 0, 2047, 2047} << false;
    QTest::newRow("only the last corner") << QList<double>{0, 0, 2047, 2046} << true;
    QTest::newRow("below the six digits shown") << QList<double>{0, 0, 2047.0001, 2047} << false;
    QTest::newRow("first corner") << QList<double>{0.5, 0, 2047, 2047} << true;
}

void tst_Composite::setCRChangeDetection()
{
    QFETCH(QList<double>, region);
    QFETCH(bool, reported);
    CtCalc2Ui panel;
    QSignalSpy cr(&panel, &CtCalc2Ui::cRUpdated);
    panel.setCR(region[0], region[1], region[2], region[3]);
    QCOMPARE(cr.count(), reported ? 1 : 0);
    QCOMPARE(panel.calcRegionChanged(), reported);
    if (reported)
        QCOMPARE(cr.at(0).at(3).toDouble(), region[3]);
}

void tst_Composite::nonFiniteRegionsSettle()
{
    CtCalc2Ui panel;
    QSignalSpy dr(&panel, &CtCalc2Ui::dRUpdated);
    QSignalSpy cr(&panel, &CtCalc2Ui::cRUpdated);
    const double nan = std::nan("");
    panel.setCR(nan, 0, 2047, 2047);
    QCOMPARE(cr.count(), 0);
    panel.setDR(1, 2, 3, 4);
    QCOMPARE(dr.count(), 1);
    panel.setDR(nan, HUGE_VAL, 3, 4);
    QCOMPARE(dr.count(), 2);
    QCOMPARE(fields(&panel, {"Drx0", "Drz0", "Drx1", "Drz1"}), QStringList({"0", "0", "3", "4"}));
    panel.setDR(nan, HUGE_VAL, 3, 4);
    QCOMPARE(dr.count(), 2);
    QVERIFY(std::isfinite(panel.display()->s.x()));
    // Two panels forwarding their regions to each other stop after one round.
    CtCalc2Ui other;
    connect(&panel, &CtCalc2Ui::cRUpdated, &other, &CtCalc2Ui::setCR);
    connect(&other, &CtCalc2Ui::cRUpdated, &panel, &CtCalc2Ui::setCR);
    panel.setCR(1, 1, 9, 9);
    QCOMPARE(other.cRx1(), 9.0);
}

void tst_Composite::zoomUpdatesDisplayRegionAndSetCRegion()
{
    CtCalc2Ui panel;
    panel.resize(500, 700);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    ImgDispWPV *disp = panel.display();
    panel.showResult(DispTest::ramp(256, 256), QVector<double>(256 * 256, 1.0), 256, 256);
    QSignalSpy dr(&panel, &CtCalc2Ui::dRUpdated);
    QSignalSpy cr(&panel, &CtCalc2Ui::cRUpdated);
    const QPoint at(disp->dispA()->width() / 3, disp->dispA()->height() / 3);
    DispTest::move(disp->dispA(), at);
    DispTest::wheel(disp->dispA(), at, 120);
    QCOMPARE(dr.count(), 1);
    const QRectF s = disp->s;
    QCOMPARE(dr.at(0).at(0).toDouble(), s.x());
    QCOMPARE(dr.at(0).at(3).toDouble(), s.y() + s.height());
    QCOMPARE(field(&panel, "Drx0"), QString::number(s.x(), 'g', 6));
    QCOMPARE(field(&panel, "Drz1"), QString::number(s.y() + s.height(), 'g', 6));

    QTest::mouseClick(panel.findChild<QPushButton *>("SetCRegion"), Qt::LeftButton);
    QCOMPARE(cr.count(), 1);
    QCOMPARE(panel.cRx0(), std::floor(panel.dRx0()));
    QCOMPARE(panel.cRz0(), std::floor(panel.dRz0()));
    QCOMPARE(panel.cRx1(), std::ceil(panel.dRx1()));
    QCOMPARE(panel.cRz1(), std::ceil(panel.dRz1()));
    QVERIFY(panel.calcRegionChanged());
}

void tst_Composite::setDRWindowSurvivesNewImage()
{
    CtCalc2Ui panel;
    QSignalSpy dr(&panel, &CtCalc2Ui::dRUpdated);
    panel.setDR(10, 20, 110, 70);
    QCOMPARE(dr.count(), 1);
    panel.image() = DispTest::ramp(256, 256);
    panel.newImage();
    QCOMPARE(panel.display()->s, QRectF(10, 20, 100, 50));
    QCOMPARE(dr.count(), 1);

    QTemporaryDir dir;
    panel.saveImage(dir.filePath("r.png"));
    QCOMPARE(QImage(dir.filePath("r.png")).size(), QSize(100, 50));
}

void tst_Composite::spentTime()
{
    CtCalc2Ui panel;
    const QDate day(2026, 1, 2);
    panel.startTime = QDateTime(day, QTime(10, 0, 0, 0));
    panel.endTime = QDateTime(day, QTime(10, 0, 1, 500));
    panel.showSpentT();
    QCOMPARE(field(&panel, "SpentT"), QString("1.5"));
    panel.showSliceNo(1234);
    QCOMPARE(field(&panel, "ShowSliceNo"), QString("1234"));
    panel.showStartTime();
    QVERIFY(QTime::fromString(field(&panel, "StartT"), "hh:mm:ss.zzz").isValid());
}

void tst_Composite::resultReadOut()
{
    CtCalc2Ui panel;
    QVector<double> values(4 * 3);
    for (int i = 0; i < values.size(); ++i)
        values[i] = i * 0.5;
    panel.showResult(DispTest::ramp(4, 3), values, 4, 3);
    panel.noticedNewPos(2.7, 1.2);
    QCOMPARE(panel.display()->valText(), QString("3")); // row 1, column 2 = index 6
    panel.noticedNewPos(4.0, 0);
    QCOMPARE(panel.display()->valText(), QString("3"));
    panel.noticedNewPos(-0.5, 0); // truncates to column 0
    QCOMPARE(panel.display()->valText(), QString("0"));
    // Values that do not fit the stated size are not kept.
    panel.showResult(DispTest::ramp(4, 3), QVector<double>(5), 4, 3);
    panel.noticedNewPos(1, 1);
    QCOMPARE(panel.display()->valText(), QString("0"));
}

void tst_Composite::forcedBarLimits()
{
    CtCalc2Ui panel;
    QSignalSpy newBar(panel.display(), &ImgDispWCBar::newBar);
    panel.setCBarMinMaxForced(-2, 7);
    panel.setFixColorScale(true);
    QCOMPARE(panel.bar()->min(), -2.0);
    QCOMPARE(panel.bar()->max(), 7.0);
    QVERIFY(panel.bar()->fixed());
    QCOMPARE(newBar.count(), 0);
}

QTEST_MAIN(tst_Composite)
#include "tst_Composite.moc"
