// The batch command set: every command stands for something a user does in the
// main window, and changes the widgets so that their signals fire as usual.

#include "Body.h"

#include "batch/Batch.h"
#include "body/I0ofImage.h"
#include "ct/CtCalc.h"
#include "ct/DataSaver.h"
#include "run/RunController.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "disp/XafsPanel.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "select/SelectDir.h"
#include "ui_Body.h"
#include "ui_I0ofImage.h"
#include "util/Numbers.h"
#include "xafs/XafsSpectrum.h"

#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>

#include <memory>

namespace {

// A flag argument is on only when it reads exactly 1.
bool flagOf(const BatchCmd &c)
{
    return c.argInt(0) == 1;
}

void setSaveFolder(SelectAFile *picker, const QString &folder)
{
    picker->setPath(folder);
    if (!folder.isEmpty())
        QDir().mkpath(folder);
}

// "New" and "Add" of a file list are addressed by their object names.
void checkLoadNew(SelectDataFiles *files, bool loadNew)
{
    const QString name = loadNew ? QStringLiteral("LoadNewFiles") : QStringLiteral("AddFiles");
    if (auto *button = files->findChild<QRadioButton *>(name))
        button->setChecked(true);
}

void setI0Info(I0ofImage *panel, const BatchCmd &c, const QString &suffix)
{
    Ui::I0ofImage *form = panel->form();
    if (suffix == QLatin1String("val"))
        form->I0Val->setText(Numbers::text(c.argDouble(0)));
    else if (suffix == QLatin1String("from_xafs"))
        form->CalcFromXAFS->setChecked(flagOf(c));
    else if (suffix == QLatin1String("xafs"))
        form->XafsFile->fileSelected0(c.argText(0));
    else if (suffix == QLatin1String("xafs_clear"))
        form->XafsFile->clear0();
    else if (suffix == QLatin1String("eng_ptn"))
        form->EngPattern->setText(c.argText(0));
}

// A result name or tag is one file-name component; one that could lead the saver
// out of its folder is refused and the command reports ng.
bool namePartRefused(const BatchCmd &c, Batch *batch)
{
    if (DataSaver::isNamePartAllowed(c.argText(0)))
        return false;
    qDebug() << "Result name or tag not allowed (separator or \"..\")" << c.argText(0);
    if (batch)
        batch->setOk(false);
    return true;
}

} // namespace

bool Body::dispatch(const BatchCmd &c, bool fromInterpreter)
{
    qDebug() << "body-cmd" << c.cmd;
    if (dispatchRunOptions(c))
        return true;
    dispatchLoading(c);
    dispatchProcessing(c);
    dispatchSaving(c);
    dispatchAdditionalInfo(c);
    dispatchShowing(c);
    dispatchFilter(c);
    dispatchCor(c);
    if (c.isCmd(QStringLiteral("calc_exec"))) {
        // A configuration line's run answers nobody: the interpreter waits only
        // for the runs of its own lines.
        runs->setAnswersScript(fromInterpreter);
        emit batchCalcStart();
        return !fromInterpreter;
    }
    dispatchSequential(c);
    return dispatchXafs(c, fromInterpreter);
}

void Body::dispatchLoading(const BatchCmd &c)
{
    SelectDataFiles *files = ui->CTFiles;
    if (c.isCmd(QStringLiteral("images_load")))
        files->selectDir(c.argText(0), c.argsFrom(1));
    if (c.isCmd(QStringLiteral("images_new_on_load")))
        checkLoadNew(files, flagOf(c));
    if (c.isCmd(QStringLiteral("images_add_on_load")))
        checkLoadNew(files, !flagOf(c));
    if (c.isCmd(QStringLiteral("images_clear")))
        files->clearFiles();
    if (c.isCmd(QStringLiteral("images_exp_time")))
        files->setExpTime(c.argDouble(0));
    if (c.isCmd(QStringLiteral("images_multi"))) {
        if (auto *multi = files->findChild<QCheckBox *>(QStringLiteral("LoadMultiTimes")))
            multi->setChecked(flagOf(c));
        if (auto *times = files->findChild<QLineEdit *>(QStringLiteral("MultiTimes")))
            times->setText(QString::number(c.argInt(1)));
    }
    if (c.isCmd(QStringLiteral("images_seek")))
        ui->seekCtrl->setIndex(std::clamp(c.argInt(0), 0, ui->seekCtrl->maximum()));
    if (c.isCmd(QStringLiteral("i0_load")))
        ui->I0ImgSel->fileSelected0(c.argText(0));
    if (c.isCmd(QStringLiteral("i0_clear")))
        ui->I0ImgSel->clear0();
    if (c.isCmd(QStringLiteral("i0_exp_time")))
        ui->I0ImgSel->setExpTime(c.argDouble(0));
    if (c.isCmd(QStringLiteral("bg_load")))
        ui->BGImgSel->fileSelected0(c.argText(0));
    if (c.isCmd(QStringLiteral("bg_clear")))
        ui->BGImgSel->clear0();
    if (c.isCmd(QStringLiteral("bg_exp_time")))
        ui->BGImgSel->setExpTime(c.argDouble(0));
}

