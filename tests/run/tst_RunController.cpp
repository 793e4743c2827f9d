// The run layer without a window: slice plans, refusals, hand-out, tallies,
// late slices of a stopped run, deferral, the script's answer and the account.

#include "ct/DataSaver.h"
#include "run/EnginePool.h"
#include "run/RunController.h"
#include "run/SlicePlan.h"

#include <QtTest>
#include <climits>

namespace {

// Engines that compute nothing: requests are recorded, answers given by the test.
class FakePool : public EnginePool
{
    Q_OBJECT
public:
    FakePool(int engines, int group)
        : engines(engines)
        , group(group)
    {
    }
    int count() const override { return engines; }
    bool isBusy(int) const override { return false; }
    void setupRun(const RunRequest &) override { ++setUps; }
    int slicesPerPass(const RunRequest &) const override { return group; }
    void setSliceGroup(int engine, int slices) override { groups << qMakePair(engine, slices); }
    void request(int engine, bool, double, int slice, bool) override
    {
        requests << qMakePair(engine, slice);
    }
    // Answers the oldest request still open, as an engine would.
    void finishNext(bool computed = true, bool saved = true)
    {
        const QPair<int, int> r = requests.takeFirst();
        emit sliceFinished(r.first, r.second, computed, saved);
    }

    int engines;
    int group;
    int setUps = 0;
    QList<QPair<int, int>> requests;
    QList<QPair<int, int>> groups;
};

RunRequest rangeRequest(int from, int to, int step, int threads = 2)
{
    RunRequest r;
    r.params.calcCt1 = false;
    r.params.calcCt2 = true;
    r.params.autoExec = true;
    r.params.sliceFrom = from;
    r.params.sliceTo = to;
    r.params.sliceStep = step;
    r.params.threads = threads;
    r.params.cor = 32;
    r.projections = 10;
    r.imageWidth = 64;
    r.imageHeight = 20;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(RunRequest)

class tst_RunController : public QObject
{
    Q_OBJECT

private slots:
    void clipsTheRangeToTheImage_data();
    void clipsTheRangeToTheImage();
    void refusedRunsEndAtOnceAndAnswerNg_data();
    void refusedRunsEndAtOnceAndAnswerNg();
    void sharesSlicesFairlyAndEnds();
    void lateSliceOfAStoppedRunCountsForNoRun();
    void changesWaitForTheEngines();
    void accountAndExitStatus();
};

void tst_RunController::clipsTheRangeToTheImage_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("any");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("refused");
    QTest::addColumn<QList<int>>("kept"); // from, to, step, total
    QTest::addColumn<QString>("outside");
    // Slices 0 to 19 lie in the image.
    QTest::newRow("inside") << 2 << 8 << 3 << true << 3 << 0 << QList<int>{2, 8, 3, 3} << "";
    QTest::newRow("both ends outside")
        << -4 << 25 << 2 << true << 15 << 5 << QList<int>{0, 18, 2, 10} << "-4 to -2, 20 to 24";
    QTest::newRow("downward, step sign taken from the range")
        << 22 << 10 << 5 << true << 3 << 1 << QList<int>{17, 12, -5, 2} << "22";
    QTest::newRow("all outside") << 30 << 40 << 1 << false << 11 << 11 << QList<int>{}
                                 << "30 to 40";
    QTest::newRow("step of INT_MIN")
        << 5 << 5 << INT_MIN << true << 1 << 0 << QList<int>{5, 5, INT_MAX, 1} << "";
    QTest::newRow("range from below zero")
        << -2 << 0 << 1 << true << 3 << 2 << QList<int>{0, 0, 1, 1} << "-2 to -1";
    QTest::newRow("range over every int")
        << INT_MIN << INT_MAX << 1 << true << INT_MAX << INT_MAX << QList<int>{0, 19, 1, 20}
        << "-2147483648 to -1, 20 to 2147483647";
    QTest::newRow("a step of nearly every int")
        << INT_MAX << INT_MIN << INT_MAX << true << 3 << 2 << QList<int>{0, 0, -INT_MAX, 1}
        << "2147483647, -2147483647";
    QTest::newRow("range near INT_MAX") << INT_MAX - 1 << INT_MAX << 1 << false << 2 << 2
                                        << QList<int>{} << "2147483646 to 2147483647";
}

void tst_RunController::clipsTheRangeToTheImage()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(bool, any);
    QFETCH(int, asked);
    QFETCH(int, refused);
    QFETCH(QList<int>, kept);
    QFETCH(QString, outside);
    const SlicePlan::Clip c = SlicePlan::clip(from, to, step, 19);
    QCOMPARE(c.any, any);
    QCOMPARE(c.asked, asked);
    QCOMPARE(c.refused, refused);
    QCOMPARE(c.outside.join(", "), outside);
    if (any)
        QCOMPARE((QList<int>{c.from, c.to, c.step, c.total}), kept);
}

