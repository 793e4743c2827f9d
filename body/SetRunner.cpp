#include "SetRunner.h"

#include "body/RunView.h"
#include "body/XafsBatch.h"
#include "ct/SgmGeom.h"
#include "imgdata/H5Scan.h"
#include "imgdata/ImgData.h"
#include "run/RunController.h"
#include "run/RunRequest.h"
#include "select/CtFileSet.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"
#include "util/Edition.h"
#include "util/Numbers.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTextStream>

// Messages here keep the translation context of the main window, where they
// were first written: the catalogue has them under "Body".

SetRunner::SetRunner(Ui::Body *form, RunController *runs, XafsBatch *sequencer, Hooks hooks,
                     QObject *parent)
    : QObject(parent)
    , ui(form)
    , runs(runs)
    , sequencer(sequencer)
    , hooks(std::move(hooks))
{
    connect(ui->SelDDir, &SelectDataDir::newSets, this, &SetRunner::newSequence);
    connect(ui->SeqCalc, &QPushButton::clicked, this, &SetRunner::seqCalcClicked);
    // The sequencer's steps come from its thread, each after the one before.
    const auto queued = Qt::QueuedConnection;
    connect(sequencer, &XafsBatch::starting, this, &SetRunner::sequenceStarted, queued);
    connect(sequencer, &XafsBatch::setFirstImageSet, this, &SetRunner::setFirstImageSet, queued);
    connect(sequencer, &XafsBatch::setNextImageSet, this, &SetRunner::setNextImageSet, queued);
    connect(sequencer, &XafsBatch::execCalculation, this, &SetRunner::startSetCalc, queued);
    connect(sequencer, &XafsBatch::finished, this, &SetRunner::sequenceFinished, queued);
    connect(sequencer, &XafsBatch::stage, this, &SetRunner::noticedStage, queued);
    connect(ui->SelDDir, &SelectDataDir::noMoreSets, sequencer, &XafsBatch::noMoreSets, queued);
}

void SetRunner::sequenceStarted()
{
    ui->SeqCalc->setStyleSheet(RunView::runningStyle());
}

void SetRunner::sequenceFinished()
{
    ui->SeqCalc->setStyleSheet(RunView::idleStyle());
    hooks.ended();
}

void SetRunner::newSequence()
{
    gridHalfWidth = 0;
    ++sequenceNumber;
}

void SetRunner::fixGrid(RunRequest *request)
{
    const QStringList files = ui->CTFiles->fileNames();
    if (setFirstFile.isEmpty() || files.isEmpty() || files.first() != setFirstFile)
        return;
    request->params.ringSequence = sequenceNumber;
    if (gridHalfWidth > 0) {
        request->params.fixedHalfWidth = gridHalfWidth;
        return;
    }
    const SgmGeom g = setGeom(request->params.rotAxIsV, request->cutWidth(), request->params.cor,
                              request->geometryHalfWidth());
    // A centre that leaves no sinogram fixes nothing: the run is refused anyway.
    if (g.width >= 3) {
        gridHalfWidth = g.halfWidth;
        request->params.fixedHalfWidth = gridHalfWidth;
    }
}

void SetRunner::reportStage(const QString &msg)
{
    // The sequencer's clock is read and written on its own thread only; queued
    // behind the steps already sent, the report keeps its place in the chain.
    XafsBatch *seq = sequencer;
    QMetaObject::invokeMethod(
        seq, [seq, msg] { seq->reportStage(msg); }, Qt::QueuedConnection);
}

void SetRunner::stopSequence(const QString &msg)
{
    QMetaObject::invokeMethod(
        sequencer, [seq = sequencer, msg] { seq->stop(msg); }, Qt::QueuedConnection);
}

void SetRunner::seqCalcClicked()
{
    // The sequencer would take the end of a run it did not start for the end of
    // its first set.
    if (!sequencer->isRunning() && (runs->isRunning() || !runs->enginesIdle())) {
        const QString msg = QCoreApplication::translate(
            "Body", "Sequential run not started: a CT run is in progress");
        qDebug().noquote() << msg;
        ui->ProgressMsg->setText(msg);
        return;
    }
    QMetaObject::invokeMethod(sequencer, &XafsBatch::start, Qt::QueuedConnection);
}

