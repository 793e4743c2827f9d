#include "CtTestStack.h"
#include "ct/CtCalc.h"
#include "ct/SgmGeom.h"
#include "disp/ImgDispWPV.h"
#include "disp/ProcCtrl.h"
#include "disp/Sinogram.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int waitMs = 60000;

QVector<double> valuesOf(const CtFbp &core)
{
    const int n = core.resultSize();
    return QVector<double>(core.resultRow(0), core.resultRow(0) + qsizetype(n) * n);
}

QString fieldText(const CtCalc &panel, const char *name)
{
    return panel.findChild<QLineEdit *>(QLatin1String(name))->text();
}

} // namespace

class tst_CtCalc : public QObject
{
    Q_OBJECT

private:
    static constexpr double cor = 23.25;
    static constexpr int slice = 2;
    CtTestStack scan;
    Sinogram sinogram;
    ProcCtrl procCtrl;
    std::unique_ptr<CtCalc> ct1;

    void setAtOnce(bool f)
    {
        ct1->findChild<QCheckBox *>(QStringLiteral("CalcAtOnce"))->setChecked(f);
    }
    int fftLength(double c) const { return setGeom(true, scan.width, c).width / 2 * 2; }

private slots:
    void initTestCase();
    void init();
    void ct1IsCt2DividedByP_data();
    void ct1IsCt2DividedByP();
    void oneByOneRefreshesOncePerProjection();
    void toggleStopsAfterTheStepInProgress_data();
    void toggleStopsAfterTheStepInProgress();
    void regionNeverSetBecomesFullAndStays();
    void regionSetBeforeTheRunIsKept();
    void regionChangeOfTheLastBoundIsReported();
    void unusableSinogramEndsTheRun();
};

void tst_CtCalc::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(scan.make(48, 5, 36, cor));
    sinogram.setImgDatas(&scan.stack);
    sinogram.setProcCtrl(&procCtrl);
    procCtrl.setRotAxIsV(true);
}

void tst_CtCalc::init()
{
    procCtrl.setCor(cor);
    procCtrl.setSliceNo(slice);
    ct1 = std::make_unique<CtCalc>();
    ct1->setSinogram(&sinogram);
}

void tst_CtCalc::ct1IsCt2DividedByP_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("at once") << true;
    QTest::newRow("one by one") << false;
}

void tst_CtCalc::ct1IsCt2DividedByP()
{
    QFETCH(bool, atOnce);
    setAtOnce(atOnce);
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    ct1->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, waitMs);
    QVERIFY(!ct1->isRunning());

    const QVector<double> ct2 = coreResult(scan.stack, cor, slice);
    const QVector<double> ct1Values = valuesOf(ct1->core());
    QCOMPARE(ct1Values.size(), ct2.size());
    double largest = 0;
    for (double v : ct2)
        largest = std::max(largest, std::fabs(v));
    QVERIFY(largest > 0);
    const double p = scan.count;
    for (qsizetype i = 0; i < ct2.size(); ++i) {
        const double error = std::fabs(ct1Values[i] - ct2[i] / p);
        if (!(error <= 1e-12 * largest))
            QFAIL(qPrintable(
                QStringLiteral("pixel %1: %2 vs %3").arg(i).arg(ct1Values[i]).arg(ct2[i] / p)));
    }
    QCOMPARE(fieldText(*ct1, "ShowSliceNo"), QString::number(slice));
    QVERIFY(!fieldText(*ct1, "SpentT").isEmpty());
}

void tst_CtCalc::oneByOneRefreshesOncePerProjection()
{
    setAtOnce(false);
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    QList<qint64> pictures;
    connect(ct1.get(), &CtCalc::finishedCalcOne, this,
            [&] { pictures << ct1->display()->image.cacheKey(); });
    ct1->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, waitMs);
    QCOMPARE(pictures.size(), scan.count);
    // Every step drew a new picture.
    QList<qint64> distinct = pictures;
    std::sort(distinct.begin(), distinct.end());
    QCOMPARE(std::unique(distinct.begin(), distinct.end()) - distinct.begin(),
             qsizetype(scan.count));
    QTest::qWait(20);
    QCOMPARE(finished.count(), 1);
}

