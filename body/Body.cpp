#include "Body.h"

#include "app/CfgStore.h"
#include "batch/Batch.h"
#include "body/I0ofImage.h"
#include "body/XafsBatch.h"
#include "ct/CtCalc.h"
#include "ct/CtCalc2.h"
#include "ct/DataSaver.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "ct/SgmGeom.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/PopDockBase.h"
#include "disp/ProcCtrl.h"
#include "disp/RawDisp.h"
#include "disp/SeekCtrl.h"
#include "disp/Sinogram.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "select/Kvn.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"
#include "ui_I0ofImage.h"
#include "util/Edition.h"
#include "util/GreyScale.h"
#include "util/Numbers.h"
#include "util/TextLine.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <cmath>
#include <cstdlib>

namespace {

const char *const idleStyle = "background-color: rgb(240, 240, 240);";
const char *const runningStyle = "background-color: rgb(255, 255, 128);";
const char *const timeFormat = "yy/MM/dd hh:mm:ss.zzz";
// A headless multi-slice run reports its progress every this many slices.
constexpr int progressEvery = 8;

bool inClosedRange(int v, int a, int b)
{
    return a <= b ? (v >= a && v <= b) : (v >= b && v <= a);
}

} // namespace

Body::Body(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::Body)
{
    imgDatas = new ImgDatas(this);
    BatchCmd::registerMetaType();
    qRegisterMetaType<MouseC::MStat>("MouseC::MStat");
    ui->setupUi(this);
    setupForm();
    setupDisplays();
    setupBatch();
    setupSequencer();
    setupEngines();
    connectPanels();
    ui->AdditionalInfo->setVisible(ui->ShowAdditionalInfo->isChecked());
    ui->I0ofRawImage_->setTitle(tr("I0 of Raw Image"));
    ui->I0ofI0Image_->setTitle(tr("I0 of I0 Image"));
    fitToScreen();
    executeConfigLines();
}

Body::~Body()
{
    stopThreads();
    // Result panels of the engines whose page is not in a tab have no parent.
    for (int i = 1; i < ctc2Uis.size(); ++i)
        delete ctc2Uis.at(i);
    delete ui;
}

void Body::setupForm()
{
    // The control column is as wide as its widest row; it scrolls only vertically.
    ui->ControlScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->ControlScroll->setMinimumWidth(ui->ControlPanel->minimumSizeHint().width() +
                                       ui->ControlScroll->verticalScrollBar()->sizeHint().width());
    ui->CalcCT->setStyleSheet(idleStyle);
    ui->SeqCalc->setStyleSheet(idleStyle);
    for (SelectAFile *save : {ui->SelectImageSaveDir, ui->SelectDataSaveDir}) {
        save->setMode(SelectAFile::SaveMode);
        save->showNameAndTag(true);
    }
    ui->SelI0Files->hideLoadOptions(true);
    ui->SelI0Files->setSelectButtonText(tr("Sel. I0 File Set"));
    ui->SelI0Files->setTitle(spaces(32));
    ui->CTFiles->setTitle(tr("Row Images"));

    subFolderGroup = new QButtonGroup(this);
    subFolderGroup->setExclusive(true);
    subFolderGroup->addButton(ui->SubOfEnergy);
    subFolderGroup->addButton(ui->SubOfSlice);
    ui->SubOfSlice->setChecked(true);

    cursorPen = QPen(QColor(255, 255, 0));
    slicePen = QPen(QColor(255, 232, 232));
    corPen = QPen(QColor(255, 232, 232));
    corPen.setDashPattern({10, 3, 4, 3});
    selectingPen = QPen(QColor(255, 0, 0));
    regionPen = QPen(QColor(232, 255, 0));

    auto *progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("CalcProgress"));
    progress->setRange(0, 1);
    progress->setValue(0);
    progress->setFormat(tr("%v / %m slices"));
    static_cast<QGridLayout *>(ui->CalcBox->layout())->addWidget(progress, 4, 0, 1, 4);

    auto *setProgress = new QLabel(this);
    setProgress->setObjectName(QStringLiteral("SeqSetProgress"));
    static_cast<QGridLayout *>(ui->SeqBox->layout())->addWidget(setProgress, 1, 3, 1, 2);
}

void Body::fitToScreen()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableSize();
        resize(std::min(width(), room.width()), std::min(height(), room.height()));
    }
}