void SetRunner::startSetCalc()
{
    if (runs->isRunning()) {
        const QString msg = QCoreApplication::translate(
                                "Body", "Sequential run stopped at %1: a CT run is in progress")
                                .arg(currentSetText());
        qDebug().noquote() << msg;
        runs->markFailure(QStringLiteral("set not computed"));
        stopSequence(msg);
        return;
    }
    runs->setSequenced(true);
    hooks.startRun();
}

QString SetRunner::currentSetText() const
{
    return QCoreApplication::translate("Body", "set %1 (%2)")
        .arg(ui->SelDDir->currentIndex() + 1)
        .arg(ui->SelDDir->currentEnergyText());
}

QString SetRunner::tagForCurrentSet(bool *sharedEnergy) const
{
    const SelectDataDir *dirs = ui->SelDDir;
    const QString energy = dirs->currentEnergyText();
    *sharedEnergy = false;
    const int idx = dirs->currentIndex();
    if (!dirs->isKVNStandard() || idx < 0 || idx >= dirs->sets.size())
        return energy;
    const CtFileSet *current = dirs->sets.at(idx);
    return saveTagOf(current->energyText, current->sample, sharedEnergy);
}

QString SetRunner::saveTagOf(const QString &energyText, const QString &sample,
                             bool *sharedEnergy) const
{
    // Counted over the whole directory: under -set the list holds that set alone.
    return SetSequence::saveTag(energyText, sample, ui->SelDDir->setsWithEnergyText(energyText),
                                sharedEnergy);
}

void SetRunner::makeSaveFolders()
{
    if (ui->AutoSaveImage->isChecked() && !ui->SelectImageSaveDir->path().isEmpty())
        QDir().mkpath(ui->SelectImageSaveDir->path());
    if (ui->AutoSaveData->isChecked() && !ui->SelectDataSaveDir->path().isEmpty())
        QDir().mkpath(ui->SelectDataSaveDir->path());
}

void SetRunner::setFirstImageSet()
{
    if (!Edition::isBase())
        reportStage(QCoreApplication::translate("Body", "Loading first Data Set"));
    hooks.passSubFolders();
    makeSaveFolders();
    firstSetCor.reset();
    newSequence();
    hooks.firstSet(Numbers::toInt(ui->SeqCalcFrom->text()) - 1);
}

void SetRunner::setNextImageSet()
{
    qDebug() << "loading next data set";
    if (!Edition::isBase())
        reportStage(QCoreApplication::translate("Body", "Loading next Data Set"));
    hooks.nextSet(Numbers::toInt(ui->SeqCalcTo->text()) - 1);
}

void SetRunner::loadDataSetOf(const QFileInfoList &entries)
{
    QStringList files;
    for (const QFileInfo &entry : entries)
        files << entry.filePath();
    loadDataSet(files);
}

void SetRunner::loadDataSet(const QStringList &files)
{
    // The I0 image is read by the engines too: the whole set waits for them.
    if (runs->deferWhileRunning("Loading a set", [this, files] { loadDataSet(files); }))
        return;
    // An HDF5 file is a whole set: its own flats and darks are its I0 and BG.
    const bool scanFile = files.size() == 1 && H5Scan::isH5Name(files.first());
    const SetSequence::I0Choice choice = scanFile ? SetSequence::I0Choice() : i0ChoiceForSet();
    if (choice.beyondLimit) {
        const QString msg = QCoreApplication::translate(
                                "Body", "Sequential run stopped at %1: the nearest I0 (%2 eV, %3) "
                                        "lies %4 eV from the set, beyond seq_exec_i0_max_gap %5")
                                .arg(currentSetText())
                                .arg(choice.energy)
                                .arg(ui->SelI0Files->fileName(choice.index))
                                .arg(choice.gap)
                                .arg(maxI0Gap);
        qDebug().noquote() << msg;
        runs->markFailure(QStringLiteral("seq_exec_set"));
        stopSequence(msg);
        return;
    }
    const QString failedI0 = scanFile ? QString() : chooseI0ForSet();
    if (!failedI0.isEmpty()) {
        // Without the I0 of its energy the set would be reconstructed with none, or
        // with another energy's, and saved under its own energy: it is not loaded.
        const QString msg =
            QCoreApplication::translate(
                "Body", "Sequential run stopped at %1: the I0 image %2 could not be loaded")
                .arg(currentSetText(), failedI0);
        qDebug().noquote() << msg;
        runs->markFailure(QStringLiteral("seq_exec_set"));
        stopSequence(msg);
        return;
    }
    bool shared = false;
    const QString tag = tagForCurrentSet(&shared);
    if (shared) {
        const QString msg = QCoreApplication::translate(
                                "Body", "Energy %1 is shared by several sets: results tagged %2")
                                .arg(ui->SelDDir->currentEnergyText(), tag);
        qDebug().noquote() << msg;
        reportStage(msg);
    }
    ui->SelectImageSaveDir->setAddTag(tag);
    ui->SelectDataSaveDir->setAddTag(tag);
    runs->account().addSet();
    // A set always replaces the stack, whatever the list's load options say.
    ui->CTFiles->clearFiles();
    setFirstFile = files.value(0);
    // A script's loop over the sets shows its place too, not only the Seq. Calc. button's.
    showSetProgress(QCoreApplication::translate("Body", "loading the set"));
    if (!scanFile) {
        hooks.loadStack(files);
    } else if (!hooks.loadScanFile(files.first())) {
        // As a set none of whose images can be read: an empty stack, nothing computed.
        qDebug().noquote() << QStringLiteral("%1 not loaded: HDF5 scan refused : %2")
                                  .arg(currentSetText(), files.first());
        runs->markFailure(QStringLiteral("seq_exec_set"));
        hooks.loadStack(QStringList());
    }
    hooks.setLoaded();
}

