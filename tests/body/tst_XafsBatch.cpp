#include "body/XafsBatch.h"

#include <QSignalSpy>
#include <QTest>

// The sequencer's order of steps, driven as the main window drives it.
class TestXafsBatch : public QObject
{
    Q_OBJECT
private slots:
    void runOverSets();
    void idleIgnoresSteps();
    void secondStartStops();
    void stopGivesTheReason();
};

void TestXafsBatch::runOverSets()
{
    XafsBatch seq;
    QStringList stages;
    connect(&seq, &XafsBatch::stage, this, [&](const QString &msg, qint64 dEt) {
        stages << msg;
        QVERIFY(dEt >= 0);
    });
    QSignalSpy first(&seq, &XafsBatch::setFirstImageSet);
    QSignalSpy next(&seq, &XafsBatch::setNextImageSet);
    QSignalSpy calc(&seq, &XafsBatch::execCalculation);
    QSignalSpy done(&seq, &XafsBatch::finished);

    seq.start();
    QVERIFY(seq.isRunning());
    QCOMPARE(first.size(), 1);
    for (int set = 0; set < 3; ++set) {
        seq.loadedDataSet();
        seq.calcFinished();
    }
    seq.noMoreSets();
    QVERIFY(!seq.isRunning());
    QCOMPARE(calc.size(), 3);
    QCOMPARE(next.size(), 3);
    QCOMPARE(done.size(), 1);
    QCOMPARE(stages, QStringList({"Data Loading", "Calculating", "Finished Calc.", "Calculating",
                                  "Finished Calc.", "Calculating", "Finished Calc.", "Finished"}));
}

void TestXafsBatch::idleIgnoresSteps()
{
    XafsBatch seq;
    QSignalSpy calc(&seq, &XafsBatch::execCalculation);
    QSignalSpy next(&seq, &XafsBatch::setNextImageSet);
    QSignalSpy done(&seq, &XafsBatch::finished);
    seq.loadedDataSet();
    seq.calcFinished();
    seq.noMoreSets();
    QCOMPARE(calc.size(), 0);
    QCOMPARE(next.size(), 0);
    QCOMPARE(done.size(), 0);
}

void TestXafsBatch::secondStartStops()
{
    XafsBatch seq;
    QSignalSpy done(&seq, &XafsBatch::finished);
    QSignalSpy calc(&seq, &XafsBatch::execCalculation);
    seq.start();
    seq.start();
    QVERIFY(!seq.isRunning());
    QCOMPARE(done.size(), 1);
    // The CT run in progress still finishes; its report finds the sequencer idle.
    seq.calcFinished();
    seq.loadedDataSet();
    QCOMPARE(calc.size(), 0);
}

// A set that can not be computed ends the run with a stage naming it; an idle
// sequencer has nothing to stop.
void TestXafsBatch::stopGivesTheReason()
{
    XafsBatch seq;
    QStringList stages;
    connect(&seq, &XafsBatch::stage, this, [&](const QString &msg, qint64) { stages << msg; });
    QSignalSpy done(&seq, &XafsBatch::finished);
    seq.stop("never started");
    QCOMPARE(done.size(), 0);
    seq.start();
    seq.loadedDataSet();
    seq.stop("set 2 (7112_0eV): no I0");
    QVERIFY(!seq.isRunning());
    QCOMPARE(done.size(), 1);
    QCOMPARE(stages.last(), QString("set 2 (7112_0eV): no I0"));
    // The run in progress still reports its end, to an idle sequencer.
    QSignalSpy next(&seq, &XafsBatch::setNextImageSet);
    seq.calcFinished();
    QCOMPARE(next.size(), 0);
}

QTEST_GUILESS_MAIN(TestXafsBatch)
#include "tst_XafsBatch.moc"
