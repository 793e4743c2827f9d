#include "RunView.h"

#include "ct/CtCalc.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "run/RunController.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "ui_Body.h"
#include "util/Numbers.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QProgressBar>

namespace {

const char *const timeFormat = "yy/MM/dd hh:mm:ss.zzz";

} // namespace

RunView::RunView(Ui::Body *form, QWidget *window, RunController *runs, const ImgDatas *stack,
                 CtCalc *ct1, std::function<void()> start, std::function<void()> ended,
                 QObject *parent)
    : QObject(parent)
    , ui(form)
    , window(window)
    , runs(runs)
    , stack(stack)
    , start(std::move(start))
    , ended(std::move(ended))
{
    auto *ctSelection = new QButtonGroup(window);
    ctSelection->setExclusive(true);
    ctSelection->addButton(ui->SelectCt1);
    ctSelection->addButton(ui->SelectCt2);
    ui->SelectCt1->setChecked(true);
    connect(ct1, &CtCalc::askToStartCalc, this, &RunView::toggleRun);
    connect(ui->CalcCT, &QPushButton::clicked, this, &RunView::toggleRun);
    connect(ui->procCtrl, &ProcCtrl::autoExecUpdated, this, &RunView::autoExecChanged);
    connect(ctSelection, &QButtonGroup::buttonClicked, this, &RunView::ctSelectionChanged);

    connect(runs, &RunController::runStarting, this, &RunView::showStarting);
    connect(runs, &RunController::runSetUp, this, [this](int total) {
        if (auto *bar = this->window->findChild<QProgressBar *>(QStringLiteral("CalcProgress"))) {
            bar->setRange(0, total);
            bar->setValue(0);
        }
    });
    connect(runs, &RunController::progress, this, [this](int done) {
        if (auto *bar = this->window->findChild<QProgressBar *>(QStringLiteral("CalcProgress")))
            bar->setValue(done);
    });
    connect(runs, &RunController::runEnded, this, &RunView::showEnded);
    runs->ct1.running = [ct1] { return ct1->isRunning(); };
    runs->ct1.start = [ct1] { ct1->startCt(); };
    runs->ct1.stop = [ct1] { ct1->stopCt(); };
    runs->ct1.setUp = [ct1](const RunRequest &r) {
        ct1->setSaveImage(r.image.on, r.image.path, r.image.name, r.image.tag);
        ct1->setSaveData(r.data.on, r.data.path, r.data.name, r.data.tag);
    };
    // Engines read the I0 and BG images the pickers hold: a new file or a clear
    // chosen while slices are in progress waits for them, so every slice of a run
    // uses the images the run started with.
    ui->I0ImgSel->setChangeGuard([runs](std::function<void()> change) {
        return runs->deferWhileRunning("I0 image change", std::move(change));
    });
    ui->BGImgSel->setChangeGuard([runs](std::function<void()> change) {
        return runs->deferWhileRunning("BG image change", std::move(change));
    });
}

void RunView::toggleRun()
{
    if (stack->count() == 0)
        return;
    if (runs->isRunning()) {
        runs->stop();
        return;
    }
    // Changes asked for before the click come first.
    if (runs->hasPendingActions() && runs->deferWhileRunning("CT run", [this] {
            if (!runs->isRunning())
                start();
        }))
        return;
    start();
}

void RunView::ctSelectionChanged()
{
    if (ui->SelectCt1->isChecked())
        ui->procCtrl->setAutoExec(false);
}

void RunView::autoExecChanged()
{
    if (ui->procCtrl->autoExec())
        ui->SelectCt2->setChecked(true);
}

const char *RunView::idleStyle()
{
    return "background-color: rgb(240, 240, 240);";
}

const char *RunView::runningStyle()
{
    return "background-color: rgb(255, 255, 128);";
}

QString RunView::inputFailure() const
{
    const struct
    {
        const SelectAImgFile *picker;
        const char *what;
    } pickers[] = {{ui->I0ImgSel, "I0"}, {ui->BGImgSel, "BG"}};
    for (const auto &p : pickers)
        if (p.picker->loadFailed())
            return QStringLiteral("the %1 image could not be loaded : %2")
                .arg(QLatin1String(p.what), p.picker->failedFile());
    return stack->cutShort();
}

RunRequest RunView::request(bool headless) const
{
    RunRequest r;
    r.params = ui->procCtrl->runParams(ui->SelectCt1->isChecked(), ui->SelectCt2->isChecked());
    const SelectAFile *imgDir = ui->SelectImageSaveDir;
    const SelectAFile *dataDir = ui->SelectDataSaveDir;
    r.image = {ui->AutoSaveImage->isChecked(), imgDir->path(), imgDir->name(), imgDir->addTag()};
    r.data = {ui->AutoSaveData->isChecked(), dataDir->path(), dataDir->name(), dataDir->addTag()};
    r.subFolders = ui->SaveInSubFolders->isChecked();
    r.subOfEnergy = ui->SubOfEnergy->isChecked();
    r.subOfSlice = ui->SubOfSlice->isChecked();
    r.fixScale = ui->FixColorScale->isChecked();
    r.colorMin = Numbers::toFiniteDouble(ui->ColorMin->text());
    r.colorMax = Numbers::toFiniteDouble(ui->ColorMax->text());
    const auto *formatBox = window->findChild<QComboBox *>(QStringLiteral("DataFormat"));
    const QString format = formatBox ? formatBox->currentText() : QStringLiteral("dat");
    r.saveH5 = format == QLatin1String("h5");
    r.saveDat = format == QLatin1String("dat") || format == QLatin1String("both");
    r.saveTiff = format == QLatin1String("tiff") || format == QLatin1String("both");
    // Nobody sees the result panels of a headless run: showing them costs a copy
    // of every result and a picture per slice. Saved pictures are still made.
    r.showResults = ui->ShowCalcRes->isChecked() && !headless;
    r.inputFailure = inputFailure();
    r.projections = stack->count();
    r.imageWidth = stack->width();
    r.imageHeight = stack->height();
    return r;
}

void RunView::showStarting()
{
    ui->CalcStartT->setText(runs->startTime().toString(QString::fromLatin1(timeFormat)));
    ui->CalcEndT->clear();
    ui->CalcCT->setStyleSheet(runningStyle());
}

void RunView::showEnded()
{
    const QDateTime endTime = QDateTime::currentDateTime();
    ui->CalcEndT->setText(endTime.toString(QString::fromLatin1(timeFormat)));
    const QDateTime startTime = runs->startTime();
    const double spent = startTime.isValid() ? startTime.msecsTo(endTime) / 1000.0 : 0.0;
    ui->CalcSpentT->setText(Numbers::text(spent));
    ui->CalcCT->setStyleSheet(idleStyle());
    ended();
}
