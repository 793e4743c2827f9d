#include "DemoGenerator.h"
#include "batch/Batch.h"
#include "body/Body.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// Every batch command word of the README, with typical arguments, fed to the main
// window as a script feeds it; after each line the form's values that changed, the
// line's ok/ng and whether it was answered are compared with a recorded dump.
// Estimates and stripe removal stay out of it, so that better numbers there do
// not look like a changed command.
// ORVO2_GOLDEN_UPDATE=1 records the dump anew.
class TestCommandGolden : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void formAfterEachCommandIsAsRecorded();

private:
    QString run(const QStringList &lines);
    QMap<QString, QString> formValues(const QWidget *root) const;
    QString hidePaths(QString text) const
    {
        return text.replace(dir.path(), QStringLiteral("$TMP"));
    }

    QTemporaryDir dir;
    DemoSettings settings;
};

namespace {

// Object names of the widget and its named ancestors below the window.
QString pathOf(const QWidget *w, const QWidget *root)
{
    QStringList names;
    for (const QObject *o = w; o && o != root; o = o->parent())
        if (!o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1String("qt_")))
            names.prepend(o->objectName());
    return names.join(QLatin1Char('/'));
}

QString valueOf(const QWidget *w)
{
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return QStringLiteral("text \"%1\"").arg(edit->text());
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->isCheckable() ? QStringLiteral("checked %1").arg(button->isChecked())
                                     : QString();
    if (auto *spin = qobject_cast<const QSpinBox *>(w))
        return QStringLiteral("value %1 of %2..%3")
            .arg(spin->value())
            .arg(spin->minimum())
            .arg(spin->maximum());
    if (auto *spin = qobject_cast<const QDoubleSpinBox *>(w))
        return QStringLiteral("value %1").arg(spin->value(), 0, 'g', 12);
    if (auto *combo = qobject_cast<const QComboBox *>(w))
        return QStringLiteral("index %1 \"%2\"")
            .arg(combo->currentIndex())
            .arg(combo->currentText());
    if (auto *tabs = qobject_cast<const QTabWidget *>(w))
        return QStringLiteral("tab %1").arg(tabs->currentIndex());
    return QString();
}

} // namespace

void TestCommandGolden::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(dir.isValid());
    settings.outDir = dir.filePath("data");
    settings.width = 40;
    settings.height = 12;
    settings.projections = 24;
    settings.energies = 3;
    settings.noise = false;
    settings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(settings).generate());
    // The data directory panel lists the working directory until it is given one.
    QVERIFY(QDir().mkpath(dir.filePath("work")));
    QVERIFY(QDir::setCurrent(dir.filePath("work")));
}

QMap<QString, QString> TestCommandGolden::formValues(const QWidget *root) const
{
    QMap<QString, QString> values;
    for (const QWidget *w : root->findChildren<QWidget *>()) {
        // Qt's own parts (a spin box's field, a scroll area's bars) follow their owner.
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QString key = pathOf(w, root);
        for (int n = 2; values.contains(key); ++n)
            key = pathOf(w, root) + QStringLiteral("#%1").arg(n);
        QString value = valueOf(w);
        // Only the outermost of hidden widgets: what is inside follows it.
        if (!w->isVisibleTo(root) && w->parentWidget()->isVisibleTo(root))
            value += QStringLiteral(" hidden");
        if (!value.isEmpty())
            values.insert(key, hidePaths(value.trimmed()));
    }
    return values;
}

QString TestCommandGolden::run(const QStringList &lines)
{
    Body body;
    QSignalSpy answers(&body, &Body::callBatchCheckEnd);
    QMap<QString, QString> before = formValues(&body);
    QString dump = QStringLiteral("== start\n");
    // The engines start as many as the machine has cores.
    const QString engines = QStringLiteral("ControlScroll/ControlPanel/procCtrl/frame_2/Threads");
    const QString cores =
        QStringLiteral("value %1 ").arg(std::min(QThread::idealThreadCount(), 32));
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        dump += it.key() + QStringLiteral(": ") +
                (it.key() == engines ? QString(it.value()).replace(cores, "value <cores> ")
                                     : it.value()) +
                QLatin1Char('\n');
    for (const QString &line : lines) {
        answers.clear();
        body.batchInterpreter()->setOk(true);
        body.batchExCmd(BatchCmd(line));
        dump += QStringLiteral("== %1 | %2 | answered %3\n")
                    .arg(hidePaths(line), body.batchInterpreter()->isOk() ? "ok" : "ng")
                    .arg(answers.size());
        const QMap<QString, QString> after = formValues(&body);
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (before.value(it.key()) != it.value())
                dump += it.key() + QStringLiteral(": ") + it.value() + QLatin1Char('\n');
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (!after.contains(it.key()))
                dump +=
                    it.key() + (it.value() == QLatin1String("hidden") ? QStringLiteral(": shown\n")
                                                                      : QStringLiteral(": gone\n"));
        before = after;
    }
    return dump;
}