void Body::setRotAxIsV(bool vertical)
{
    if (ui->procCtrl->rotAxIsV() != vertical)
        ui->procCtrl->setRotAxIsV(vertical);
}

void Body::selectCt(bool ct1, bool checked)
{
    QRadioButton *button = ct1 ? ui->SelectCt1 : ui->SelectCt2;
    // An exclusive pair keeps its checked button: unchecking it does nothing.
    if (!checked && button->isChecked())
        return;
    button->setChecked(checked);
    // Setting a button from code emits no buttonClicked: apply the click's rule.
    if (checked)
        changedCtSel(button);
}

void Body::dispatchProcessing(const BatchCmd &c)
{
    ProcCtrl *proc = ui->procCtrl;
    if (c.isCmd(QStringLiteral("ct_proc_slice")))
        proc->setSliceNo(c.argInt(0));
    if (c.isCmd(QStringLiteral("ct_auto_exec")))
        proc->setAutoExec(flagOf(c));
    if (c.isCmd(QStringLiteral("ct_slice_from")))
        proc->setSliceFrom(c.argInt(0));
    if (c.isCmd(QStringLiteral("ct_slice_to")))
        proc->setSliceTo(c.argInt(0));
    if (c.isCmd(QStringLiteral("ct_slice_step")))
        proc->setSliceStep(c.argInt(0));
    if (c.isCmd(QStringLiteral("ct_threads")))
        proc->setThreads(enginesAsked(c.argInt(0)));
    if (c.isCmd(QStringLiteral("ct_cor"))) {
        qDebug() << "cor" << c.argDouble(0);
        proc->setCor(c.argDouble(0));
    }
    if (c.isCmd(QStringLiteral("ct_rot_ax_is_h")))
        setRotAxIsV(!flagOf(c));
    if (c.isCmd(QStringLiteral("ct_rot_ax_is_v")))
        setRotAxIsV(flagOf(c));
    if (c.isCmd(QStringLiteral("ct_auto_gen_sinogram")))
        proc->setAutoUpdate(flagOf(c));
    if (c.isCmd(QStringLiteral("ct_set_disp_region"))) {
        dRUpdated(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3));
        ctCalc->setDR(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3));
    }
    if (c.isCmd(QStringLiteral("ct_set_calc_region"))) {
        cRUpdated(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3));
        ctCalc->setCR(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3));
    }
    if (c.isCmd(QStringLiteral("calc_ct1")))
        selectCt(true, flagOf(c));
    if (c.isCmd(QStringLiteral("calc_ct2")))
        selectCt(false, flagOf(c));
    if (c.isCmd(QStringLiteral("calc_show_res")))
        ui->ShowCalcRes->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("fix_color_scale")))
        ui->FixColorScale->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("fix_color_min")))
        setColorMin(c.argDouble(0));
    if (c.isCmd(QStringLiteral("fix_color_max")))
        setColorMax(c.argDouble(0));
}

void Body::dispatchSaving(const BatchCmd &c)
{
    SelectAFile *img = ui->SelectImageSaveDir;
    SelectAFile *data = ui->SelectDataSaveDir;
    if (c.isCmd(QStringLiteral("auto_save_image")))
        ui->AutoSaveImage->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("auto_save_image_path")))
        setSaveFolder(img, c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_image_name")) && !namePartRefused(c, batch))
        img->setName(c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_image_tag")) && !namePartRefused(c, batch))
        img->setAddTag(c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_image_clear"))) {
        img->setPath(QString());
        img->setName(QString());
    }
    if (c.isCmd(QStringLiteral("auto_save_data")))
        ui->AutoSaveData->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("auto_save_data_path")))
        setSaveFolder(data, c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_data_name")) && !namePartRefused(c, batch))
        data->setName(c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_data_tag")) && !namePartRefused(c, batch))
        data->setAddTag(c.argText(0));
    if (c.isCmd(QStringLiteral("auto_save_data_clear"))) {
        data->setPath(QString());
        data->setName(QString());
    }
    if (c.isCmd(QStringLiteral("auto_save_in_sub_folders")))
        ui->SaveInSubFolders->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("auto_save_in_sub_folders_of_slice")))
        ui->SubOfSlice->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("auto_save_in_sub_folders_of_energy")))
        ui->SubOfEnergy->setChecked(flagOf(c));
}

