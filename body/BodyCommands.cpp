// The batch commands wired to the window: every feature area's words (body/commands/)
// get the panels they change and, for what the window itself does, small callbacks.

#include "Body.h"

#include "batch/Batch.h"
#include "body/CorTools.h"
#include "body/RunRecordSender.h"
#include "body/SetRunner.h"
#include "body/StackView.h"
#include "body/TaskOptions.h"
#include "body/XafsView.h"
#include "body/commands/AllCommands.h"
#include "ct/CtCalc.h"
#include "imgdata/H5Scan.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "run/RunController.h"
#include "select/SelectDataDir.h"
#include "ui_Body.h"

#include <QComboBox>
#include <QDebug>

void Body::setupCommands()
{
    CommandParts p;
    p.runOptions = {
        &taskOptions->options(), [this] { return taskOptions->onlySetFailed(); },
        [this] { taskOptions->printSetList(); },
        [this] { QMetaObject::invokeMethod(batch, &Batch::batchStop, Qt::QueuedConnection); }};
    p.loading = {ui->CTFiles, ui->seekCtrl, ui->I0ImgSel, ui->BGImgSel};
    h5Settings = std::make_shared<H5Settings>();
    p.h5 = {[this](H5Scan &scan, const QString &fileName) { return takeH5Scan(scan, fileName); },
            h5Settings};
    ui->SelDDir->setScanEnergyReader([settings = h5Settings](const QString &file) {
        return H5Scan::energyOfFile(file, settings->paths);
    });
    p.processing = {ui->procCtrl, [this](int asked) { return taskOptions->enginesAsked(asked); },
                    [this](double x0, double z0, double x1, double z1) {
                        dRUpdated(x0, z0, x1, z1);
                        ctCalc->setDR(x0, z0, x1, z1);
                    },
                    [this](double x0, double z0, double x1, double z1) {
                        cRUpdated(x0, z0, x1, z1);
                        ctCalc->setCR(x0, z0, x1, z1);
                    }};
    p.saving = {ui->AutoSaveImage,     ui->AutoSaveData,     ui->SelectImageSaveDir,
                ui->SelectDataSaveDir, ui->SaveInSubFolders, ui->SubOfSlice,
                ui->SubOfEnergy};
    p.additionalInfo = {ui->AdditionalInfo, ui->SelDDir, ui->I0ofRawImage_, ui->I0ofI0Image_};
    p.showing = {ui->ImgsTab, ui->FixColorScale, [this](double v) { setColorMin(v); },
                 [this](double v) { setColorMax(v); }};
    p.filter = {ui->procCtrl, findChild<QComboBox *>(QStringLiteral("DataFormat"))};
    p.centre = {
        ui->procCtrl, [this](double from, double to) { return corTools->findCor(from, to); },
        [this](double from, double to, double step) { return corTools->scanCor(from, to, step); },
        [this](const QString &what) { runs->markFailure(what); },
        [this](int mode) { corTools->setSeqCorAuto(mode); }};
    p.runs = {ui->SelectCt1, ui->SelectCt2, ui->ShowCalcRes,
              [this](QAbstractButton *button) { changedCtSel(button); },
              [this](bool answersScript) {
                  runs->setAnswersScript(answersScript);
                  emit batchCalcStart();
              }};
    p.sequential = {ui->ShowAdditionalInfo, ui->SelDDir, ui->SelI0Files,
                    [this](double eV) { setRunner->setMaxI0Gap(eV); }};
    p.xafs = {xafsView->panel(), [this] { return xafsView->layout(); },
              [this](bool fromScript) { xafsView->startBuild(fromScript); },
              [this] { runs->account().addFailures(1); }};
    registerAllCommands(commands, p);
    // Only a script's typo makes a headless run fail: the configuration file is logged.
    commands.setUnknownWordListener([this](const BatchCmd &, CommandTable::Origin origin) {
        if (origin == CommandTable::Origin::Script)
            runs->account().addUnknownCommand();
    });
}

bool Body::takeH5Scan(H5Scan &scan, const QString &fileName)
{
    // The engines read the stack's frames while they run.
    if (runs->isRunning()) {
        qDebug() << "HDF5 scan not loaded while a run reads the stack" << fileName;
        return false;
    }
    // A new stack, announced once its frames are in: a sequential run starts on the
    // announcement.
    stackView->load(QStringList(), true);
    for (auto &frame : scan.projections)
        imgDatas->addFrame(std::move(frame));
    ui->CTFiles->clearFiles();
    ui->CTFiles->addFileName(fileName);
    runRecords->noteScanEnergy(fileName, scan.energyEV);
    ui->I0ImgSel->takeImage(std::move(scan.flat));
    ui->BGImgSel->takeImage(std::move(scan.dark));
    loadFiles(QStringList(), false);
    // Angles within 0.01 degrees of i * 180 / P take the default geometry's own
    // arithmetic; any others (uneven steps, dropped frames, a full turn) are back
    // projected as given, like an angle file's.
    if (!scan.anglesDeg.empty() && H5Scan::firstNonUniformAngle(scan.anglesDeg) >= 0) {
        qDebug().noquote() << QStringLiteral("HDF5 angles of %1 projections, %2 to %3 "
                                             "degrees, back projected as given : %4")
                                  .arg(scan.anglesDeg.size())
                                  .arg(scan.anglesDeg.front())
                                  .arg(scan.anglesDeg.back())
                                  .arg(fileName);
        ui->procCtrl->setScanAngles(std::move(scan.anglesDeg), QStringLiteral("HDF5"));
    }
    return true;
}

bool Body::loadScanFile(const QString &fileName)
{
    H5Scan scan;
    return scan.load(fileName, h5Settings->paths, h5Settings->reduce) && takeH5Scan(scan, fileName);
}

bool Body::dispatch(const BatchCmd &c, bool fromInterpreter)
{
    qDebug() << "body-cmd" << c.cmd;
    using Answer = CommandTable::Answer;
    const Answer answer = commands.run(c, fromInterpreter ? CommandTable::Origin::Script
                                                          : CommandTable::Origin::Configuration);
    if (answer == Answer::Ng)
        batch->setOk(false);
    return answer != Answer::Later;
}