void Body::setupDisplays()
{
    rawDisp = new RawDisp;
    rawDisp->imgDatas = imgDatas;
    sinogram = new Sinogram;
    sinogram->setImgDatas(imgDatas);
    sinogram->setProcCtrl(ui->procCtrl);
    ctCalc = new CtCalc;
    ctCalc->setSinogram(sinogram);

    const struct
    {
        QWidget *tab;
        QWidget *content;
        const char *title;
    } places[] = {
        {ui->RawImageTab, rawDisp, QT_TR_NOOP("Measured Raw Image")},
        {ui->SinogramTab, sinogram, QT_TR_NOOP("Check Sinogram")},
        {ui->CtImageTab, ctCalc, QT_TR_NOOP("CT Reconstruction")},
        {ui->I0ImageTab, ui->I0ImgSel->display(), QT_TR_NOOP("I0 Image")},
        {ui->BGImageTab, ui->BGImgSel->display(), QT_TR_NOOP("BG Image")},
    };
    for (const auto &place : places) {
        auto *dock = new PopDockBase(place.tab);
        dock->setContent(place.content);
        dock->setPopTitle(tr(place.title));
        static_cast<QGridLayout *>(place.tab->layout())->addWidget(dock, 0, 0);
        popDocks << dock;
    }
    ui->ImgsTab->setCurrentIndex(0);
}

void Body::setupBatch()
{
    batch = new Batch;
    batch->moveToThread(&batchThread);
    connect(&batchThread, &QThread::finished, batch, &QObject::deleteLater);
    batchThread.start(QThread::InheritPriority);
    connect(this, &Body::callBatchLoad, batch, &Batch::batchLoad, Qt::QueuedConnection);
    connect(this, &Body::callBatchExec, batch, &Batch::batchExec, Qt::QueuedConnection);
    connect(batch, &Batch::batchExCmd, this, &Body::batchExCmd, Qt::QueuedConnection);
    connect(this, &Body::callBatchCheckEnd, batch, &Batch::batchCheckEnd, Qt::QueuedConnection);
    connect(this, &Body::batchCalcStart, this, &Body::startCalcCt);
    connect(this, &Body::batchCalcFinished, this, &Body::callBatchCheckEnd);
    connect(batch, &Batch::batchLoaded, this, &Body::batchLoadedScript, Qt::QueuedConnection);
    connect(batch, &Batch::batchEnded, this, &Body::batchEnded, Qt::QueuedConnection);
}

void Body::setupSequencer()
{
    xafsBatch = new XafsBatch;
    xafsBatch->moveToThread(&seqThread);
    connect(&seqThread, &QThread::finished, xafsBatch, &QObject::deleteLater);
    seqThread.start(QThread::InheritPriority);
    connect(ui->SeqCalc, &QPushButton::clicked, xafsBatch, &XafsBatch::start, Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::starting, this, &Body::startingSeqCalc, Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::setFirstImageSet, this, &Body::setFirstImageSet,
            Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::setNextImageSet, this, &Body::setNextImageSet,
            Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::execCalculation, this, &Body::startCalcCt, Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::finished, this, &Body::finishedSeqCalc, Qt::QueuedConnection);
    connect(xafsBatch, &XafsBatch::stage, this, &Body::noticedStage, Qt::QueuedConnection);
    connect(this, &Body::finishedLoadingCTFiles, xafsBatch, &XafsBatch::loadedDataSet,
            Qt::QueuedConnection);
    connect(this, &Body::calcFinished, xafsBatch, &XafsBatch::calcFinished, Qt::QueuedConnection);
    connect(this, &Body::setFirstSet, ui->SelDDir, &SelectDataDir::setFirstSet);
    connect(this, &Body::setNextSet, ui->SelDDir, &SelectDataDir::setNextSet);
    connect(ui->SelDDir, &SelectDataDir::noMoreSets, xafsBatch, &XafsBatch::noMoreSets,
            Qt::QueuedConnection);
    connect(ui->SelDDir, &SelectDataDir::newSets, this, &Body::newSets);
}

