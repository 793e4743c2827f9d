#include "Body.h"

#include "app/CfgStore.h"
#include "batch/Batch.h"
#include "body/CorTools.h"
#include "body/FormFit.h"
#include "body/ImageTabs.h"
#include "body/NextFileNames.h"
#include "body/ResultPanels.h"
#include "body/RunRecordSender.h"
#include "body/RunView.h"
#include "body/SetRunner.h"
#include "body/StackView.h"
#include "body/TaskOptions.h"
#include "body/XafsBatch.h"
#include "body/XafsView.h"
#include "ct/CtCalc.h"
#include "ct/DataSaver.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ProcCtrl.h"
#include "disp/RawDisp.h"
#include "disp/RawView.h"
#include "disp/SeekCtrl.h"
#include "disp/Sinogram.h"
#include "imgdata/ImgDatas.h"
#include "run/CtEnginePool.h"
#include "run/HeadlessSession.h"
#include "run/RunController.h"
#include "select/SelectAFile.h"
#include "select/SelectDataDir.h"
#include "ui_Body.h"
#include "util/Numbers.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <cmath>

Body::Body(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::Body)
{
    imgDatas = new ImgDatas(this);
    BatchCmd::registerMetaType();
    qRegisterMetaType<MouseC::MStat>("MouseC::MStat");
    ui->setupUi(this);
    // Both run buttons start as a run's end leaves them.
    ui->CalcCT->setStyleSheet(RunView::idleStyle());
    ui->SeqCalc->setStyleSheet(RunView::idleStyle());
    FormFit::setUp(ui, this);
    RunRecordSender::addDataFormatBox(ui, this);
    setupDisplays();
    setupBatch();
    setupSequencer();
    setupEngines();
    xafsView = new XafsView({ui, dataSaver, runs,
                             [this](bool ok) {
                                 batch->setOk(ok);
                                 emit callBatchCheckEnd();
                             },
                             [this] { finishIfHeadlessDone(); }},
                            this);
    runRecords = std::make_unique<RunRecordSender>(RunRecordSender::Parts{
        ui, this, imgDatas, runs, xafsBatch, resultPanels, corTools, dataSaver});
    connectPanels();
    ui->AdditionalInfo->setVisible(ui->ShowAdditionalInfo->isChecked());
    ui->I0ofRawImage_->setTitle(tr("I0 of Raw Image"));
    ui->I0ofI0Image_->setTitle(tr("I0 of I0 Image"));
    // Once every tab has its content: the images' share of the screen is known.
    FormFit::fitControlColumn(ui, this);
    FormFit::fitToScreen(this);
    setupCommands();
    taskOptions->apply();
    if (taskOptions->options().onlySet >= 0)
        connect(this, &Body::finishedLoadingCTFiles, taskOptions, &TaskOptions::checkOnlySetLoaded);
    executeConfigLines();
}

Body::~Body()
{
    stopThreads();
    delete resultPanels;
    delete ui;
}

void Body::setupDisplays()
{
    const ImageTabs tabs = ImageTabs::build(ui, imgDatas);
    rawDisp = tabs.raw;
    sinogram = tabs.sinogram;
    ctCalc = tabs.ct1;
}

void Body::setupBatch()
{
    batch = workers.batch();
    connect(this, &Body::callBatchLoad, batch, &Batch::batchLoad, Qt::QueuedConnection);
    connect(this, &Body::callBatchExec, batch, &Batch::batchExec, Qt::QueuedConnection);
    connect(batch, &Batch::batchExCmd, this, &Body::batchExCmd, Qt::QueuedConnection);
    connect(this, &Body::callBatchCheckEnd, batch, &Batch::batchCheckEnd, Qt::QueuedConnection);
    connect(this, &Body::batchCalcStart, this, &Body::startCalcCt);
    connect(this, &Body::batchCalcFinished, this, &Body::callBatchCheckEnd);
    // A headless run given a script ends only after its load was answered, so that a
    // script that can not be opened is seen in the exit status.
    connect(this, &Body::callBatchLoad, this, [this] { session->scriptLoadAsked(); });
    connect(batch, &Batch::batchLoaded, this, &Body::batchLoadedScript, Qt::QueuedConnection);
    connect(batch, &Batch::batchEnded, this, &Body::batchEnded, Qt::QueuedConnection);
}

void Body::setupSequencer()
{
    xafsBatch = workers.sequencer();
    connect(this, &Body::finishedLoadingCTFiles, xafsBatch, &XafsBatch::loadedDataSet,
            Qt::QueuedConnection);
    connect(this, &Body::setCalcFinished, xafsBatch, &XafsBatch::calcFinished,
            Qt::QueuedConnection);
    connect(this, &Body::setFirstSet, ui->SelDDir, &SelectDataDir::setFirstSet);
    connect(this, &Body::setNextSet, ui->SelDDir, &SelectDataDir::setNextSet);
    connect(ui->SelDDir, &SelectDataDir::newSets, this, &Body::newSets);
}