void SetRunner::i0FilesSelected(const QStringList &files)
{
    sets.setI0Files(files);
    ui->SelI0Files->clearFiles();
    for (const QString &path : files)
        ui->SelI0Files->addFileName(path);
}

void SetRunner::noticedStage(const QString &msg, qint64 dEt)
{
    if (!Edition::isBase())
        qDebug() << "Stage : " << msg << dEt;
    ui->ProgressMsg->setText(msg);
    ui->DeltaET->setText(QString::number(dEt));
    showSetProgress(msg);
}

void SetRunner::showSetProgress(const QString &stageMsg)
{
    const int set = ui->SelDDir->currentIndex() + 1;
    const int from = ui->SeqCalcFrom->value();
    const QString text =
        set > 0 ? QCoreApplication::translate("Body", "Energy %1 of %2 (set %3, %4 eV): %5")
                      .arg(set - from + 1)
                      .arg(ui->SeqCalcTo->value() - from + 1)
                      .arg(set)
                      .arg(QString::number(ui->SelDDir->currentEnergy(), 'f', 1), stageMsg)
                : stageMsg;
    if (auto *label = parent()->findChild<QLabel *>(QStringLiteral("SeqSetProgress")))
        label->setText(text);
    if (hooks.headless())
        qDebug().noquote() << text;
}

SetSequence::I0Choice SetRunner::i0ChoiceForSet() const
{
    QList<double> energies;
    for (const SelectDataDir::SetSummary &set : ui->SelDDir->summaries())
        energies << set.energy;
    return sets.chooseI0(ui->SelDDir->currentEnergy(), energies, maxI0Gap);
}

QString SetRunner::chooseI0ForSet()
{
    if (!sets.hasI0Files())
        return QString();
    const SetSequence::I0Choice choice = i0ChoiceForSet();
    const int k = choice.index;
    const QString file = ui->SelI0Files->fileName(k);
    if (choice.far)
        qDebug().noquote() << "I0 far from the set's energy :" << ui->SelDDir->currentEnergy()
                           << choice.energy << file;
    ui->I0ImgSel->fileSelected0(file);
    // A failed load leaves the picker without an image (never the previous one).
    const ImgData *i0 = ui->I0ImgSel->image();
    if (!i0 || !i0->isOk || ui->I0ImgSel->loadFailed())
        return file.isEmpty() ? QStringLiteral("\"\"") : file;
    return QString();
}

void SetRunner::printSetList()
{
    // Standard output, not the debug channel: a submission script reads it.
    QTextStream out(stdout);
    out << SetSequence::listingHeader();
    for (const SelectDataDir::SetSummary &set : ui->SelDDir->summaries()) {
        // A scan file's I0 is its own flats.
        const QString i0 = !set.scanFile.isEmpty() ? set.scanFile
                           : sets.hasI0Files()
                               ? ui->SelI0Files->fileName(sets.nearestI0(set.energy))
                               : QStringLiteral("-");
        // The tag the set's results are saved under.
        bool shared = false;
        out << SetSequence::listingLine(set.number, saveTagOf(set.tag, set.sample, &shared),
                                        set.fileCount, i0);
    }
    out.flush();
}
