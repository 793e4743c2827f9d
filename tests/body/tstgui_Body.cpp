#include "DemoGenerator.h"
#include "batch/Batch.h"
#include "body/Body.h"
#include "ct/CtCalc2.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
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
    void keepConditionsKeepsRangeAndCor();
    void pointSelectionSetsSliceAndCor();
    void sequentialRangeOfSets();
    void failedI0OfSetStopsTheSequence();
    void failedI0InAScriptLoopAnswersNg();
    void seqCalcRefusedWhileARunIsGoing();
    void setsSharingAnEnergyKeepTheirResults();
    void calcExecAnswersOkOrNg_data();
    void calcExecAnswersOkOrNg();

private:
    void cmd(const QString &line) { body->batchExCmd(BatchCmd(line)); }
    // A script line that completes later ("calc_exec"); true when it answered ok.
    bool cmdOk(const QString &line, int timeoutMs = 30000);
    QString i0Of(int energy) const;
    QStringList datFiles(const QString &folder) const;
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
    for (const QString &line : DemoGenerator(settings).loadLines(energy))
        cmd(line);
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

bool TestBody::cmdOk(const QString &line, int timeoutMs)
{
    body->batchInterpreter()->setOk(true);
    QSignalSpy answered(body, &Body::callBatchCheckEnd);
    cmd(line);
    if (answered.isEmpty() && !answered.wait(timeoutMs))
        return false;
    return body->batchInterpreter()->isOk();
}

QString TestBody::i0Of(int energy) const
{
    DemoGenerator gen(settings);
    return QString("%1/i0/%2")
        .arg(settings.outDir,
             DemoGenerator::i0FileName(DemoGenerator::energyText(gen.energyAt(energy))));
}

QStringList TestBody::datFiles(const QString &folder) const
{
    return QDir(folder).entryList({"*.dat"}, QDir::Files, QDir::Name);
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

// A truncated I0 file among the I0 set: its set must not be reconstructed with the
// I0 of the set before, and the run says where and why it stopped.
void TestBody::failedI0OfSetStopsTheSequence()
{
    QTemporaryDir out;
    const QString i0Dir = out.filePath("i0");
    QVERIFY(QDir().mkpath(i0Dir));
    for (int e = 0; e < 3; ++e)
        QVERIFY(QFile::copy(i0Of(e), QDir(i0Dir).filePath(QFileInfo(i0Of(e)).fileName())));
    const QString broken = QDir(i0Dir).filePath(QFileInfo(i0Of(1)).fileName());
    QVERIFY(QFile::resize(broken, 40));

    cmd("ct_rot_ax_is_v 1");
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    cmd(QString("seq_exec_select_i0 \"%1\" *.img").arg(i0Dir));
    cmd(QString("bg_load \"%1/bg/%2\"").arg(settings.outDir, DemoGenerator::bgFileName()));
    cmd("calc_ct2 1");
    cmd("auto_save_data 1");
    cmd(QString("auto_save_data_path \"%1\"").arg(out.filePath("res")));
    cmd("auto_save_data_name r");
    widget<QSpinBox>("SeqCalcFrom")->setValue(1);
    widget<QSpinBox>("SeqCalcTo")->setValue(3);
    widget<QPushButton>("SeqCalc")->click();
    QTRY_VERIFY_WITH_TIMEOUT(widget<QLineEdit>("ProgressMsg")->text().contains("could not"), 30000);
    const QString msg = widget<QLineEdit>("ProgressMsg")->text();
    QVERIFY2(msg.contains("set 2") && msg.contains(QFileInfo(broken).fileName()), qPrintable(msg));
    QTRY_VERIFY_WITH_TIMEOUT(body->isCalcRunning() == false, 10000);
    // Set 1 was computed (its middle slice, set by the first load), set 2 not:
    // neither with set 1's I0 nor without one.
    DemoGenerator gen(settings);
    const QStringList expected(
        {QString("r-%1-00006.dat").arg(DemoGenerator::energyText(gen.energyAt(0)))});
    QTRY_COMPARE_WITH_TIMEOUT(datFiles(out.filePath("res")), expected, 10000);
    QTest::qWait(200);
    QCOMPARE(datFiles(out.filePath("res")), expected);
    QCOMPARE(widget<SelectAImgFile>("I0ImgSel")->image(), nullptr);
    QVERIFY(widget<SelectAImgFile>("I0ImgSel")->loadFailed());
}

void TestBody::failedI0InAScriptLoopAnswersNg()
{
    QTemporaryDir out;
    const QString broken = out.filePath("bad-7112_0eV-i0.img");
    QVERIFY(QFile::copy(i0Of(0), broken));
    QVERIFY(QFile::resize(broken, 40));
    cmd("ct_rot_ax_is_v 1");
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    cmd(QString("i0_load \"%1\"").arg(i0Of(0)));
    QVERIFY(widget<SelectAImgFile>("I0ImgSel")->image() != nullptr);
    cmd(QString("seq_exec_select_i0 \"%1\" *.img").arg(out.path()));
    QVERIFY(!cmdOk("seq_exec_set"));
    QCOMPARE(widget<SelectAImgFile>("I0ImgSel")->image(), nullptr);
    // A run started anyway is refused, as the script is told.
    cmd("calc_ct2 1");
    QVERIFY(!cmdOk("calc_exec"));
    // A script may choose to go on without an I0 image.
    cmd("i0_clear");
    cmd("seq_exec_select_i0 \"/nonexistent\" *.img");
    QVERIFY(cmdOk("seq_exec_set"));
    QVERIFY(cmdOk("calc_exec"));
}

void TestBody::seqCalcRefusedWhileARunIsGoing()
{
    loadSet(0);
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    cmd("ct_threads 1");
    cmd("ct_slice_from 0");
    cmd("ct_slice_to 11");
    int loads = 0;
    connect(body, &Body::finishedLoadingCTFiles, this, [&] { ++loads; });
    QSignalSpy finished(body, &Body::calcFinished);
    widget<QPushButton>("CalcCT")->click();
    QVERIFY(body->isCalcRunning());
    widget<QPushButton>("SeqCalc")->click();
    QVERIFY(widget<QLineEdit>("ProgressMsg")->text().contains("not started"));
    QVERIFY(finished.wait(30000));
    QTest::qWait(300);
    // The manual run ended alone; no set was loaded or computed.
    QCOMPARE(loads, 0);
    QCOMPARE(finished.size(), 1);
    QVERIFY(widget<QLineEdit>("ProgressMsg")->text().contains("not started"));
}

// Two samples measured at one energy in one directory: each set keeps its results.
void TestBody::setsSharingAnEnergyKeepTheirResults()
{
    QTemporaryDir out;
    DemoSettings s = settings;
    s.outDir = out.filePath("data");
    s.energies = 1;
    for (const char *sample : {"a", "b"}) {
        s.sample = sample;
        QVERIFY(DemoGenerator(s).generate());
    }
    const QString shared = DemoGenerator::energyText(DemoGenerator(s).energyAt(0));
    s.sample = "c";
    s.edgeEnergy = 7200;
    QVERIFY(DemoGenerator(s).generate());
    const QString single = DemoGenerator::energyText(DemoGenerator(s).energyAt(0));
    cmd("ct_rot_ax_is_v 1");
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(s.outDir));
    QCOMPARE(widget<QSpinBox>("SeqCalcTo")->value(), 3);
    cmd(QString("bg_load \"%1/bg/%2\"").arg(s.outDir, DemoGenerator::bgFileName()));
    cmd("calc_ct2 1");
    cmd("auto_save_data 1");
    cmd(QString("auto_save_data_path \"%1\"").arg(out.filePath("res")));
    cmd("auto_save_data_name r");
    TestSupport::MessageLog log;
    widget<QPushButton>("SeqCalc")->click();
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLineEdit>("ProgressMsg")->text(), QString("Finished"), 60000);
    // The saver writes on its own thread, after the run's end.
    const QStringList expected({QString("r-%1-00006.dat").arg(single),
                                QString("r-a_%1-00006.dat").arg(shared),
                                QString("r-b_%1-00006.dat").arg(shared)});
    QTRY_COMPARE_WITH_TIMEOUT(datFiles(out.filePath("res")), expected, 10000);
    QVERIFY(log.contains("is shared by several sets"));
}