void Body::setupSetRunner()
{
    SetRunner::Hooks hooks;
    hooks.startRun = [this] { startCalcCt(); };
    hooks.loadStack = [this](const QStringList &files) { dataFilesSelected(files, true); };
    hooks.loadScanFile = [this](const QString &file) { return loadScanFile(file); };
    hooks.setLoaded = [this] { corTools->estimateCorOfSet(); };
    hooks.passSubFolders = [this] { passSubFolderSettings(); };
    hooks.firstSet = [this](int index) { emit setFirstSet(index); };
    hooks.nextSet = [this](int index) { emit setNextSet(index); };
    hooks.headless = [this] { return session->isHeadless(); };
    hooks.ended = [this] { finishIfHeadlessDone(); };
    setRunner = new SetRunner(ui, runs, xafsBatch, std::move(hooks), this);
    taskOptions->setSetRunner(setRunner);
    CorTools::Parts cor;
    cor.form = ui;
    cor.stack = imgDatas;
    cor.saver = dataSaver;
    cor.panels = resultPanels;
    cor.sets = setRunner;
    cor.passSubFolders = [this] { passSubFolderSettings(); };
    cor.colorMin = [this] { return colorMin(); };
    cor.colorMax = [this] { return colorMax(); };
    corTools = new CorTools(std::move(cor), this);
}

void Body::setupEngines()
{
    dataSaver = workers.saver();
    engines = new CtEnginePool(engineCount, imgDatas, dataSaver, this);
    resultPanels = new ResultPanels(ctCalc, engines, ui->ImgsTab, this);
    for (CtCalc2Ui *panel : resultPanels->panels()) {
        connect(panel, &CtCalc2Ui::cRUpdated, this, &Body::cRUpdated);
        connect(panel, &CtCalc2Ui::dRUpdated, this, &Body::dRUpdated);
    }
    setupRuns();
    setupSetRunner();
    connect(ctCalc, &CtCalc::saveDataWDiscard, dataSaver, &DataSaver::saveDataWDiscard,
            Qt::QueuedConnection);
    connect(ctCalc, &CtCalc::saveImgWDiscard, dataSaver, &DataSaver::saveImgWDiscard,
            Qt::QueuedConnection);
    ui->procCtrl->setThreadsMaximum(engineCount);
    ui->procCtrl->setThreads(engineCount);
    imgDatas->setI0Slot(ui->I0ImgSel->imageSlot());
    imgDatas->setBgSlot(ui->BGImgSel->imageSlot());
}

void Body::connectPanels()
{
    connect(ui->CTFiles, &SelectDataFiles::filesSelected, this, &Body::dataFilesSelected);
    connect(ui->SelI0Files, &SelectDataFiles::filesSelected, this, &Body::i0FilesSelected);
    rawView = new RawView(rawDisp, ui->procCtrl, ui->seekCtrl, imgDatas, this);
    stackView = std::make_unique<StackView>(
        StackView::Parts{ui, imgDatas, rawDisp, &runs->account(), [this] { updateRawImage(); },
                         [this] { regenerateSinogram(); },
                         [this](double x0, double z0, double x1, double z1) {
                             setRegionEverywhere(x0, z0, x1, z1);
                         }});
    rawView->regionSelected = [this](double x0, double z0, double x1, double z1) {
        setRegionEverywhere(x0, z0, x1, z1);
    };
    connect(ui->procCtrl, &ProcCtrl::findCorClicked, this, &Body::findCorClicked);
    connect(ctCalc, &CtCalc::cRUpdated, this, &Body::cRUpdated);
    connect(ctCalc, &CtCalc::dRUpdated, this, &Body::dRUpdated);
    connect(ctCalc, &CtCalc::calcFinished, this, &Body::ctCalcFinished);
    connect(ui->ShowAdditionalInfo, &QCheckBox::toggled, ui->AdditionalInfo, &QWidget::setVisible);
    connect(ui->FixColorScale, &QCheckBox::toggled, this, &Body::fixColorScaleToggled);
    connect(ui->SelDDir, &SelectDataDir::selected, this, &Body::selectedDir);
    connect(ui->SelDDir, &SelectDataDir::selectedFileInfoList, this, &Body::selectedFileInfoList);
    new NextFileNames(ui, this);
    connect(this, &Body::stage, this, [this](const QString &msg, quint64 dEt) {
        noticedStage(msg, static_cast<qint64>(dEt));
    });
}

