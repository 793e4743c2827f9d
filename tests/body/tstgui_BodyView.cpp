#include "../disp/DispTestUtil.h"
#include "DemoGenerator.h"
#include "body/Body.h"
#include "disp/ChCoord.h"
#include "disp/DispA.h"
#include "disp/ProcCtrl.h"
#include "disp/RawDisp.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

// The main window as a first-time user meets it: what the mouse does on the raw
// image, where "Show Img" leads, and what the save rows tell before a run.
class TestBodyView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void dragOnRawImageKeepsTheSlice_data();
    void dragOnRawImageKeepsTheSlice();
    void showImgBringsItsTab();
    void saveRowTellsTheNextFile();

private:
    void cmd(const QString &line) { body->batchExCmd(BatchCmd(line)); }
    template<class T>
    T *widget(const char *name)
    {
        return body->findChild<T *>(QString::fromLatin1(name));
    }
    void loadSet();

    QTemporaryDir dir;
    DemoSettings settings;
    Body *body = nullptr;
};

void TestBodyView::initTestCase()
{
    QVERIFY(dir.isValid());
    settings.outDir = dir.filePath("data");
    settings.width = 40;
    settings.height = 12;
    settings.projections = 6;
    settings.energies = 1;
    settings.noise = false;
    settings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(settings).generate());
}

void TestBodyView::init()
{
    body = new Body;
    body->resize(1400, 900);
    body->show();
    QVERIFY(QTest::qWaitForWindowExposed(body));
}

void TestBodyView::cleanup()
{
    delete body;
    body = nullptr;
}

void TestBodyView::loadSet()
{
    for (const QString &line : DemoGenerator(settings).loadLines(0))
        cmd(line);
}

void TestBodyView::dragOnRawImageKeepsTheSlice_data()
{
    QTest::addColumn<int>("dragX");
    QTest::addColumn<int>("dragY");
    QTest::addColumn<bool>("picks");
    QTest::newRow("click picks the slice") << 0 << 0 << true;
    QTest::newRow("a click's jitter is still a click") << 2 << 1 << true;
    QTest::newRow("drag across pans, slice stays") << 60 << 0 << false;
    QTest::newRow("drag along the axis pans, slice stays") << 0 << 40 << false;
}

void TestBodyView::dragOnRawImageKeepsTheSlice()
{
    QFETCH(int, dragX);
    QFETCH(int, dragY);
    QFETCH(bool, picks);
    loadSet();
    auto *raw = body->findChild<RawDisp *>();
    QVERIFY(raw);
    QWidget *area = raw->dispA();
    QTRY_VERIFY(area->isVisible() && area->height() > 100);
    QTest::qWait(20);
    ProcCtrl *proc = widget<ProcCtrl>("procCtrl");
    const int sliceBefore = proc->sliceNo();
    // A point on the picture, a few rows away from the current slice.
    const QPoint press(area->width() / 2, area->height() / 2 - area->height() / 8);
    const QPoint release = press + QPoint(dragX, dragY);
    const QRectF windowBefore = raw->s;
    QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, press);
    const int pressedRow = int(raw->coord->screenToRealY(press.y()));
    DispTest::move(area, press + QPoint(dragX / 2, dragY / 2), Qt::LeftButton);
    DispTest::move(area, release, Qt::LeftButton);
    const int releasedRow = int(raw->coord->screenToRealY(release.y()));
    QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, release);
    QVERIFY(pressedRow != sliceBefore);
    if (picks) {
        QCOMPARE(proc->sliceNo(), releasedRow);
    } else {
        QCOMPARE(proc->sliceNo(), sliceBefore);
        QVERIFY(raw->s != windowBefore);
    }
}

void TestBodyView::showImgBringsItsTab()
{
    loadSet();
    auto *tabs = widget<QTabWidget>("ImgsTab");
    QCOMPARE(tabs->currentIndex(), 0);
    widget<SelectAImgFile>("I0ImgSel")->findChild<QPushButton *>("ShowImg")->click();
    QCOMPARE(tabs->currentWidget(), widget<QWidget>("I0ImageTab"));
    widget<SelectAImgFile>("BGImgSel")->findChild<QPushButton *>("ShowImg")->click();
    QCOMPARE(tabs->currentWidget(), widget<QWidget>("BGImageTab"));
}

void TestBodyView::saveRowTellsTheNextFile()
{
    auto *row = widget<SelectAFile>("SelectDataSaveDir");
    QVERIFY(row->nextFileText().isEmpty());
    const QString results = dir.filePath("results");
    cmd("auto_save_data 1");
    cmd(QString("auto_save_data_path \"%1\"").arg(results));
    cmd("auto_save_data_name ct");
    cmd("auto_save_data_tag 7100_0eV");
    cmd("ct_proc_slice 12");
    QCOMPARE(row->nextFileText(), QString::fromUtf8("\u2192 results/ct-7100_0eV-00012.dat"));
    // A multi-slice run starts at its first slice, in the energy's sub folder.
    cmd("ct_slice_from 3");
    cmd("ct_auto_exec 1");
    cmd("auto_save_in_sub_folders 1");
    cmd("auto_save_in_sub_folders_of_energy 1");
    QCOMPARE(row->nextFileText(),
             QString::fromUtf8("\u2192 results/7100_0eV/ct-7100_0eV-00003.dat"));
    cmd("auto_save_data 0");
    QVERIFY(row->nextFileText().isEmpty());
}

QTEST_MAIN(TestBodyView)
#include "tstgui_BodyView.moc"