void tst_RunController::refusedRunsEndAtOnceAndAnswerNg_data()
{
    QTest::addColumn<RunRequest>("request");
    QTest::addColumn<int>("failures");
    RunRequest none = rangeRequest(0, 3, 1);
    none.projections = 0;
    RunRequest badI0 = rangeRequest(0, 3, 1);
    badI0.inputFailure = "the I0 image could not be loaded : x.img";
    RunRequest nanCor = rangeRequest(0, 3, 1);
    nanCor.params.cor = std::nan("");
    RunRequest edgeCor = rangeRequest(0, 3, 1);
    edgeCor.params.cor = 0.5;
    RunRequest step0 = rangeRequest(0, 3, 0);
    RunRequest single = rangeRequest(0, 3, 1);
    single.params.autoExec = false;
    single.params.slice = 20;
    RunRequest angles = rangeRequest(0, 3, 1);
    angles.params.geometry = ScanGeometry::fromAngles({0.0, 90.0}, 180, "HDF5");
    RunRequest noAngleFile = rangeRequest(0, 3, 1);
    noAngleFile.params.anglesFile = "/nonexistent/angles.txt";
    QTest::newRow("angle count differs from projections") << angles << 1;
    QTest::newRow("angle file missing") << noAngleFile << 1;
    QTest::newRow("no images") << none << 1;
    QTest::newRow("I0 not loaded") << badI0 << 1;
    QTest::newRow("centre not a number") << nanCor << 1;
    QTest::newRow("centre leaves no sinogram") << edgeCor << 1;
    QTest::newRow("step 0") << step0 << 1;
    QTest::newRow("one slice outside") << single << 1;
    QTest::newRow("every slice outside, each a failure") << rangeRequest(25, 30, 1) << 6;
}

void tst_RunController::refusedRunsEndAtOnceAndAnswerNg()
{
    QFETCH(RunRequest, request);
    QFETCH(int, failures);
    FakePool pool(2, 4);
    DataSaver saver;
    RunController runs(&pool, &saver);
    QList<bool> answers;
    runs.answerScript = [&](bool ok) { answers << ok; };
    QSignalSpy ended(&runs, &RunController::calcFinished);
    QSignalSpy scriptHeard(&runs, &RunController::batchCalcFinished);
    runs.setScriptLine(true);
    runs.setAnswersScript(true);
    QVERIFY(!runs.start(request));
    runs.setScriptLine(false);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!runs.isRunning());
    QVERIFY(pool.requests.isEmpty());
    QCOMPARE(pool.setUps, 0);
    QVERIFY(runs.runFailure().startsWith("CT run not started : "));
    QVERIFY(scriptHeard.wait(2000));
    QCOMPARE(answers, (QList<bool>{false, false}));
    QCOMPARE(runs.totals().failures, failures);
}