void Body::executeConfigLines()
{
    const QStringList lines = CfgStore::global().lines();
    for (const QString &line : lines)
        dispatch(BatchCmd(line), false);
}

// ---- loading ---------------------------------------------------------------

void Body::dataFilesSelected(QStringList files, bool clear)
{
    // Engines read the stack while they run (a stopped run still finishes the
    // slices it handed out); a load then waits for them.
    if (deferWhileEnginesRun("Loading", [this, files, clear] { loadFiles(files, clear); }))
        return;
    loadFiles(files, clear);
}

void Body::loadFiles(const QStringList &files, bool clear)
{
    stackView->load(files, clear);
    emit finishedLoadingCTFiles();
}

// ---- raw image ---------------------------------------------------------------

void Body::updateRawImage()
{
    rawView->updateRawImage();
}

void Body::newPosOnRawImg(double x, double y)
{
    rawView->newPosOnRawImg(x, y);
}

void Body::selectedAPointInRawImg(double x, double y, MouseC::MStat s)
{
    rawView->selectedAPointInRawImg(x, y, s);
}

void Body::draw(QPainter *p)
{
    rawView->draw(p);
}

void Body::showDispRaw()
{
    rawView->showDispRaw();
}

void Body::regenerateSinogram()
{
    sinogram->genSinogram();
    sinogram->genImage();
}

void Body::showSinogram()
{
    sinogram->setVisible(!sinogram->isVisible());
    if (ui->procCtrl->autoUpdate())
        regenerateSinogram();
}

// ---- CT runs -----------------------------------------------------------------

void Body::setupRuns()
{
    runs = new RunController(engines, dataSaver, this);
    runs->answerScript = [this](bool ok) { batch->setOk(ok); };
    runView = new RunView(
        ui, this, runs, imgDatas, ctCalc, [this] { startCalcCt(); }, [this] { runRecords->send(); },
        this);
    connect(runs, &RunController::handedOut, this,
            [this](int engine, bool rotAxIsV, double cor, int slice, bool show) {
                emit startCt(engines->engine(engine), rotAxIsV, cor, slice, show);
            });
    connect(runs, &RunController::batchCalcFinished, this, &Body::batchCalcFinished);
    connect(runs, &RunController::calcFinished, this, &Body::calcFinished);
    connect(runs, &RunController::setCalcFinished, this, &Body::setCalcFinished);
    session = new HeadlessSession(runs, this);
    taskOptions = new TaskOptions(ui, imgDatas, session, engineCount, this);
    session->othersIdle = [this] { return !xafsBatch->isRunning() && !xafsView->isBuilding(); };
    session->beforeFinish = [this] {
        if (taskOptions->options().listSets)
            taskOptions->printSetList();
    };
    session->stopOthers = [this](const QString &reason) {
        QMetaObject::invokeMethod(batch, &Batch::batchStop, Qt::QueuedConnection);
        XafsBatch *sequencer = xafsBatch;
        QMetaObject::invokeMethod(
            sequencer, [sequencer, reason] { sequencer->stop(reason); }, Qt::QueuedConnection);
    };
    connect(session, &HeadlessSession::finishing, this, &Body::finishing);
}

int Body::requestsInFlight() const
{
    return runs->requestsInFlight();
}

int Body::slicesPerEngine() const
{
    return runs->slicesPerEngine();
}

bool Body::isCalcRunning() const
{
    return runs->isRunning();
}

bool Body::deferWhileEnginesRun(const char *what, std::function<void()> action)
{
    return runs->deferWhileRunning(what, std::move(action));
}

void Body::toggleCalcCt()
{
    runView->toggleRun();
}

void Body::startCalcCt()
{
    RunRequest request = runView->request(session->isHeadless());
    setRunner->fixGrid(&request);
    runs->start(request);
}

void Body::setupFFT()
{
    engines->setupRun(runs->request());
}

void Body::setupSaveConds()
{
    engines->setupRun(runs->request());
    passSubFolderSettings();
}

void Body::passSubFolderSettings()
{
    runs->passSubFolders(ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
                         ui->SubOfSlice->isChecked());
}

void Body::execSingleCtCalc()
{
    runs->handOutOne();
}

void Body::execMultiCtCalc()
{
    runs->handOut();
}

void Body::stopCalcCt()
{
    runs->stop();
}

void Body::ctCalcFinished()
{
    runs->ct1Finished();
}

void Body::showAdditionalInfo(bool f)
{
    ui->AdditionalInfo->setVisible(f);
}

void Body::changedCtSel(QAbstractButton *)
{
    runView->ctSelectionChanged();
}

