#include "DemoGenerator.h"
#include "batch/Batch.h"
#include "body/Body.h"
#include "ct/CtCalc2.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDataITEX.h"
#include "imgdata/ImgDatas.h"
#include "imgdata/MemoryBudget.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>

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
    void multiLoadStopsAtBudget();
    void unsafeResultNamesRefused_data();
    void unsafeResultNamesRefused();
    void failedI0OfSetStopsTheSequence();
    void failedI0InAScriptLoopAnswersNg();
    void pickerChangesWaitForTheRun();
    void seqCalcRefusedWhileARunIsGoing();
    void setsSharingAnEnergyKeepTheirResults();
    void calcExecAnswersOkOrNg_data();
    void calcExecAnswersOkOrNg();
    void lateSlicesOfAStoppedRunAreNotProgress();
    void emptySaveFolderIsLogged();

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
    const QString beforeName = before->fileName;
    loadSet(1);
    // The stack is untouched while engines still read it.
    if (body->requestsInFlight() > 0)
        QCOMPARE(body->imageStack()->frame(0), before);
    QTRY_COMPARE_WITH_TIMEOUT(body->requestsInFlight(), 0, 30000);
    // By name: the new frame may well be allocated where the old one was.
    QTRY_VERIFY_WITH_TIMEOUT(body->imageStack()->frame(0)->fileName != beforeName, 10000);
    QCOMPARE(body->imageStack()->count(), settings.projections);
}

void TestBody::multiLoadStopsAtBudget()
{
    // Frames of 40 x 12 pixels of 2 bytes; the budget holds ten of them.
    const qint64 frameBytes = 40 * 12 * 2;
    MemoryBudget::setLimit(10 * frameBytes + frameBytes / 2);
    // Copied frames: those mapped from their files are not charged.
    const bool mapDefault = ImgDataITEX::mapFrames;
    ImgDataITEX::mapFrames = false;
    TestSupport::MessageLog log;
    DemoGenerator gen(settings);
    const QString text = DemoGenerator::energyText(gen.energyAt(0));
    cmd("images_multi 1 100000");
    cmd(QString("images_load \"%1/proj\" %2-%3-*.img").arg(settings.outDir, settings.sample, text));
    const int loaded = body->imageStack()->count();
    const qint64 used = MemoryBudget::used();
    const int stops = log.count("Loading stopped: the stack would exceed the memory budget");
    const int refusals = log.count("Image exceeds the memory budget");
    MemoryBudget::setLimit(0);
    ImgDataITEX::mapFrames = mapDefault;
    QCOMPARE(loaded, 10);
    QCOMPARE(used, 10 * frameBytes);
    QCOMPARE(stops, 1);
    // One refused frame, not a hundred thousand tries.
    QCOMPARE(refusals, 1);
    QVERIFY(log.contains("10 of 100000 files loaded"));
}

void TestBody::unsafeResultNamesRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("picker");
    QTest::addColumn<bool>("isTag");
    QTest::newRow("data name climbing out") << "auto_save_data_name ../../x"
                                            << "SelectDataSaveDir" << false;
    QTest::newRow("data tag with a folder") << "auto_save_data_tag a/b"
                                            << "SelectDataSaveDir" << true;
    QTest::newRow("image name with a backslash") << "auto_save_image_name a\\b"
                                                 << "SelectImageSaveDir" << false;
    QTest::newRow("image tag dot-dot") << "auto_save_image_tag .."
                                       << "SelectImageSaveDir" << true;
}

void TestBody::unsafeResultNamesRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, picker);
    QFETCH(bool, isTag);
    auto *files = body->findChild<SelectAFile *>(picker);
    QVERIFY(files);
    const QString word = command.section(' ', 0, 0);
    cmd(word + " safe_1");
    Batch *batch = body->batchInterpreter();
    batch->setOk(true);
    TestSupport::MessageLog log;
    cmd(command);
    QCOMPARE(isTag ? files->addTag() : files->name(), QString("safe_1"));
    QVERIFY(!batch->isOk());
    QVERIFY(log.contains("Result name or tag not allowed"));
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

