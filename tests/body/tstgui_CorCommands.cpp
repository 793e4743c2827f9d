#include "DemoGenerator.h"
#include "batch/Batch.h"
#include "body/Body.h"
#include "ct/CorScan.h"
#include "ct/CtCalc2.h"
#include "ct/CtFbp.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

// The centre of rotation found, the CoR scan and stripe removal, driven as a script
// and a user drive them, on a generated noisy scan with a known centre.
class TestCorCommands : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void corAutoSetsAndLogsTheCentre_data();
    void corAutoSetsAndLogsTheCentre();
    void corAutoRefuses_data();
    void corAutoRefuses();
    void findButtonSetsTheCentre();
    void corScanWritesOneFilePerCentre();
    void corScanRefuses_data();
    void corScanRefuses();
    void ringRemovalZeroKeepsResultsAndOnChangesThem();
    void setLoadEstimatesWhenAsked_data();
    void setLoadEstimatesWhenAsked();

private:
    void cmd(const QString &line) { body->batchExCmd(BatchCmd(line)); }
    bool ok() const { return body->batchInterpreter()->isOk(); }
    void loadScan();
    // A CT2 run of the current slice; the engine's result values.
    std::vector<double> engineResult(CtCalc2Ui **panel);

    static constexpr double trueCor = 50.5;
    QTemporaryDir dir;
    DemoSettings settings;
    Body *body = nullptr;
};

void TestCorCommands::initTestCase()
{
    QVERIFY(dir.isValid());
    settings.outDir = dir.filePath("data");
    settings.width = 96;
    settings.height = 4;
    settings.projections = 60;
    settings.energies = 1;
    settings.cor = trueCor;
    settings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(settings).generate());
}

void TestCorCommands::init()
{
    body = new Body;
    body->batchInterpreter()->setOk(true);
}

void TestCorCommands::cleanup()
{
    delete body;
    body = nullptr;
}

void TestCorCommands::loadScan()
{
    for (const QString &line : DemoGenerator(settings).loadLines(0))
        cmd(line);
    cmd("ct_proc_slice 2");
}

void TestCorCommands::corAutoSetsAndLogsTheCentre_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("whole line") << "ct_cor_auto";
    QTest::newRow("bounded around the centre") << "ct_cor_auto 45 55";
    QTest::newRow("capitals") << "CT_COR_AUTO";
}

void TestCorCommands::corAutoSetsAndLogsTheCentre()
{
    QFETCH(QString, line);
    loadScan();
    cmd("ct_cor 40");
    TestSupport::MessageLog log;
    cmd(line);
    const double cor = body->findChild<ProcCtrl *>()->cor();
    QVERIFY2(std::abs(cor - trueCor) < 0.25, qPrintable(QString::number(cor)));
    QVERIFY(log.contains(QStringLiteral("CoR found : ") + QString::number(cor, 'g', 6)));
    QVERIFY(ok());
}

void TestCorCommands::corAutoRefuses_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty stack") << false << "ct_cor_auto"
                                 << "no images";
    QTest::newRow("FROM above TO") << true << "ct_cor_auto 60 50"
                                   << "empty search range";
    QTest::newRow("FROM without TO") << true << "ct_cor_auto 50"
                                     << "FROM without TO";
    QTest::newRow("range off the line") << true << "ct_cor_auto 200 300"
                                        << "empty search range";
}

void TestCorCommands::corAutoRefuses()
{
    QFETCH(bool, load);
    QFETCH(QString, line);
    QFETCH(QString, reason);
    if (load)
        loadScan();
    cmd("ct_cor 40");
    TestSupport::MessageLog log;
    cmd(line);
    QVERIFY(!ok());
    QCOMPARE(body->findChild<ProcCtrl *>()->cor(), 40.0);
    QVERIFY2(log.contains(reason), qPrintable(log.messages().join('\n')));
}

void TestCorCommands::findButtonSetsTheCentre()
{
    loadScan();
    cmd("ct_cor 40");
    auto *find = body->findChild<QPushButton *>(QStringLiteral("FindCor"));
    QVERIFY(find);
    find->click();
    QVERIFY(std::abs(body->findChild<ProcCtrl *>()->cor() - trueCor) < 0.25);
}

void TestCorCommands::corScanWritesOneFilePerCentre()
{
    loadScan();
    QTemporaryDir out;
    cmd(QString("auto_save_data_path \"%1\"").arg(out.path()));
    cmd("auto_save_data_name ct");
    cmd("auto_save_data 1");
    cmd(QString("auto_save_image_path \"%1\"").arg(out.path()));
    cmd("auto_save_image_name ct");
    cmd("auto_save_image 1");
    cmd("ct_cor_scan 49.75 50.5 0.25");
    QVERIFY(ok());
    const QStringList expected{"ct-cor49.75-00002.dat", "ct-cor49.75-00002.png",
                               "ct-cor50-00002.dat",    "ct-cor50-00002.png",
                               "ct-cor50.25-00002.dat", "ct-cor50.25-00002.png",
                               "ct-cor50.5-00002.dat",  "ct-cor50.5-00002.png"};
    QTRY_COMPARE_WITH_TIMEOUT(QDir(out.path()).entryList(QDir::Files, QDir::Name), expected, 10000);
}

