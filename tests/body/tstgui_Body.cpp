#include "DemoGenerator.h"
#include "body/Body.h"
#include "ct/CtCalc2.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "imgdata/ImgDatas.h"
#include "select/SelectDataDir.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

// The main window driven as a user or a script drives it, on generated data.
class TestBody : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void calcWithNoImagesDoesNothing();
    void multiSliceRunHandsOutTheRange();
    void threadsLimitSlicesInProgress();
    void keepConditionsKeepsRangeAndCor();
    void pointSelectionSetsSliceAndCor();
    void imagesSeekIsClamped_data();
    void imagesSeekIsClamped();
    void rotationAxisCommands();
    void exclusiveCtSelection();
    void sequentialRangeOfSets();
    void secondSeqClickStopsAfterCurrentRun();
    void stopThenLoadWaitsForEngines();

private:
    void cmd(const QString &line) { body->batchExCmd(BatchCmd(line)); }
    template<class T>
    T *widget(const char *name)
    {
        return body->findChild<T *>(QString::fromLatin1(name));
    }
    void loadSet(int energy);
    QList<int> runSlices(int from, int to, int step, int threads);

    QTemporaryDir dir;
    DemoSettings settings;
    Body *body = nullptr;
};

void TestBody::initTestCase()
{
    QVERIFY(dir.isValid());
    settings.outDir = dir.filePath("data");
    settings.width = 40;
    settings.height = 12;
    settings.projections = 24;
    settings.energies = 10;
    settings.noise = false;
    settings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(settings).generate());
}

void TestBody::init()
{
    body = new Body;
}

void TestBody::cleanup()
{
    delete body;
    body = nullptr;
}

void TestBody::loadSet(int energy)
{
    DemoGenerator gen(settings);
    const QString text = DemoGenerator::energyText(gen.energyAt(energy));
    cmd("ct_rot_ax_is_v 1");
    cmd(QString("images_load \"%1/proj\" %2-%3-*.img").arg(settings.outDir, settings.sample, text));
    cmd(QString("i0_load \"%1/i0/%2\"").arg(settings.outDir, DemoGenerator::i0FileName(text)));
    cmd(QString("bg_load \"%1/bg/%2\"").arg(settings.outDir, DemoGenerator::bgFileName()));
    cmd(QString("ct_cor %1").arg(settings.corOrDefault()));
}

// Runs a multi-slice CT2 run and returns the slices handed out, in order.
QList<int> TestBody::runSlices(int from, int to, int step, int threads)
{
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    cmd(QString("ct_threads %1").arg(threads));
    cmd(QString("ct_slice_from %1").arg(from));
    cmd(QString("ct_slice_to %1").arg(to));
    cmd(QString("ct_slice_step %1").arg(step));
    QList<int> slices;
    int mostInFlight = 0;
    connect(body, &Body::startCt, this, [&](CtCalc2 *, bool, double, int slice, bool) {
        slices << slice;
        mostInFlight = std::max(mostInFlight, body->requestsInFlight());
    });
    QSignalSpy finished(body, &Body::calcFinished);
    widget<QPushButton>("CalcCT")->click();
    if (!finished.wait(30000))
        return {-1};
    // The run ends only when every slice handed out has come back.
    // Each engine takes up to slicesPerEngine() slices together.
    if (body->requestsInFlight() != 0 || mostInFlight > threads * body->slicesPerEngine())
        return {-2};
    return slices;
}

void TestBody::calcWithNoImagesDoesNothing()
{
    QSignalSpy finished(body, &Body::calcFinished);
    widget<QPushButton>("CalcCT")->click();
    QVERIFY(!body->isCalcRunning());
    QCOMPARE(finished.size(), 0);
    QVERIFY(widget<QLineEdit>("CalcStartT")->text().isEmpty());
}

void TestBody::multiSliceRunHandsOutTheRange()
{
    loadSet(0);
    QCOMPARE(body->imageStack()->count(), settings.projections);
    QCOMPARE(runSlices(10, 4, 3, 2), QList<int>({10, 7, 4}));
    QVERIFY(!widget<QLineEdit>("CalcEndT")->text().isEmpty());
}

void TestBody::threadsLimitSlicesInProgress()
{
    loadSet(0);
    const QList<int> slices = runSlices(0, 9, 1, 4);
    QCOMPARE(slices.size(), 10);
    QCOMPARE(slices.first(), 0);
    QCOMPARE(slices.last(), 9);
}

void TestBody::keepConditionsKeepsRangeAndCor()
{
    loadSet(0);
    // The first load resets range and CoR from the image size.
    QCOMPARE(widget<QLineEdit>("SliceTo")->text(), QString::number(settings.height - 1));
    cmd("ct_slice_from 2");
    cmd("ct_slice_to 3");
    cmd("ct_cor 17.5");
    QVERIFY(widget<QCheckBox>("KeepConditions")->isChecked());
    loadSet(1);
    cmd("ct_cor 17.5");
    QCOMPARE(widget<QLineEdit>("SliceFrom")->text(), QString("2"));
    QCOMPARE(widget<QLineEdit>("SliceTo")->text(), QString("3"));
    // The seek range follows every load.
    QCOMPARE(widget<SeekCtrl>("seekCtrl")->maximum(), settings.projections - 1);
}

