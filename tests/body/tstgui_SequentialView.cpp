// A sequential run in the main window on a 1920 x 1080 screen with the sequential
// controls shown, in both languages: while it runs, its place among the energies is in
// view without scrolling and the next file's name has the extension of the data
// format chosen; afterwards the slice tab names the unit of its values. With
// ORVO2_SCREENSHOT_DIR set the window is saved there mid-run (sequential-<language>.png)
// and on the slice tab (slice-<language>.png).

#include "DemoGenerator.h"
#include "body/Body.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class TestSequentialView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void progressInViewAndUnitNamed_data();
    void progressInViewAndUnitNamed();

private:
    QTemporaryDir dir;
    static constexpr int energies = 12;
};

void TestSequentialView::initTestCase()
{
    DemoSettings s;
    s.outDir = dir.filePath("data");
    s.width = 128;
    s.height = 2;
    s.projections = 180;
    s.energies = energies;
    s.cor = 64;
    s.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(s).generate());
}

void TestSequentialView::progressInViewAndUnitNamed_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << "en";
    QTest::newRow("Japanese") << "ja";
}

void TestSequentialView::progressInViewAndUnitNamed()
{
    QFETCH(QString, language);
    QTranslator japanese;
    if (language == QLatin1String("ja")) {
        QVERIFY(japanese.load(QStringLiteral(ORVO2_BINARY_DIR "/orvo2_ja_JP.qm")));
        QCoreApplication::installTranslator(&japanese);
    }
    const QString data = dir.filePath("data");
    const QString results = dir.filePath("results-" + language);
    const QString script = dir.filePath("run-" + language + ".bat");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("ct_rot_ax_is_v 1\n"
                              "seq_exec_dir \"%1/proj\"\n"
                              "seq_exec_select_i0 \"%1/i0\" *.img\n"
                              "bg_load \"%1/bg/dark-00000.img\"\n"
                              "calc_ct2 1\nct_auto_exec 1\nauto_save_data 1\n"
                              "auto_save_data_format tiff\nauto_save_data_path \"%2\"\n"
                              "auto_save_data_name demo\n"
                              "Loop\nseq_exec_set\nct_cor 64\nct_slice_from 0\nct_slice_to 1\n"
                              "calc_exec\nseq_exec_next\n:ifok :goto Loop\n")
                   .arg(data, results)
                   .toUtf8());
    file.close();
    Body body;
    body.resize(1920, 1080);
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    body.findChild<QCheckBox *>(QStringLiteral("ShowAdditionalInfo"))->setChecked(true);
    emit body.callBatchLoad(script);
    emit body.callBatchExec();
    auto *progress = body.findChild<QLabel *>(QStringLiteral("SeqSetProgress"));
    QVERIFY(progress);
    // Any set of the run will do: a loaded machine may pass one between two looks.
    const QRegularExpression running(language == QLatin1String("ja")
                                         ? QStringLiteral("^エネルギー [2-9]\\d* /")
                                         : QStringLiteral("^Energy [2-9]\\d* of"));
    QTRY_VERIFY_WITH_TIMEOUT(running.match(progress->text()).hasMatch(), 30000);
    // In view: inside the control column's viewport as it stands, not scrolled to.
    auto *column = body.findChild<QScrollArea *>(QStringLiteral("ControlScroll"));
    QVERIFY(column && progress->isVisible());
    const QPoint top = progress->mapTo(column->viewport(), QPoint(0, 0));
    QVERIFY2(top.y() >= 0 && top.y() + progress->height() <= column->viewport()->height(),
             qPrintable(QString::number(top.y())));
    // The data row names the file of the format chosen (tiff), not a .dat.
    const QWidget *dataRow = body.findChild<QWidget *>(QStringLiteral("SelectDataSaveDir"));
    const auto *next = dataRow ? dataRow->findChild<QLabel *>(QStringLiteral("NextFile")) : nullptr;
    QVERIFY(next && next->text().endsWith(QLatin1String("-00000.tif")));
    const QString shots = QString::fromLocal8Bit(qgetenv("ORVO2_SCREENSHOT_DIR"));
    if (!shots.isEmpty())
        QVERIFY(body.grab().save(QDir(shots).filePath("sequential-" + language + ".png")));
    const QString end = language == QLatin1String("ja") ? QStringLiteral("エネルギー %1 / %1")
                                                        : QStringLiteral("Energy %1 of %1");
    QTRY_VERIFY_WITH_TIMEOUT(progress->text().startsWith(end.arg(energies)), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!body.isCalcRunning(), 30000);
    QTest::qWait(300);
    auto *tabs = body.findChild<QTabWidget *>(QStringLiteral("ImgsTab"));
    QVERIFY(tabs);
    // The first engine's tab, which shows the slices of the CT2 run.
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i).startsWith(QLatin1String("CT2")))
            tabs->setCurrentIndex(i);
    }
    auto *unit = tabs->currentWidget()->findChild<QLabel *>(QStringLiteral("SliceUnit"));
    QVERIFY(unit && unit->isVisible());
    QVERIFY(unit->text().contains(QStringLiteral("2P")));
    if (!shots.isEmpty())
        QVERIFY(body.grab().save(QDir(shots).filePath("slice-" + language + ".png")));
    QCoreApplication::removeTranslator(&japanese);
}

QTEST_MAIN(TestSequentialView)
#include "tstgui_SequentialView.moc"