void TestCommandGolden::formAfterEachCommandIsAsRecorded()
{
    // $DATA is the demo data set, $E0 its first energy, $OUT a folder for results.
    QString script = QStringLiteral(R"(images_new_on_load 1
images_add_on_load 1
images_add_on_load 0
images_new_on_load 0
images_new_on_load 1
images_exp_time 2.5
images_multi 1 3
images_multi 0 1
ct_rot_ax_is_h 1
ct_rot_ax_is_h 0
ct_rot_ax_is_v 0
ct_rot_ax_is_v 1
images_load "$DATA/proj" demo-$E0-*.img
images_seek 5
images_seek -3
images_seek 999
images_clear
images_load "$DATA/proj" demo-$E0-*.img
i0_load "$DATA/i0/i0-$E0-00000.img"
i0_exp_time 1.5
i0_clear
i0_load "$DATA/i0/i0-$E0-00000.img"
bg_load "$DATA/bg/dark-00000.img"
bg_exp_time 0.5
bg_clear
bg_load "$DATA/bg/dark-00000.img"
ct_proc_slice 6
ct_cor 19.25
CT_COR 20
ct_auto_exec 1
ct_slice_from 2
ct_slice_to 9
ct_slice_step 2
ct_threads 4
ct_auto_gen_sinogram 1
ct_auto_gen_sinogram 0
ct_set_disp_region 2 3 30 31
ct_set_calc_region 4 5 28 29
calc_ct2 1
calc_ct1 0
calc_ct1 1
calc_ct2 true
calc_show_res 1
fix_color_scale 1
fix_color_min -0.5
fix_color_max 2.5
fix_color_scale 0
ct_filter_padded 1
ct_filter hann
ct_filter bogus
ct_filter_padded 2
ct_precision single
ct_precision float
ct_precision double
ct_cor_auto 10
ct_cor_auto 30 25
ct_cor_scan 18 19 0.5
ct_cor_scan 19 18 1
ct_ring_removal 11
ct_ring_removal 0
seq_exec_cor_auto 0
auto_save_image 1
auto_save_image_path "$OUT/img"
auto_save_image_name slice
auto_save_image_tag t1
auto_save_image_name ../up
auto_save_image_tag a/b
auto_save_image_clear
auto_save_data 1
auto_save_data_path "$OUT/dat"
auto_save_data_name demo
auto_save_data_tag t2
auto_save_data_name ..
auto_save_data_tag x/y
auto_save_data_format tiff
auto_save_data_format both
auto_save_data_format jpeg
auto_save_data_clear
auto_save_data_path "$OUT/dat"
auto_save_data_name demo
auto_save_in_sub_folders 1
auto_save_in_sub_folders_of_energy 1
auto_save_in_sub_folders_of_slice 1
auto_save_in_sub_folders 0
auto_save_image 0
auto_save_data 0
add_inf_show 1
add_inf_raw_i0_val 1234.5
add_inf_raw_i0_from_xafs 1
add_inf_raw_i0_xafs "$DATA/i0/i0-$E0-00000.img"
add_inf_raw_i0_xafs_clear
add_inf_raw_i0_eng_ptn *_eV
add_inf_i0_i0_val 42
add_inf_i0_i0_from_xafs 1
add_inf_i0_i0_xafs "$DATA/i0/i0-$E0-00000.img"
add_inf_i0_i0_xafs_clear
add_inf_i0_i0_eng_ptn E*
ADD_INF_RAW_I0_VAL 7
add_inf_raw_i0_bogus 1
add_inf_show 0
show_tab 2
show_orig
show_sinogram
show_ct1
show_i0
show_bg
show_ct2 0
show_ct2 1
show_tab 0
xafs_pre_edge 7060 7100
xafs_post_edge 7125 7150
xafs_e0 7112
xafs_e0 0
xafs_min_jump 0.1
xafs_register 1
xafs_pre_edge
xafs_spectrum 0 0 5 5 1 a.csv
xafs_unknown 1
add_inf_show 1
seq_exec_show 1
seq_exec_dir "$DATA/proj"
seq_exec_file_pattern *.img
seq_exec_select_i0 "$DATA/i0" *.img
seq_exec_set
seq_exec_next
seq_exec_set
seq_exec_next
seq_exec_set
seq_exec_next
seq_exec_show 0
no_such_command 1)");
    script.replace(QLatin1String("$DATA"), settings.outDir)
        .replace(QLatin1String("$E0"),
                 DemoGenerator::energyText(DemoGenerator(settings).energyAt(0)))
        .replace(QLatin1String("$OUT"), dir.filePath("out"));
    const QString dump = run(script.split(QLatin1Char('\n')));
    const QString goldenPath = QStringLiteral(ORVO2_SOURCE_DIR "/tests/body/golden/commands.txt");
    QFile golden(goldenPath);
    if (qEnvironmentVariableIsSet("ORVO2_GOLDEN_UPDATE")) {
        QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Truncate));
        golden.write(dump.toUtf8());
        return;
    }
    QVERIFY2(golden.open(QIODevice::ReadOnly), qPrintable(goldenPath));
    const QStringList expected = QString::fromUtf8(golden.readAll()).split(QLatin1Char('\n'));
    const QStringList actual = dump.split(QLatin1Char('\n'));
    QString command;
    for (int i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        const QString want = expected.value(i), got = actual.value(i);
        if (want.startsWith(QLatin1String("==")))
            command = want;
        QVERIFY2(got == want,
                 qPrintable(
                     QStringLiteral("%1\n  recorded: %2\n  now:      %3").arg(command, want, got)));
    }
}

QTEST_MAIN(TestCommandGolden)
#include "tstgui_CommandGolden.moc"