void TestCorCommands::corScanRefuses_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("FROM above TO") << "ct_cor_scan 51 50 0.5";
    QTest::newRow("STEP 0") << "ct_cor_scan 50 51 0";
    QTest::newRow("STEP negative") << "ct_cor_scan 50 51 -0.5";
    QTest::newRow("202 values") << "ct_cor_scan 20 70.25 0.25";
    QTest::newRow("a centre leaves no sinogram") << "ct_cor_scan 0.5 3 0.5";
}

void TestCorCommands::corScanRefuses()
{
    QFETCH(QString, line);
    loadScan();
    QTemporaryDir out;
    cmd(QString("auto_save_data_path \"%1\"").arg(out.path()));
    cmd("auto_save_data_name ct");
    cmd("auto_save_data 1");
    TestSupport::MessageLog log;
    cmd(line);
    QVERIFY(!ok());
    QVERIFY(log.contains(QStringLiteral("CoR scan refused")));
    QTest::qWait(200);
    QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
}

std::vector<double> TestCorCommands::engineResult(CtCalc2Ui **panel)
{
    cmd("calc_ct2 1");
    cmd("ct_auto_exec 0");
    CtCalc2 *engine = nullptr;
    connect(body, &Body::startCt, this,
            [&](CtCalc2 *ctc2, bool, double, int, bool) { engine = ctc2; });
    QSignalSpy finished(body, &Body::calcFinished);
    body->findChild<QPushButton *>(QStringLiteral("CalcCT"))->click();
    if (!finished.wait(30000) || !engine)
        return {};
    // A one-slice run goes to the first engine, shown on the panel in the tabs.
    *panel = body->findChild<CtCalc2Ui *>();
    const int n = engine->core().resultSize();
    return std::vector<double>(engine->core().resultRow(0),
                               engine->core().resultRow(0) + size_t(n) * n);
}

void TestCorCommands::ringRemovalZeroKeepsResultsAndOnChangesThem()
{
    loadScan();
    cmd(QString("ct_cor %1").arg(trueCor));
    const auto expected = [&](int window, CtCalc2Ui *panel) {
        const double region[4] = {panel->cRx0(), panel->cRz0(), panel->cRx1(), panel->cRz1()};
        CtFbp fbp;
        if (!CorScan::reconstruct(*body->imageStack(), true, trueCor, 2, window, true, region,
                                  &fbp))
            return std::vector<double>{};
        const int n = fbp.resultSize();
        return std::vector<double>(fbp.resultRow(0), fbp.resultRow(0) + size_t(n) * n);
    };
    const auto same = [](const std::vector<double> &a, const std::vector<double> &b) {
        return !a.empty() && a.size() == b.size() &&
               std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
    };
    cmd("ct_ring_removal 0");
    CtCalc2Ui *panel = nullptr;
    const std::vector<double> off = engineResult(&panel);
    QVERIFY(panel);
    QVERIFY(same(off, expected(0, panel)));

    cmd("ct_ring_removal 11");
    QCOMPARE(body->findChild<QSpinBox *>(QStringLiteral("RingRemoval"))->value(), 11);
    const std::vector<double> on = engineResult(&panel);
    QVERIFY(same(on, expected(11, panel)));
    QVERIFY(!same(on, off));
}

void TestCorCommands::setLoadEstimatesWhenAsked_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<bool>("estimated");
    QTest::newRow("on") << "1" << true;
    QTest::newRow("off by default") << "" << false;
    QTest::newRow("2, at the first set") << "2" << true;
    QTest::newRow("3 is not on") << "3" << false;
}

void TestCorCommands::setLoadEstimatesWhenAsked()
{
    QFETCH(QString, flag);
    QFETCH(bool, estimated);
    cmd("ct_rot_ax_is_v 1");
    cmd("ct_proc_slice 2");
    if (!flag.isEmpty())
        cmd("seq_exec_cor_auto " + flag);
    cmd(QString("seq_exec_dir \"%1/proj\"").arg(settings.outDir));
    TestSupport::MessageLog log;
    cmd("seq_exec_set");
    QCOMPARE(body->imageStack()->count(), settings.projections);
    QCOMPARE(log.contains(QStringLiteral("CoR found : ")), estimated);
    const double cor = body->findChild<ProcCtrl *>()->cor();
    // Without the estimate the first load puts the centre in the middle of the line.
    QCOMPARE(std::abs(cor - trueCor) < 0.25, estimated);
}

QTEST_MAIN(TestCorCommands)
#include "tstgui_CorCommands.moc"