void Body::setupEngines()
{
    dataSaver = new DataSaver;
    dataSaver->moveToThread(&saverThread);
    connect(&saverThread, &QThread::finished, dataSaver, &QObject::deleteLater);
    saverThread.start(QThread::InheritPriority);

    engineRequests.fill(0, engineCount);
    for (int i = 0; i < engineCount; ++i) {
        auto *panel = new CtCalc2Ui;
        auto *engine = new CtCalc2;
        engine->setUi(panel);
        panel->setEngine(engine);
        engine->setSinogram(sinogram);
        if (i == 0) {
            auto *page = new QWidget;
            auto *layout = new QGridLayout(page);
            auto *dock = new PopDockBase(page);
            dock->setContent(panel);
            dock->setPopTitle(tr("CT Calc2 %1").arg(i + 1));
            layout->addWidget(dock, 0, 0);
            ui->ImgsTab->addTab(page, tr("CT2 %1").arg(i + 1));
            popDocks << dock;
        }
        auto *thread = new QThread(this);
        engine->moveToThread(thread);
        connect(thread, &QThread::finished, engine, &QObject::deleteLater);
        thread->start(QThread::InheritPriority);

        connect(this, &Body::startCt, engine, &CtCalc2::startCt, Qt::QueuedConnection);
        connect(
            engine, &CtCalc2::calcFinished, this, [this, i] { engineFinished(i); },
            Qt::QueuedConnection);
        connect(engine, &CtCalc2::saveDataWDiscard, dataSaver, &DataSaver::saveDataWDiscard,
                Qt::QueuedConnection);
        connect(engine, &CtCalc2::saveImgWDiscard, dataSaver, &DataSaver::saveImgWDiscard,
                Qt::QueuedConnection);
        connect(panel, &CtCalc2Ui::cRUpdated, this, &Body::cRUpdated);
        connect(panel, &CtCalc2Ui::dRUpdated, this, &Body::dRUpdated);
        ctc2s << engine;
        ctc2Uis << panel;
        engineThreads << thread;
    }
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
    ctSelGroup = new QButtonGroup(this);
    ctSelGroup->setExclusive(true);
    ctSelGroup->addButton(ui->SelectCt1);
    ctSelGroup->addButton(ui->SelectCt2);
    ui->SelectCt1->setChecked(true);

    connect(ui->CTFiles, &SelectDataFiles::filesSelected, this, &Body::dataFilesSelected);
    connect(ui->SelI0Files, &SelectDataFiles::filesSelected, this, &Body::i0FilesSelected);
    connect(rawDisp, &RawDisp::drawImage2, this, &Body::draw);
    connect(rawDisp, &RawDisp::newPosInvY, this, &Body::newPosOnRawImg);
    connect(rawDisp, &RawDisp::newBar, this, &Body::updateRawImage);
    connect(rawDisp, &RawDisp::selectedAPoint, this, &Body::selectedAPointInRawImg);
    connect(ui->seekCtrl, &SeekCtrl::newIndex, this, &Body::updateRawImage);
    connect(imgDatas, &ImgDatas::imageUpdated, rawDisp, qOverload<>(&QWidget::update));
    connect(ctCalc, &CtCalc::askToStartCalc, this, &Body::toggleCalcCt);
    connect(ui->CalcCT, &QPushButton::clicked, this, &Body::toggleCalcCt);
    connect(ctCalc, &CtCalc::cRUpdated, this, &Body::cRUpdated);
    connect(ctCalc, &CtCalc::dRUpdated, this, &Body::dRUpdated);
    connect(ctCalc, &CtCalc::calcFinished, this, &Body::ctCalcFinished);
    for (auto signal : {&ProcCtrl::rotAxUpdated, &ProcCtrl::sliceNoUpdated, &ProcCtrl::corUpdated})
        connect(ui->procCtrl, signal, rawDisp, qOverload<>(&QWidget::update));
    connect(ui->procCtrl, &ProcCtrl::autoExecUpdated, this, &Body::changedAutoExec);
    connect(ui->procCtrl, &ProcCtrl::sliceNoUpdated, sinogram, &Sinogram::sliceNoUpdated);
    connect(ui->procCtrl, &ProcCtrl::corUpdated, sinogram, &Sinogram::corUpdated);
    connect(ui->procCtrl, &ProcCtrl::rotAxUpdated, sinogram, &Sinogram::rotAxUpdated);
    connect(ui->procCtrl, &ProcCtrl::autoUpdateUpdated, sinogram, &Sinogram::autoUpdateUpdated);
    connect(ctSelGroup, &QButtonGroup::buttonClicked, this, &Body::changedCtSel);
    connect(ui->ShowAdditionalInfo, &QCheckBox::toggled, ui->AdditionalInfo, &QWidget::setVisible);
    connect(ui->FixColorScale, &QCheckBox::toggled, this, &Body::fixColorScaleToggled);
    connect(ui->SelDDir, &SelectDataDir::selected, this, &Body::selectedDir);
    connect(ui->SelDDir, &SelectDataDir::selectedFileInfoList, this, &Body::selectedFileInfoList);
    connect(this, &Body::stage, this, [this](const QString &msg, quint64 dEt) {
        noticedStage(msg, static_cast<qint64>(dEt));
    });
}

void Body::executeConfigLines()
{
    const QStringList lines = CfgStore::global().lines();
    for (const QString &line : lines)
        dispatch(BatchCmd(line));
}

// ---- loading ---------------------------------------------------------------

int Body::cutWidth() const
{
    return params.rotAxIsV ? imgDatas->width() : imgDatas->height();
}