void tst_CtCalc::toggleStopsAfterTheStepInProgress_data()
{
    QTest::addColumn<bool>("restartAtOnce");
    QTest::newRow("stop") << false;
    QTest::newRow("stop and start again before the relay settles") << true;
}

void tst_CtCalc::toggleStopsAfterTheStepInProgress()
{
    QFETCH(bool, restartAtOnce);
    setAtOnce(false);
    constexpr int stopAfter = 6;
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    int steps = 0;
    QVector<double> partial;
    connect(ct1.get(), &CtCalc::finishedCalcOne, this, [&] {
        if (++steps != stopAfter)
            return;
        ct1->calcCt();
        partial = valuesOf(ct1->core());
        if (restartAtOnce)
            ct1->calcCt();
    });
    ct1->calcCt();
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 1, waitMs);
    QCOMPARE(partial, ct1PartialResult(scan.stack, cor, slice, stopAfter));

    if (!restartAtOnce) {
        // The relay events still on their way do no more work.
        QTest::qWait(50);
        QCOMPARE(steps, stopAfter);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!ct1->isRunning());
        QCOMPARE(valuesOf(ct1->core()), partial);
        ct1->calcCt();
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, waitMs);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 2);
    QCOMPARE(steps, stopAfter + scan.count);
    QCOMPARE(valuesOf(ct1->core()), ct1PartialResult(scan.stack, cor, slice, scan.count));
}

void tst_CtCalc::regionNeverSetBecomesFullAndStays()
{
    setAtOnce(true);
    // The initial region is only a placeholder.
    QCOMPARE(fieldText(*ct1, "Crx1"), QStringLiteral("2047"));
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    QSignalSpy region(ct1.get(), &CtCalc::cRUpdated);
    const double smallCor = 20.5;
    const int n1 = fftLength(smallCor);
    procCtrl.setCor(smallCor);
    ct1->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, waitMs);
    QCOMPARE(region.count(), 1);
    QCOMPARE(region[0], (QVariantList{0.0, 0.0, double(n1), double(n1)}));
    QCOMPARE(fieldText(*ct1, "Crz1"), QString::number(n1));

    procCtrl.setCor(cor);
    ct1->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, waitMs);
    QVERIFY(fftLength(cor) != n1);
    QCOMPARE(region.count(), 1);
    QCOMPARE(fieldText(*ct1, "Crx1"), QString::number(n1));
    QCOMPARE(ct1->core().resultSize(), fftLength(cor));
}

void tst_CtCalc::regionSetBeforeTheRunIsKept()
{
    setAtOnce(true);
    ct1->setCR(3, 4, 20, 25);
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    QSignalSpy region(ct1.get(), &CtCalc::cRUpdated);
    ct1->calcCt();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, waitMs);
    QCOMPARE(region.count(), 0);
    const QVector<double> ct2 = coreResult(scan.stack, cor, slice, 3, 4, 20, 25);
    const QVector<double> values = valuesOf(ct1->core());
    QCOMPARE(values.size(), ct2.size());
    for (qsizetype i = 0; i < ct2.size(); ++i)
        QCOMPARE(values[i] == 0.0, ct2[i] == 0.0);
}

void tst_CtCalc::regionChangeOfTheLastBoundIsReported()
{
    QSignalSpy region(ct1.get(), &CtCalc::cRUpdated);
    ct1->setCR(1, 2, 30, 31);
    ct1->setCR(1, 2, 30, 31);
    ct1->setCR(1, 2, 30, 32);
    QCOMPARE(region.count(), 2);
    QCOMPARE(region[1], (QVariantList{1.0, 2.0, 30.0, 32.0}));
}

// The run ends even without a sinogram, so that whoever started it goes on.
void tst_CtCalc::unusableSinogramEndsTheRun()
{
    procCtrl.setCor(0.5);
    QSignalSpy finished(ct1.get(), &CtCalc::calcFinished);
    ct1->calcCt();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!ct1->isRunning());
    QVERIFY(!fieldText(*ct1, "StartT").isEmpty());
    QCOMPARE(fieldText(*ct1, "Crx1"), QStringLiteral("2047"));
}

QTEST_MAIN(tst_CtCalc)
#include "tstgui_CtCalc.moc"