// calc_exec through the window, the engines and the saver; the refusals and the
// slice plans themselves are tested on the run layer.
void TestBody::calcExecAnswersOkOrNg_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("saved");

    const QStringList multi = {"ct_auto_exec 1", "ct_slice_step 1"};
    QTest::newRow("every slice computed and saved")
        << (multi + QStringList{"ct_slice_from 2", "ct_slice_to 3"}) << true
        << QStringList({"r-t-00002.dat", "r-t-00003.dat"});
    QTest::newRow("range partly outside the image")
        << (multi + QStringList{"ct_slice_from 10", "ct_slice_to 14"}) << false
        << QStringList({"r-t-00010.dat", "r-t-00011.dat"});
    QTest::newRow("single slice") << QStringList{"ct_auto_exec 0", "ct_proc_slice 11"} << true
                                  << QStringList({"r-t-00011.dat"});
    QTest::newRow("result file can not be written")
        << QStringList{"ct_auto_exec 0", "ct_proc_slice 4", "auto_save_data_path BLOCKED"} << false
        << QStringList();
}

void TestBody::calcExecAnswersOkOrNg()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, ok);
    QFETCH(QStringList, saved);
    QTemporaryDir out;
    loadSet(0);
    cmd("calc_ct2 1");
    cmd("ct_threads 2");
    cmd("auto_save_data 1");
    cmd(QString("auto_save_data_path \"%1\"").arg(out.path()));
    cmd("auto_save_data_name r");
    cmd("auto_save_data_tag t");
    // A plain file where the save folder should be: no result can be written.
    const QString blocked = out.filePath("blocked");
    QFile blocker(blocked);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (QString line : setup)
        cmd(line.replace("BLOCKED", blocked));
    QCOMPARE(cmdOk("calc_exec"), ok);
    QTRY_COMPARE_WITH_TIMEOUT(body->requestsInFlight(), 0, 10000);
    QCOMPARE(datFiles(out.path()), saved);
    QCOMPARE(body->totals().failures > 0, !ok);
}

QTEST_MAIN(TestBody)
#include "tstgui_Body.moc"