void tst_RunController::sharesSlicesFairlyAndEnds()
{
    FakePool pool(2, 4);
    DataSaver saver;
    RunController runs(&pool, &saver);
    QSignalSpy ended(&runs, &RunController::calcFinished);
    QSignalSpy progress(&runs, &RunController::progress);
    QVERIFY(runs.start(rangeRequest(0, 7, 1)));
    // 8 slices on 2 engines in groups of up to 4: 4 + 4, in order.
    QCOMPARE(pool.groups, (QList<QPair<int, int>>{{0, 4}, {1, 4}}));
    QCOMPARE(pool.requests.size(), 8);
    QCOMPARE(pool.requests.at(4), qMakePair(1, 4));
    QCOMPARE(runs.requestsInFlight(), 8);
    while (!pool.requests.isEmpty())
        pool.finishNext();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(progress.count(), 8);
    QCOMPARE(progress.last().at(0).toInt(), 8);
    QCOMPARE(runs.totals().slicesComputed, 8);
    QCOMPARE(runs.totals().failures, 0);
}

void tst_RunController::lateSliceOfAStoppedRunCountsForNoRun()
{
    FakePool pool(1, 1);
    DataSaver saver;
    RunController runs(&pool, &saver);
    QList<bool> answers;
    runs.answerScript = [&](bool ok) { answers << ok; };
    QSignalSpy scriptHeard(&runs, &RunController::batchCalcFinished);
    QVERIFY(runs.start(rangeRequest(0, 5, 1, 1)));
    runs.stop();
    // The stopped run's slice comes back while the next run is under way.
    RunRequest one = rangeRequest(0, 0, 1, 1);
    one.params.autoExec = false;
    one.params.slice = 3;
    runs.setAnswersScript(true);
    QVERIFY(runs.start(one));
    pool.finishNext(false); // the old run's slice 0, not computed
    QVERIFY(runs.isRunning());
    pool.finishNext(true);
    QVERIFY(!runs.isRunning());
    QVERIFY(scriptHeard.wait(2000));
    // The late failure counts in the account but not against the new run.
    QCOMPARE(answers, QList<bool>{true});
    QCOMPARE(runs.totals().failures, 1);
}

void tst_RunController::changesWaitForTheEngines()
{
    FakePool pool(1, 1);
    DataSaver saver;
    RunController runs(&pool, &saver);
    QStringList done;
    QVERIFY(!runs.deferWhileRunning("Loading", [&] { done << "now"; }));
    QVERIFY(runs.start(rangeRequest(0, 1, 1, 1)));
    QVERIFY(runs.deferWhileRunning("Loading", [&] { done << "first"; }));
    QVERIFY(runs.deferWhileRunning("Batch command", [&] { done << "second"; }));
    pool.finishNext();
    QVERIFY(done.isEmpty());
    pool.finishNext();
    QTRY_COMPARE(done, (QStringList{"first", "second"}));
    QVERIFY(runs.isIdle());
}

void tst_RunController::accountAndExitStatus()
{
    RunAccount account;
    account.addSet();
    account.addSlicesComputed();
    account.addFailures(INT_MAX);
    account.addFailures(5);
    const RunAccount::Totals t = account.totals(3, 2);
    QCOMPARE(t.failures, INT_MAX);
    QCOMPARE(RunAccount::summaryLine(t),
             QString("Summary : sets 1, slices computed 1, files written 3, failures 2147483647, "
                     "skipped projection files 0"));
    QCOMPARE(RunAccount::exitStatus(0, true, t), 2);
    QCOMPARE(RunAccount::exitStatus(0, false, t), 0);
    QCOMPARE(RunAccount::exitStatus(1, true, RunAccount::Totals()), 1);
    QCOMPARE(RunAccount::exitStatus(0, true, RunAccount::Totals()), 0);
}

QTEST_GUILESS_MAIN(tst_RunController)
#include "tst_RunController.moc"