void Body::dispatchAdditionalInfo(const BatchCmd &c)
{
    if (c.isCmd(QStringLiteral("add_inf_show")))
        ui->AdditionalInfo->setVisible(flagOf(c));
    // The same word also switches the naming standard of data directories;
    // scripts rely on it.
    if (c.isCmd(QStringLiteral("add_inf_show")))
        ui->SelDDir->setIsKVNStandard(flagOf(c));
    const QString word = c.cmd.toLower();
    const QString raw = QStringLiteral("add_inf_raw_i0_");
    const QString i0 = QStringLiteral("add_inf_i0_i0_");
    if (word.startsWith(raw))
        setI0Info(ui->I0ofRawImage_, c, word.mid(raw.size()));
    else if (word.startsWith(i0))
        setI0Info(ui->I0ofI0Image_, c, word.mid(i0.size()));
}

void Body::dispatchShowing(const BatchCmd &c)
{
    QTabWidget *tabs = ui->ImgsTab;
    if (c.isCmd(QStringLiteral("show_tab")))
        tabs->setCurrentIndex(c.argInt(0));
    if (c.isCmd(QStringLiteral("show_orig")))
        tabs->setCurrentIndex(0);
    if (c.isCmd(QStringLiteral("show_sinogram")))
        tabs->setCurrentIndex(1);
    if (c.isCmd(QStringLiteral("show_ct1")))
        tabs->setCurrentIndex(2);
    if (c.isCmd(QStringLiteral("show_i0")))
        tabs->setCurrentIndex(3);
    if (c.isCmd(QStringLiteral("show_bg")))
        tabs->setCurrentIndex(4);
    if (c.isCmd(QStringLiteral("show_ct2")))
        tabs->setCurrentIndex(Numbers::saturateToInt(static_cast<double>(c.argInt(0)) + 5));
}

void Body::dispatchFilter(const BatchCmd &c)
{
    if (c.isCmd(QStringLiteral("ct_filter_padded")))
        ui->procCtrl->setFilterPadded(flagOf(c));
    if (c.isCmd(QStringLiteral("ct_filter")))
        batch->setOk(ui->procCtrl->setFilterName(c.argText(0)));
    if (c.isCmd(QStringLiteral("auto_save_data_format")))
        batch->setOk(setDataFormat(c.argText(0)));
}

void Body::dispatchSequential(const BatchCmd &c)
{
    SelectDataDir *dirs = ui->SelDDir;
    if (c.isCmd(QStringLiteral("seq_exec_show")))
        ui->ShowAdditionalInfo->setChecked(flagOf(c));
    if (c.isCmd(QStringLiteral("seq_exec_dir")))
        dirs->loadDir(c.argText(0));
    if (c.isCmd(QStringLiteral("seq_exec_file_pattern")))
        dirs->setPattern(c.argText(0));
    if (c.isCmd(QStringLiteral("seq_exec_next")))
        batch->setOk(dirs->advance());
    if (c.isCmd(QStringLiteral("seq_exec_set")))
        dirs->set();
    if (c.isCmd(QStringLiteral("seq_exec_select_i0")))
        ui->SelI0Files->loadDir(c.argText(0), c.argsFrom(1));
}

void Body::setupXafs()
{
    // After the engines' tabs, so that the tab numbers of the batch commands stay.
    xafsPanel = new XafsPanel;
    ui->ImgsTab->addTab(xafsPanel, tr("XAFS"));
    connect(xafsPanel, &XafsPanel::refreshRequested, this, &Body::refreshXafsPanel);
    connect(xafsPanel, &XafsPanel::buildRequested, this, [this] { startXafsBuild(false); });
    connect(ui->ImgsTab, &QTabWidget::currentChanged, this, [this](int index) {
        if (ui->ImgsTab->widget(index) == xafsPanel)
            refreshXafsPanel();
    });
}

XafsLayout Body::xafsLayout() const
{
    return {ui->SelectDataSaveDir->path(), ui->SelectDataSaveDir->name(),
            ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
            ui->SubOfSlice->isChecked()};
}