// I0 and BG chosen and cleared through the pickers every few milliseconds while 48
// slices are computed on 2 engines: every slice equals the slice of a quiet run with
// the first I0 and BG. (Under AddressSanitizer this also shows that no engine reads
// an image a picker has let go.)
void TestBody::pickerChangesWaitForTheRun()
{
    QTemporaryDir out;
    DemoSettings tall = settings;
    tall.outDir = out.filePath("data");
    tall.width = 96;
    tall.height = 48;
    tall.projections = 60;
    tall.energies = 2;
    QVERIFY(DemoGenerator(tall).generate());
    DemoGenerator gen(tall);
    const QString text0 = DemoGenerator::energyText(gen.energyAt(0));
    const QString i0First = QString("%1/i0/%2").arg(tall.outDir, DemoGenerator::i0FileName(text0));
    const QString i0Other =
        QString("%1/i0/%2")
            .arg(tall.outDir,
                 DemoGenerator::i0FileName(DemoGenerator::energyText(gen.energyAt(1))));
    const QString bg = QString("%1/bg/%2").arg(tall.outDir, DemoGenerator::bgFileName());

    cmd("ct_rot_ax_is_v 1");
    cmd(QString("images_load \"%1/proj\" %2-%3-*.img").arg(tall.outDir, tall.sample, text0));
    QCOMPARE(body->imageStack()->count(), tall.projections);
    cmd(QString("ct_cor %1").arg(tall.corOrDefault()));
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    cmd("ct_threads 2");
    cmd("ct_slice_from 0");
    cmd("ct_slice_to 47");
    cmd("auto_save_data 1");
    cmd("auto_save_data_name s");

    auto *i0Picker = widget<SelectAImgFile>("I0ImgSel");
    auto *bgPicker = widget<SelectAImgFile>("BGImgSel");
    auto run = [&](const QString &folder, bool disturb) {
        i0Picker->fileSelected0(i0First);
        bgPicker->fileSelected0(bg);
        cmd(QString("auto_save_data_path \"%1\"").arg(folder));
        QSignalSpy finished(body, &Body::calcFinished);
        widget<QPushButton>("CalcCT")->click();
        int changes = 0;
        while (disturb && finished.isEmpty()) {
            switch (changes++ % 4) {
            case 0:
                i0Picker->fileSelected0(i0Other);
                break;
            case 1:
                bgPicker->findChild<QPushButton *>("Clear")->click();
                break;
            case 2:
                i0Picker->findChild<QPushButton *>("Clear")->click();
                break;
            default:
                bgPicker->fileSelected0(bg);
                i0Picker->fileSelected0(i0Other);
                break;
            }
            QTest::qWait(3);
        }
        if (finished.isEmpty() && !finished.wait(60000)) {
            qWarning() << "run did not end: running" << body->isCalcRunning() << "in flight"
                       << body->requestsInFlight();
            return -1;
        }
        for (int waited = 0; body->requestsInFlight() > 0 && waited < 30000; waited += 10)
            QTest::qWait(10);
        return changes;
    };
    QCOMPARE(run(out.filePath("quiet"), false), 0);
    const int changes = run(out.filePath("busy"), true);
    QVERIFY2(changes > 0, "no picker change happened during the run");
    // The changes were kept, in order, and made once the run had ended.
    QTest::qWait(200);
    if ((changes - 1) % 4 == 2) {
        QCOMPARE(i0Picker->image(), nullptr);
    } else {
        QVERIFY(i0Picker->image() != nullptr);
        QCOMPARE(i0Picker->image()->fileName, i0Other);
    }

    // The saver writes on its own thread and may still be busy.
    QTRY_COMPARE_WITH_TIMEOUT(datFiles(out.filePath("quiet")).size(), 48, 30000);
    const QStringList quiet = datFiles(out.filePath("quiet"));
    QTRY_COMPARE_WITH_TIMEOUT(datFiles(out.filePath("busy")), quiet, 30000);
    for (const QString &name : quiet) {
        QFile a(QDir(out.filePath("quiet")).filePath(name));
        QFile b(QDir(out.filePath("busy")).filePath(name));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY2(a.readAll() == b.readAll(), qPrintable(name));
    }
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

void TestBody::calcExecAnswersOkOrNg_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("saved");

    const QStringList multi = {"ct_auto_exec 1", "ct_slice_step 1"};
    QTest::newRow("every slice computed and saved")
        << (multi + QStringList{"ct_slice_from 2", "ct_slice_to 3"}) << true
        << QStringList({"r-t-00002.dat", "r-t-00003.dat"});
    QTest::newRow("slice step 0") << (multi + QStringList{"ct_slice_step 0"}) << false
                                  << QStringList();
    QTest::newRow("centre of rotation leaves no sinogram")
        << (multi + QStringList{"ct_cor 0"}) << false << QStringList();
    QTest::newRow("range wholly past the image")
        << (multi + QStringList{"ct_slice_from 40", "ct_slice_to 50"}) << false << QStringList();
    QTest::newRow("range partly outside the image")
        << (multi + QStringList{"ct_slice_from 10", "ct_slice_to 14"}) << false
        << QStringList({"r-t-00010.dat", "r-t-00011.dat"});
    QTest::newRow("range from below zero")
        << (multi + QStringList{"ct_slice_from -2", "ct_slice_to 0"}) << false
        << QStringList({"r-t-00000.dat"});
    QStringList everySlice;
    for (int z = 0; z < 12; ++z)
        everySlice << QString("r-t-%1.dat").arg(z, 5, 10, QChar('0'));
    // The panel reads a step of the lowest int as the highest: 2147483647, 0, -2147483647.
    QTest::newRow("a step of nearly every int")
        << (multi + QStringList{"ct_slice_from 2147483647", "ct_slice_to -2147483648",
                                "ct_slice_step -2147483648"})
        << false << QStringList({"r-t-00000.dat"});
    QTest::newRow("range over every int")
        << (multi + QStringList{"ct_slice_from -2147483648", "ct_slice_to 2147483647"}) << false
        << everySlice;
    QTest::newRow("single slice outside the image")
        << QStringList{"ct_auto_exec 0", "ct_proc_slice 12"} << false << QStringList();
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

// A run stopped with slices still in progress, then a new run at once: the old
// run's late slices are not the new run's progress.
void TestBody::lateSlicesOfAStoppedRunAreNotProgress()
{
    loadSet(0);
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 1");
    cmd("ct_threads 2");
    cmd("ct_slice_from 0");
    cmd("ct_slice_to 11");
    auto *bar = widget<QProgressBar>("CalcProgress");
    QVERIFY(bar);
    widget<QPushButton>("CalcCT")->click();
    // Stop: each engine's slices still in progress (the engines take 12 slices
    // in groups of up to slicesPerEngine()).
    widget<QPushButton>("CalcCT")->click();
    QCOMPARE(body->requestsInFlight(), 2 * std::min(body->slicesPerEngine(), 6));
    int inFlightAtFull = -1;
    connect(bar, &QProgressBar::valueChanged, this, [&](int v) {
        if (v == bar->maximum() && inFlightAtFull < 0)
            inFlightAtFull = body->requestsInFlight();
    });
    QSignalSpy finished(body, &Body::calcFinished);
    widget<QPushButton>("CalcCT")->click();
    QVERIFY(body->isCalcRunning());
    QVERIFY(finished.wait(30000));
    // The bar is full only when the new run's last slice is back.
    QCOMPARE(inFlightAtFull, 0);
    QCOMPARE(bar->value(), 12);
}

void TestBody::emptySaveFolderIsLogged()
{
    QTemporaryDir out;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(out.path()));
    loadSet(0);
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 0");
    cmd("ct_proc_slice 4");
    cmd("auto_save_data 1");
    cmd("auto_save_data_clear");
    cmd("auto_save_data_name w");
    cmd("auto_save_data_tag t");
    TestSupport::MessageLog log;
    const bool ok = cmdOk("calc_exec");
    QVERIFY(QDir::setCurrent(before));
    QVERIFY(ok);
    QCOMPARE(log.count("results are saved in the working directory"), 1);
    QVERIFY(QFile::exists(QDir(out.path()).filePath("w-t-00004.dat")));
}

QTEST_MAIN(TestBody)
#include "tstgui_Body.moc"