void Body::changedAutoExec()
{
    runView->autoExecChanged();
}

// ---- regions and colour scale --------------------------------------------------

void Body::setRegionEverywhere(double x0, double z0, double x1, double z1)
{
    dRUpdated(x0, z0, x1, z1);
    cRUpdated(x0, z0, x1, z1);
    ctCalc->setDR(x0, z0, x1, z1);
    ctCalc->setCR(x0, z0, x1, z1);
}

void Body::dRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    resultPanels->forwardDisplayRegion(sender(), {rx0, rz0, rx1, rz1});
}

void Body::cRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    resultPanels->forwardCalcRegion(sender(), {rx0, rz0, rx1, rz1});
}

void Body::fixColorScaleToggled(bool f)
{
    resultPanels->fixColorScale(f, colorMin(), colorMax());
}

double Body::colorMin()
{
    return Numbers::toFiniteDouble(ui->ColorMin->text());
}

double Body::colorMax()
{
    return Numbers::toFiniteDouble(ui->ColorMax->text());
}

void Body::setFixColorScale(bool f)
{
    ui->FixColorScale->setChecked(f);
}

void Body::setColorMin(double v)
{
    ui->ColorMin->setText(Numbers::text(v));
}

void Body::setColorMax(double v)
{
    ui->ColorMax->setText(Numbers::text(v));
}

void Body::setAutoSaveImage(bool f)
{
    ui->AutoSaveImage->setChecked(f);
}

void Body::setAutoSaveData(bool f)
{
    ui->AutoSaveData->setChecked(f);
}

// ---- sequential execution ------------------------------------------------------

void Body::findCorClicked()
{
    corTools->findCor(std::nan(""), std::nan(""));
}

void Body::newSets(int count)
{
    FormFit::fitControlColumn(ui, this);
    if (ui->keepOnNewSets->isChecked())
        return;
    ui->SeqCalcFrom->setValue(1);
    ui->SeqCalcTo->setValue(count);
}

void Body::setFirstImageSet()
{
    setRunner->setFirstImageSet();
}

void Body::setNextImageSet()
{
    setRunner->setNextImageSet();
}

void Body::selectedDir(QString dir, QStringList patterns)
{
    setRunner->loadDataSetOf(
        QDir(dir).entryInfoList(patterns, QDir::Files | QDir::NoDotAndDotDot, QDir::Name));
}

void Body::selectedFileInfoList(QFileInfoList fileInfoList)
{
    setRunner->loadDataSetOf(fileInfoList);
}

void Body::startingSeqCalc()
{
    setRunner->sequenceStarted();
}

void Body::finishedSeqCalc()
{
    setRunner->sequenceFinished();
}

void Body::i0FilesSelected(QStringList files, bool)
{
    setRunner->i0FilesSelected(files);
}

void Body::noticedStage(QString msg, qint64 dEt)
{
    setRunner->noticedStage(msg, dEt);
}

void Body::setI0FileFromList()
{
    setRunner->chooseI0ForSet();
}

// ---- batch and shut-down ---------------------------------------------------------

void Body::batchLoad(QString fname)
{
    emit callBatchLoad(fname);
}

void Body::batchExec()
{
    emit callBatchExec();
}

void Body::batchExCmd(BatchCmd cmd)
{
    // A script line after a stopped run may load images or change I0 and BG:
    // it waits until the slices still in progress are finished.
    if (deferWhileEnginesRun("Batch command", [this, cmd] { batchExCmd(cmd); }))
        return;
    runs->setScriptLine(true);
    const bool done = dispatch(cmd, true);
    runs->setScriptLine(false);
    if (done)
        emit callBatchCheckEnd();
}

void Body::batchLoadedScript(bool opened)
{
    session->scriptLoaded(opened);
}

Body::Totals Body::totals() const
{
    return runs->totals();
}

QString Body::summaryLine() const
{
    return RunAccount::summaryLine(totals());
}

int Body::exitStatus() const
{
    return session->exitStatus(totals());
}

void Body::setHeadless(bool waitForScript)
{
    session->setHeadless(waitForScript);
}

void Body::batchEnded()
{
    session->scriptEnded();
}

void Body::finishIfHeadlessDone()
{
    session->finishIfDone();
}

void Body::closeEvent(QCloseEvent *event)
{
    session->finish();
    event->accept();
}

void Body::stopThreads()
{
    // No new slices: engines finish the slice they compute, then leave.
    if (runs)
        runs->halt();
    if (xafsView)
        xafsView->waitForBuild();
    // Every record sent so far is written before the saver's thread ends.
    workers.stop([this] {
        if (engines)
            engines->stopThreads();
    });
}