bool Body::deferWhileEnginesRun(const char *what, std::function<void()> action)
{
    if (inFlight == 0)
        return false;
    qDebug() << what << "waits until the running slices are finished";
    pendingActions.append(std::move(action));
    return true;
}

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
    if (clear) {
        // A new stack: its frame size is set anew by its first image.
        imgDatas->clear();
        ui->seekCtrl->setMaximum(0);
        ui->seekCtrl->setIndex(0);
        rawDisp->scaleSet = false;
    }
    for (const QString &file : files) {
        if (imgDatas->addFile(file))
            ui->CTFiles->addFileName(file);
    }
    const bool vertical = ui->procCtrl->rotAxIsV();
    const int w = imgDatas->width();
    const int h = imgDatas->height();
    const bool resetConds = firstLoad || !ui->CTFiles->keepConditions();
    if (resetConds && imgDatas->count() > 0) {
        const int along = vertical ? h : w;
        const int across = vertical ? w : h;
        ui->procCtrl->setSliceTo(along - 1);
        ui->procCtrl->setSliceNo(along / 2);
        ui->procCtrl->setCor(across / 2);
    }
    ui->seekCtrl->setMaximum(std::max(0, imgDatas->count() - 1));
    updateRawImage();
    if (ui->procCtrl->autoUpdate())
        regenerateSinogram();
    if (resetConds && imgDatas->count() > 0) {
        const double e = (vertical ? w : h) - 1;
        dRUpdated(0, 0, e, e);
        cRUpdated(0, 0, e, e);
        ctCalc->setDR(0, 0, e, e);
        ctCalc->setCR(0, 0, e, e);
    }
    if (imgDatas->count() > 0)
        firstLoad = false;
    emit finishedLoadingCTFiles();
}

void Body::runPendingActions()
{
    while (!pendingActions.isEmpty() && inFlight == 0) {
        const std::function<void()> action = pendingActions.takeFirst();
        action();
    }
}

// ---- raw image ---------------------------------------------------------------

void Body::updateRawImage()
{
    const int index = ui->seekCtrl->index();
    if (index >= 0 && index < imgDatas->count()) {
        GreyScale scale = rawDisp->CBar->greyScale();
        const bool fixed = rawDisp->CBar->fixed();
        imgDatas->genImage(index, &rawDisp->image, &scale, fixed);
        if (!fixed) {
            rawDisp->CBar->setMin(scale.min);
            rawDisp->CBar->setMax(scale.max);
        }
        rawDisp->newImage();
    }
    rawDisp->update();
}

void Body::newPosOnRawImg(double x, double y)
{
    double v = 0.0;
    const int index = ui->seekCtrl->index();
    const int ix = Numbers::saturateToInt(x);
    const int iy = Numbers::saturateToInt(y);
    if (index >= 0 && index < imgDatas->count()) {
        const ImgData *img = imgDatas->frame(index);
        if (img && ix >= 0 && iy >= 0 && ix < img->width && iy < img->height) {
            std::vector<double> line(static_cast<size_t>(img->width));
            v = img->getLine(iy, line.data())[ix];
        }
    }
    rawDisp->setVal(v);
}

void Body::selectedAPointInRawImg(double x, double y, MouseC::MStat s)
{
    const bool vertical = ui->procCtrl->rotAxIsV();
    if (s == MouseC::Left)
        ui->procCtrl->setSliceNo(Numbers::saturateToInt(vertical ? y : x));
    else if (s == MouseC::Right)
        ui->procCtrl->setCor(vertical ? x : y);
}

void Body::draw(QPainter *p)
{
    if (imgDatas->count() == 0)
        return;
    const ChCoord *c = rawDisp->coord;
    const bool vertical = ui->procCtrl->rotAxIsV();
    const QPoint m = rawDisp->mouse->current;
    p->setPen(cursorPen);
    p->drawLine(QPointF(m.x(), c->SY0), QPointF(m.x(), c->SY1));
    p->drawLine(QPointF(c->SX0, m.y()), QPointF(c->SX1, m.y()));

    const double slice = ui->procCtrl->sliceNo();
    const double cor = ui->procCtrl->cor();
    p->setPen(slicePen);
    if (vertical) {
        const double y = c->realToScreenY(slice);
        p->drawLine(QPointF(c->SX0, y), QPointF(c->SX1, y));
    } else {
        const double x = c->realToScreenX(slice);
        p->drawLine(QPointF(x, c->SY0), QPointF(x, c->SY1));
    }
    p->setPen(corPen);
    if (vertical) {
        const double x = c->realToScreenX(cor);
        p->drawLine(QPointF(x, c->SY0), QPointF(x, c->SY1));
    } else {
        const double y = c->realToScreenY(cor);
        p->drawLine(QPointF(c->SX0, y), QPointF(c->SX1, y));
    }

    if (!rawDisp->selecting && !rawDisp->selectionValid)
        return;
    const QRectF rect(c->realToScreenX(rawDisp->selX), c->realToScreenY(rawDisp->selY),
                      c->realLengthToScreenX(rawDisp->selW), c->realLengthToScreenY(rawDisp->selH));
    if (rawDisp->selecting) {
        p->setPen(selectingPen);
        p->drawRect(rect);
        return;
    }
    p->setPen(regionPen);
    p->drawRect(rect);
    const double x0 = rawDisp->selX, x1 = rawDisp->selX + rawDisp->selW;
    const double y0 = rawDisp->selY, y1 = rawDisp->selY + rawDisp->selH;
    // The rectangle's extent across the axis is the region, its extent along the
    // axis the slice range.
    if (vertical)
        applySelection(x0, x1, y0, y1);
    else
        applySelection(y0, y1, x0, x1);
}