XafsSettings Body::xafsSettings() const
{
    return xafsPanel->settings();
}

void Body::refreshXafsPanel()
{
    const XafsLayout layout = xafsLayout();
    xafsPanel->setSource(XafsBuilder(layout, xafsSettings()).outputFolder(), layout.name);
}

void Body::startXafsBuild(bool fromScript)
{
    if (xafsBuildThread) {
        qDebug() << "XAFS: a build is already running";
        if (fromScript) {
            batch->setOk(false);
            emit callBatchCheckEnd();
        }
        return;
    }
    // Results still queued for the saver are written before they are looked for.
    QMetaObject::invokeMethod(
        dataSaver, [] {}, Qt::BlockingQueuedConnection);
    const XafsLayout layout = xafsLayout();
    const XafsSettings settings = xafsSettings();
    auto built = std::make_shared<int>(0);
    xafsBuildThread = QThread::create(
        [layout, settings, built] { *built = XafsBuilder(layout, settings).build(); });
    xafsBuildThread->setParent(this);
    xafsPanel->setBuilding(true);
    connect(xafsBuildThread, &QThread::finished, this, [this, built, fromScript, layout] {
        xafsBuildThread->deleteLater();
        xafsBuildThread = nullptr;
        xafsPanel->setBuilding(false);
        if (*built == 0)
            qDebug() << "XAFS: nothing could be built for" << layout.name;
        refreshXafsPanel();
        if (fromScript) {
            batch->setOk(*built > 0);
            emit callBatchCheckEnd();
        }
        finishIfHeadlessDone();
    });
    xafsBuildThread->start();
}

// xafs_spectrum X0 Z0 X1 Z1 SLICE FILE: a relative FILE is in the xafs folder.
bool Body::writeXafsSpectrum(const BatchCmd &c)
{
    const XafsLayout layout = xafsLayout();
    const XafsSettings settings = xafsSettings();
    const QDir folder(XafsBuilder(layout, settings).outputFolder());
    const QString stackPath =
        folder.filePath(XafsBuilder::stackFileName(layout.name, "mu", c.argInt(4)));
    const QString file = c.argText(5);
    if (file.isEmpty()) {
        qDebug() << "XAFS: no spectrum file given" << c.line;
        return false;
    }
    XafsSpectrum stack;
    if (!stack.load(stackPath))
        return false;
    std::vector<double> mu;
    if (stack.meanOver(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3), &mu) < 1) {
        qDebug() << "XAFS: no pixel of the stack in the region" << c.line;
        return false;
    }
    return XafsSpectrum::writeCsv(folder.absoluteFilePath(file), stack.energies(), mu, settings);
}

bool Body::dispatchXafs(const BatchCmd &c, bool fromInterpreter)
{
    XafsSettings s = xafsSettings();
    // An energy of 0 (or no argument) gives the range back to the default.
    auto energyOrUnset = [](double e) { return e != 0.0 ? e : XafsSettings::unset; };
    if (c.isCmd(QStringLiteral("xafs_pre_edge"))) {
        s.preEdge1 = energyOrUnset(c.argDouble(0));
        s.preEdge2 = energyOrUnset(c.argDouble(1));
    }
    if (c.isCmd(QStringLiteral("xafs_post_edge"))) {
        s.postEdge1 = energyOrUnset(c.argDouble(0));
        s.postEdge2 = energyOrUnset(c.argDouble(1));
    }
    if (c.isCmd(QStringLiteral("xafs_e0")))
        s.fixedE0 = energyOrUnset(c.argDouble(0));
    if (c.isCmd(QStringLiteral("xafs_min_jump")))
        s.minJump = c.argDouble(0);
    if (c.isCmd(QStringLiteral("xafs_register")))
        s.registerEnergies = flagOf(c);
    if (c.cmd.startsWith(QLatin1String("xafs_"), Qt::CaseInsensitive))
        xafsPanel->setSettings(s);
    if (c.isCmd(QStringLiteral("xafs_spectrum"))) {
        // A failed build or spectrum makes the script's flag ng; it is not a failure of
        // the run's reconstructions (the exit status stays theirs).
        const bool written = writeXafsSpectrum(c);
        if (fromInterpreter)
            batch->setOk(written);
    }
    if (c.isCmd(QStringLiteral("xafs_build"))) {
        // A configuration line's build answers nobody, like its calc_exec.
        startXafsBuild(fromInterpreter);
        return !fromInterpreter;
    }
    return true;
}