void TestBody::pointSelectionSetsSliceAndCor()
{
    loadSet(0);
    body->selectedAPointInRawImg(12.5, 3.7, MouseC::Right);
    QCOMPARE(widget<ProcCtrl>("procCtrl")->cor(), 12.5);
    body->selectedAPointInRawImg(12.5, 3.7, MouseC::Left);
    QCOMPARE(widget<ProcCtrl>("procCtrl")->sliceNo(), 3);
    body->selectedAPointInRawImg(1, 1, MouseC::LeftShift);
    QCOMPARE(widget<ProcCtrl>("procCtrl")->sliceNo(), 3);
}

void TestBody::imagesSeekIsClamped_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("shown");
    QTest::newRow("negative") << -3 << 0;
    QTest::newRow("inside") << 5 << 5;
    QTest::newRow("beyond the last") << 1000 << 23;
}

void TestBody::imagesSeekIsClamped()
{
    QFETCH(int, requested);
    QFETCH(int, shown);
    loadSet(0);
    cmd(QString("images_seek %1").arg(requested));
    QCOMPARE(widget<SeekCtrl>("seekCtrl")->index(), shown);
}

void TestBody::rotationAxisCommands()
{
    QSignalSpy changed(widget<ProcCtrl>("procCtrl"), &ProcCtrl::rotAxUpdated);
    cmd("ct_rot_ax_is_h 0");
    QVERIFY(widget<QRadioButton>("RotAxV")->isChecked());
    cmd("ct_rot_ax_is_h 0");
    QCOMPARE(changed.size(), 1);
    cmd("ct_rot_ax_is_h 1");
    QVERIFY(widget<QRadioButton>("RotAxH")->isChecked());
    cmd("ct_rot_ax_is_v 2"); // only exactly 1 is on
    QVERIFY(widget<QRadioButton>("RotAxH")->isChecked());
    QCOMPARE(changed.size(), 2);
}

void TestBody::exclusiveCtSelection()
{
    QVERIFY(widget<QRadioButton>("SelectCt1")->isChecked());
    cmd("calc_ct1 0");
    QVERIFY(widget<QRadioButton>("SelectCt1")->isChecked());
    cmd("ct_auto_exec 1");
    QVERIFY(widget<QRadioButton>("SelectCt2")->isChecked());
    // Choosing CT1 from a script applies the click's rule: no multi-slice run.
    cmd("calc_ct1 1");
    QVERIFY(!widget<QCheckBox>("AutoExecCtCalc")->isChecked());
}

void TestBody::sequentialRangeOfSets()
{
    cmd("ct_rot_ax_is_v 1");
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    QCOMPARE(widget<QSpinBox>("SeqCalcTo")->value(), settings.energies);
    cmd(QString("bg_load \"%1/bg/%2\"").arg(settings.outDir, DemoGenerator::bgFileName()));
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    widget<QSpinBox>("SeqCalcFrom")->setValue(3);
    widget<QSpinBox>("SeqCalcTo")->setValue(5);
    QStringList tags;
    connect(body, &Body::finishedLoadingCTFiles, this, [&] {
        tags << widget<SelectDataDir>("SelDDir")->currentEnergyText();
        cmd("ct_slice_from 1");
        cmd("ct_slice_to 2");
    });
    widget<QPushButton>("SeqCalc")->click();
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLineEdit>("ProgressMsg")->text(), QString("Finished"), 60000);
    DemoGenerator gen(settings);
    QCOMPARE(tags, QStringList({DemoGenerator::energyText(gen.energyAt(2)),
                                DemoGenerator::energyText(gen.energyAt(3)),
                                DemoGenerator::energyText(gen.energyAt(4))}));
}

void TestBody::secondSeqClickStopsAfterCurrentRun()
{
    cmd("ct_rot_ax_is_v 1");
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    cmd(QString("bg_load \"%1/bg/%2\"").arg(settings.outDir, DemoGenerator::bgFileName()));
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    int loads = 0;
    connect(body, &Body::finishedLoadingCTFiles, this, [&] {
        ++loads;
        if (loads == 1)
            widget<QPushButton>("SeqCalc")->click();
    });
    QSignalSpy runs(body, &Body::calcFinished);
    widget<QPushButton>("SeqCalc")->click();
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLineEdit>("ProgressMsg")->text(), QString("Finished"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(runs.size(), 1, 30000);
    QTest::qWait(200);
    QCOMPARE(loads, 1);
    QCOMPARE(runs.size(), 1);
}

void TestBody::stopThenLoadWaitsForEngines()
{
    loadSet(0);
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    cmd("ct_threads 2");
    cmd("ct_slice_from 0");
    cmd("ct_slice_to 11");
    widget<QPushButton>("CalcCT")->click();
    QVERIFY(body->isCalcRunning());
    QVERIFY(body->requestsInFlight() > 0);
    widget<QPushButton>("CalcCT")->click(); // stop: slices handed out still finish
    QVERIFY(!body->isCalcRunning());
    const ImgData *before = body->imageStack()->frame(0);
    loadSet(1);
    // The stack is untouched while engines still read it.
    if (body->requestsInFlight() > 0)
        QCOMPARE(body->imageStack()->frame(0), before);
    QTRY_COMPARE_WITH_TIMEOUT(body->requestsInFlight(), 0, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(body->imageStack()->frame(0) != before, 10000);
    QCOMPARE(body->imageStack()->count(), settings.projections);
}

QTEST_MAIN(TestBody)
#include "tstgui_Body.moc"