void Body::applySelection(double across0, double across1, double along0, double along1)
{
    dRUpdated(across0, across0, across1, across1);
    cRUpdated(across0, across0, across1, across1);
    ctCalc->setDR(across0, across0, across1, across1);
    ctCalc->setCR(across0, across0, across1, across1);
    ui->procCtrl->setSliceFrom(Numbers::saturateToInt(along0));
    ui->procCtrl->setSliceTo(Numbers::saturateToInt(along1));
}

void Body::showDispRaw()
{
    rawDisp->setVisible(!rawDisp->isVisible());
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

bool Body::enginesIdle() const
{
    if (inFlight > 0)
        return false;
    for (const CtCalc2 *engine : ctc2s)
        if (engine->isBusy())
            return false;
    return true;
}

void Body::toggleCalcCt()
{
    if (imgDatas->count() == 0)
        return;
    if (calcRunning)
        stopCalcCt();
    else
        startCalcCt();
}

void Body::startCalcCt()
{
    calcRunning = true;
    startTime = QDateTime::currentDateTime();
    ui->CalcStartT->setText(startTime.toString(QString::fromLatin1(timeFormat)));
    ui->CalcEndT->clear();
    ui->CalcCT->setStyleSheet(runningStyle);
    params = ui->procCtrl->runParams(ui->SelectCt1->isChecked(), ui->SelectCt2->isChecked());

    if (imgDatas->count() == 0) {
        endRunAtOnce(QStringLiteral("no images are loaded"));
        return;
    }
    if (!std::isfinite(params.cor)) {
        endRunAtOnce(QStringLiteral("the centre of rotation is not a number"));
        return;
    }
    const SgmGeom geom = setGeom(params.rotAxIsV, cutWidth(), params.cor);
    if (geom.width < 3) {
        endRunAtOnce(QStringLiteral("the centre of rotation leaves no sinogram"));
        return;
    }
    if (params.autoExec && params.sliceStep == 0) {
        endRunAtOnce(QStringLiteral("the slice step is 0"));
        return;
    }
    if (params.autoExec) {
        // Slices outside the image would give unusable sinograms: clip the range.
        const int last = (params.rotAxIsV ? imgDatas->height() : imgDatas->width()) - 1;
        params.sliceFrom = std::clamp(params.sliceFrom, 0, last);
        params.sliceTo = std::clamp(params.sliceTo, 0, last);
        const int magnitude = params.sliceStep == INT_MIN ? INT_MAX : std::abs(params.sliceStep);
        params.sliceStep = params.sliceTo < params.sliceFrom ? -magnitude : magnitude;
        slicesTotal = std::abs(params.sliceTo - params.sliceFrom) / magnitude + 1;
    } else {
        slicesTotal = 1;
    }
    slicesDone = 0;
    if (auto *bar = findChild<QProgressBar *>(QStringLiteral("CalcProgress"))) {
        bar->setRange(0, slicesTotal);
        bar->setValue(0);
    }
    setupFFT();
    setupSaveConds();
    if (params.autoExec) {
        nextSlice = params.sliceFrom;
        execMultiCtCalc();
    } else {
        execSingleCtCalc();
    }
}

void Body::endRunAtOnce(const QString &why)
{
    qDebug() << "CT run not started :" << why;
    stopCalcCt();
}

void Body::setupFFT()
{
    const SgmGeom geom = setGeom(params.rotAxIsV, cutWidth(), params.cor);
    int n = geom.width;
    if (n % 2 != 0)
        n -= 1;
    for (CtCalc2 *engine : ctc2s)
        engine->setupFFT(n, imgDatas->count());
    sliceGroup = CtCalc2::slicesPerPass(n, imgDatas->count());
}

void Body::setupSaveConds()
{
    const bool img = ui->AutoSaveImage->isChecked();
    const bool data = ui->AutoSaveData->isChecked();
    const SelectAFile *imgDir = ui->SelectImageSaveDir;
    const SelectAFile *dataDir = ui->SelectDataSaveDir;
    ctCalc->setSaveImage(img, imgDir->path(), imgDir->name(), imgDir->addTag());
    ctCalc->setSaveData(data, dataDir->path(), dataDir->name(), dataDir->addTag());
    for (CtCalc2 *engine : ctc2s) {
        engine->setSaveImage(img, imgDir->path(), imgDir->name(), imgDir->addTag());
        engine->setSaveData(data, dataDir->path(), dataDir->name(), dataDir->addTag());
        engine->setColorScale(ui->FixColorScale->isChecked(), colorMin(), colorMax());
    }
    passSubFolderSettings();
}

void Body::passSubFolderSettings()
{
    const bool inSub = ui->SaveInSubFolders->isChecked();
    const bool ofEnergy = ui->SubOfEnergy->isChecked();
    const bool ofSlice = ui->SubOfSlice->isChecked();
    DataSaver *saver = dataSaver;
    QMetaObject::invokeMethod(
        saver,
        [saver, inSub, ofEnergy, ofSlice] { saver->setSubFolders(inSub, ofEnergy, ofSlice); },
        Qt::QueuedConnection);
}

bool Body::showResults() const
{
    // Nobody sees the result panels of a headless run: showing them costs a copy
    // of every result and a picture per slice. Saved pictures are still made.
    return ui->ShowCalcRes->isChecked() && !headless;
}

void Body::execSingleCtCalc()
{
    if (params.calcCt1 && !ctCalc->isRunning())
        ctCalc->startCt();
    if (params.calcCt2) {
        ++inFlight;
        ++engineRequests[0];
        emit startCt(ctc2s.at(0), params.rotAxIsV, params.cor, params.slice, showResults());
    }
    if (!params.calcCt1 && !params.calcCt2)
        stopCalcCt();
}

void Body::engineFinished(int engine)
{
    if (engineRequests[engine] > 0) {
        --engineRequests[engine];
        --inFlight;
    }
    if (calcRunning) {
        ++slicesDone;
        reportProgress();
    }
    execMultiCtCalc();
    if (inFlight == 0) {
        runPendingActions();
        finishIfHeadlessDone();
    }
}

void Body::reportProgress()
{
    if (auto *bar = findChild<QProgressBar *>(QStringLiteral("CalcProgress")))
        bar->setValue(std::min(slicesDone, slicesTotal));
    if (headless && (slicesDone % progressEvery == 0 || slicesDone == slicesTotal))
        qDebug().noquote()
            << QStringLiteral("slices done %1 / %2").arg(slicesDone).arg(slicesTotal);
}

void Body::execMultiCtCalc()
{
    if (!calcRunning)
        return;
    if (!params.autoExec) {
        if (inFlight == 0 && !ctCalc->isRunning())
            stopCalcCt();
        return;
    }
    if (!params.calcCt2) {
        stopCalcCt();
        return;
    }
    const int threads = std::clamp(params.threads, 1, static_cast<int>(ctc2s.size()));
    for (int i = 0; i < threads; ++i) {
        if (!inClosedRange(nextSlice, params.sliceFrom, params.sliceTo))
            break;
        if (ctc2s.at(i)->isBusy() || engineRequests[i] > 0)
            continue;
        // Up to sliceGroup slices at a time, shared evenly among the engines at
        // the end of the range so that none is left with the last ones alone.
        const long long left = std::llabs(static_cast<long long>(params.sliceTo) - nextSlice) /
                                   std::llabs(static_cast<long long>(params.sliceStep)) +
                               1;
        const int group =
            static_cast<int>(std::clamp<long long>((left + threads - 1) / threads, 1, sliceGroup));
        if (group > 1)
            ctc2s.at(i)->setSliceGroup(group);
        for (int k = 0; k < group; ++k) {
            ++inFlight;
            ++engineRequests[i];
            emit startCt(ctc2s.at(i), params.rotAxIsV, params.cor, nextSlice, showResults());
            // Stepping past the range's end must not overflow.
            const long long next = static_cast<long long>(nextSlice) + params.sliceStep;
            nextSlice = static_cast<int>(std::clamp<long long>(next, INT_MIN, INT_MAX));
            if (next != nextSlice)
                nextSlice = params.sliceTo + (params.sliceStep > 0 ? 1 : -1);
        }
    }
    if (inClosedRange(nextSlice, params.sliceFrom, params.sliceTo) || inFlight > 0)
        return;
    stopCalcCt();
}

void Body::stopCalcCt()
{
    // Not running any more before CT1 is stopped: its finish report then finds
    // no run to end, so the run ends once.
    calcRunning = false;
    if (ctCalc->isRunning())
        ctCalc->stopCt();
    endTime = QDateTime::currentDateTime();
    ui->CalcEndT->setText(endTime.toString(QString::fromLatin1(timeFormat)));
    const double spent = startTime.isValid() ? startTime.msecsTo(endTime) / 1000.0 : 0.0;
    ui->CalcSpentT->setText(Numbers::text(spent));
    ui->CalcCT->setStyleSheet(idleStyle);
    if (batchCalc) {
        batchCalc = false;
        emit batchCalcFinished();
    }
    emit calcFinished();
    finishIfHeadlessDone();
}

void Body::ctCalcFinished()
{
    // A late CT1 finish after the run ended must not report a second end.
    if (calcRunning && !params.autoExec && inFlight == 0)
        stopCalcCt();
}

void Body::showAdditionalInfo(bool f)
{
    ui->AdditionalInfo->setVisible(f);
}

void Body::changedCtSel(QAbstractButton *button)
{
    Q_UNUSED(button);
    if (ui->SelectCt1->isChecked())
        ui->procCtrl->setAutoExec(false);
}

void Body::changedAutoExec()
{
    if (ui->procCtrl->autoExec())
        ui->SelectCt2->setChecked(true);
}

// ---- regions and colour scale --------------------------------------------------

void Body::forwardRegion(RegionSetter panelSetter, CtCalcRegionSetter ct1Setter,
                         const std::array<double, 4> &region)
{
    // Every panel shows and computes the same region; a panel that answers with
    // its own report must not start the forwarding again.
    if (forwardingRegion)
        return;
    forwardingRegion = true;
    const QObject *from = sender();
    const auto [x0, z0, x1, z1] = region;
    if (from != ctCalc)
        (ctCalc->*ct1Setter)(x0, z0, x1, z1);
    for (CtCalc2Ui *panel : qAsConst(ctc2Uis))
        if (panel != from)
            (panel->*panelSetter)(x0, z0, x1, z1);
    forwardingRegion = false;
}

void Body::dRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    forwardRegion(&CtCalc2Ui::setDR, &CtCalc::setDR, {rx0, rz0, rx1, rz1});
}

void Body::cRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    forwardRegion(&CtCalc2Ui::setCR, &CtCalc::setCR, {rx0, rz0, rx1, rz1});
}

void Body::fixColorScaleToggled(bool f)
{
    ctCalc->setFixColorScale(f);
    if (f)
        ctCalc->setCBarMinMaxForced(colorMin(), colorMax());
    for (CtCalc2Ui *panel : qAsConst(ctc2Uis)) {
        panel->setFixColorScale(f);
        if (f)
            panel->setCBarMinMaxForced(colorMin(), colorMax());
    }
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

void Body::reportStage(const QString &msg)
{
    // Stage reports alternate between this thread and the sequencer's along the
    // chain of a run, never at the same time.
    xafsBatch->reportStage(msg);
}

void Body::newSets(int count)
{
    if (ui->keepOnNewSets->isChecked())
        return;
    ui->SeqCalcFrom->setValue(1);
    ui->SeqCalcTo->setValue(count);
}

void Body::makeSaveFolders()
{
    if (ui->AutoSaveImage->isChecked() && !ui->SelectImageSaveDir->path().isEmpty())
        QDir().mkpath(ui->SelectImageSaveDir->path());
    if (ui->AutoSaveData->isChecked() && !ui->SelectDataSaveDir->path().isEmpty())
        QDir().mkpath(ui->SelectDataSaveDir->path());
}

void Body::setFirstImageSet()
{
    if (!Edition::isBase())
        reportStage(tr("Loading first Data Set"));
    passSubFolderSettings();
    makeSaveFolders();
    emit setFirstSet(Numbers::toInt(ui->SeqCalcFrom->text()) - 1);
}

void Body::setNextImageSet()
{
    qDebug() << "loading next data set";
    if (!Edition::isBase())
        reportStage(tr("Loading next Data Set"));
    emit setNextSet(Numbers::toInt(ui->SeqCalcTo->text()) - 1);
}

void Body::selectedDir(QString dir, QStringList patterns)
{
    QStringList files;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(patterns, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries)
        files << entry.filePath();
    loadDataSet(files);
}

void Body::selectedFileInfoList(QFileInfoList fileInfoList)
{
    QStringList files;
    for (const QFileInfo &entry : fileInfoList)
        files << entry.filePath();
    loadDataSet(files);
}

void Body::loadDataSet(const QStringList &files)
{
    // The I0 image is read by the engines too: the whole set waits for them.
    if (deferWhileEnginesRun("Loading a set", [this, files] { loadDataSet(files); }))
        return;
    setI0FileFromList();
    const QString tag = ui->SelDDir->currentEnergyText();
    ui->SelectImageSaveDir->setAddTag(tag);
    ui->SelectDataSaveDir->setAddTag(tag);
    // A set always replaces the stack, whatever the list's load options say.
    ui->CTFiles->clearFiles();
    dataFilesSelected(files, true);
}

void Body::startingSeqCalc()
{
    ui->SeqCalc->setStyleSheet(runningStyle);
}

void Body::finishedSeqCalc()
{
    ui->SeqCalc->setStyleSheet(idleStyle);
    finishIfHeadlessDone();
}

void Body::i0FilesSelected(QStringList files, bool clear)
{
    Q_UNUSED(clear);
    i0Energies.clear();
    ui->SelI0Files->clearFiles();
    for (const QString &path : files) {
        // The energy comes from the file's name: a hyphen in a folder name must
        // not change it.
        const QString t = energyTextOf(QFileInfo(path).fileName());
        i0Energies << unitFactorOf(t) * energyOf(t);
        ui->SelI0Files->addFileName(path);
    }
}

void Body::noticedStage(QString msg, qint64 dEt)
{
    if (!Edition::isBase())
        qDebug() << "Stage : " << msg << dEt;
    ui->ProgressMsg->setText(msg);
    ui->DeltaET->setText(QString::number(dEt));
    showSetProgress(msg);
}

void Body::showSetProgress(const QString &stageMsg)
{
    const int set = ui->SelDDir->currentIndex() + 1;
    const QString text = set > 0 ? tr("Set %1 (%2 to %3): %4")
                                       .arg(set)
                                       .arg(ui->SeqCalcFrom->value())
                                       .arg(ui->SeqCalcTo->value())
                                       .arg(stageMsg)
                                 : stageMsg;
    if (auto *label = findChild<QLabel *>(QStringLiteral("SeqSetProgress")))
        label->setText(text);
    if (headless)
        qDebug().noquote() << text;
}

void Body::setI0FileFromList()
{
    if (i0Energies.isEmpty())
        return;
    const double e = ui->SelDDir->currentEnergy();
    int k = 0;
    for (int i = 1; i < i0Energies.size(); ++i)
        if (std::abs(i0Energies.at(i) - e) < std::abs(i0Energies.at(k) - e))
            k = i;
    const QString file = ui->SelI0Files->fileName(k);
    ui->I0ImgSel->fileSelected0(file);
    const ImgData *i0 = ui->I0ImgSel->image();
    if (!i0 || !i0->isOk) {
        qDebug() << "Can not load the I0 image of the set, sequential run stopped :" << file;
        QMetaObject::invokeMethod(xafsBatch, &XafsBatch::finish, Qt::QueuedConnection);
    }
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
    if (dispatch(cmd))
        emit callBatchCheckEnd();
}

void Body::batchLoadedScript(bool opened)
{
    if (!opened)
        exitCode = 1;
}

void Body::setHeadless(bool waitForScript)
{
    headless = true;
    waitingForScript = waitForScript;
    // Queued, so that the batch load and start requested by the entry point are
    // handled first.
    QTimer::singleShot(0, this, &Body::finishIfHeadlessDone);
}

void Body::batchEnded()
{
    scriptEnded = true;
    finishIfHeadlessDone();
}

bool Body::isIdle() const
{
    return !calcRunning && enginesIdle() && pendingActions.isEmpty() && !xafsBatch->isRunning() &&
           !ctCalc->isRunning();
}

void Body::finishIfHeadlessDone()
{
    if (!headless || finished)
        return;
    if (waitingForScript && !scriptEnded)
        return;
    if (!isIdle())
        return;
    finish();
}

void Body::finish()
{
    if (finished)
        return;
    finished = true;
    emit finishing();
}

void Body::closeEvent(QCloseEvent *event)
{
    finish();
    event->accept();
}

void Body::stopThreads()
{
    // No new slices: engines finish the slice they compute, then leave.
    calcRunning = false;
    for (QThread *t : {&batchThread, &seqThread}) {
        t->quit();
        t->wait();
    }
    for (QThread *t : qAsConst(engineThreads)) {
        t->quit();
        t->wait();
    }
    // Every record sent so far is written before the saver's thread ends: a
    // blocking call returns only after the records queued before it.
    if (saverThread.isRunning()) {
        QMetaObject::invokeMethod(
            dataSaver, [] {}, Qt::BlockingQueuedConnection);
        saverThread.quit();
        saverThread.wait();
    }
}
