#include "CtCalc.h"

#include "ct/CtProgress.h"
#include "ct/RingRemoval.h"
#include "ct/ScanGeometry.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ImgDispWPV.h"
#include "disp/ProcCtrl.h"
#include "disp/Sinogram.h"
#include "imgdata/ImgDatas.h"
#include "ui_CtCalc.h"
#include "util/GreyPicture.h"
#include "util/Numbers.h"
#include "util/ThreadStart.h"

#include <QDebug>

#include <array>
#include <cmath>

namespace {

using Fields = std::array<QLineEdit *, 4>;
using Values = std::array<double, 4>;

const QString timeFormat = QStringLiteral("hh:mm:ss.zzz");

Values readFields(const Fields &fields)
{
    Values values{};
    for (size_t i = 0; i < fields.size(); ++i)
        values[i] = Numbers::toFiniteDouble(fields[i]->text());
    return values;
}

// Writes the values; true when the texts read back differ from before, so a
// change below the 6 digits shown is no change and repeated calls settle.
bool writeFields(const Fields &fields, const Values &values)
{
    const Values old = readFields(fields);
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i]->setText(Numbers::text(values[i]));
    return readFields(fields) != old;
}

Values finite(double a, double b, double c, double d)
{
    auto f = [](double v) { return std::isfinite(v) ? v : 0.0; };
    return {f(a), f(b), f(c), f(d)};
}

} // namespace

CtCalc::CtCalc(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::CtCalc)
    , progress(new CtProgress)
{
    ui->setupUi(this);
    CtCalc2Ui::fitFields(ui);
    progressThread.setObjectName(QStringLiteral("CtProgress"));
    // Started once and stopped only by the destructor: stopping it at the end of
    // a run and starting it at the next would lose the relay events of a start()
    // that comes before the thread has left its loop. Without its thread the relay
    // works on this one; the queued connections keep a one-by-one run from
    // recursing through every step.
    if (ThreadStart::start(progressThread, QStringLiteral("CT1 progress")))
        progress->moveToThread(&progressThread);

    const auto queued = Qt::QueuedConnection;
    connect(this, &CtCalc::startCalcAll, progress, &CtProgress::startCalcAll, queued);
    connect(progress, &CtProgress::calcAll, this, &CtCalc::calcAll, queued);
    connect(this, &CtCalc::startCalcOneByOne, progress, &CtProgress::startCalcOneByOne, queued);
    connect(progress, &CtProgress::calcOne, this, &CtCalc::calcOne, queued);
    connect(this, &CtCalc::finishedCalcOne, progress, &CtProgress::calcNext, queued);
    connect(progress, &CtProgress::finishedCalcOneByOne, this, &CtCalc::oneByOneFinished, queued);
    connect(ui->StartCalc, &QPushButton::clicked, this, &CtCalc::askToStartCalc);
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc::setCRegion);
    connect(ui->DispCt, &ImgDispWCBar::newBar, this, &CtCalc::genResImage);
    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc::noticedNewPos);

    // The initial region is a placeholder: the first run replaces it.
    setCR(0, 0, 2047, 2047);
    calcRegionSet = false;
}

CtCalc::~CtCalc()
{
    progressThread.quit();
    progressThread.wait();
    delete progress;
    delete ui;
}

ImgDispWPV *CtCalc::display() const
{
    return ui->DispCt;
}

void CtCalc::calcCt()
{
    if (running)
        endCt();
    else
        startCt();
}

bool CtCalc::takeSinogram()
{
    ProcCtrl *proc = sinogram->procCtrl();
    if (!proc) {
        hSgm.resize(0, 0);
        return false;
    }
    sinogram->genSinogram0(&hSgm, proc->rotAxIsV(), proc->cor(), proc->sliceNo());
    if (hSgm.isUsable() && proc->ringRemoval() > 0)
        RingRemoval::apply(hSgm.sgm.data(), hSgm.width, hSgm.height, proc->ringRemoval());
    return hSgm.isUsable();
}

namespace {

// The scan geometry of the process panel for a CT1 sinogram of `count` rows, as
// the engines take it at run start. False, with a debug line, when it can not
// be used here.
bool geometryOf(const ProcCtrl &proc, const HSgm &sgm, int lineLength, CtFbp::Geometry *out)
{
    // The range and any angles that came with the data, as a run takes them.
    ScanGeometry geometry = proc.runParams(true, false).geometry;
    if (!proc.anglesFile().isEmpty()) {
        QString error;
        if (!ScanGeometry::readAngleFile(proc.anglesFile(), &geometry.anglesDeg, &error)) {
            qDebug().noquote() << "CT1 :" << error;
            return false;
        }
    }
    if (!geometry.anglesDeg.empty()) {
        if (geometry.anglesDeg.size() != size_t(sgm.height)) {
            qDebug().noquote() << QStringLiteral("CT1 : Angle count %1 differs from projections %2")
                                      .arg(geometry.anglesDeg.size())
                                      .arg(sgm.height);
            return false;
        }
    }
    // CT1 takes the sinogram viewer's rows, which stop at the nearer edge.
    if (ScanGeometry::isHalfAcquisition(geometry.rangeDegrees, lineLength, proc.cor())) {
        qDebug() << "CT1 : a half acquisition is reconstructed by the CT2 engines only";
        return false;
    }
    *out = geometry.forSinogram(sgm.height, sgm.width, lineLength, proc.cor());
    return true;
}

} // namespace

void CtCalc::startCt()
{
    if (!sinogram || running)
        return;
    start = QDateTime::currentDateTime();
    ui->StartT->setText(start.toString(timeFormat));
    const bool usable = takeSinogram();
    const int n = hSgm.width / 2 * 2;
    const int p = hSgm.height;
    // The filter of the process panel, as the engines take it at run start.
    CtFilter::Window window = CtFilter::Window::Ramp;
    const ProcCtrl *proc = sinogram->procCtrl();
    if (proc && !CtFilter::windowOf(proc->filterName(), &window))
        window = CtFilter::Window::Ramp;
    const bool padded = proc && proc->filterPadded();
    CtFbp::Precision precision = CtFbp::Precision::Double;
    if (proc && !CtFbp::precisionOf(proc->precisionName(), &precision))
        precision = CtFbp::Precision::Double;
    CtFbp::Geometry geometry;
    const ImgDatas *stack = sinogram->imgDatas();
    const int lineLength = !stack                      ? 0
                           : proc && !proc->rotAxIsV() ? stack->height()
                                                       : stack->width();
    const bool geometryOk = !usable || !proc || geometryOf(*proc, hSgm, lineLength, &geometry);
    if (!usable || !geometryOk || !fbp.setFilter(window, padded) || !fbp.setPrecision(precision) ||
        !fbp.setGeometry(geometry) || !fbp.setup(n, p)) {
        // The run still ends, so that whoever started it (a script, the main
        // window's run) does not wait for it for ever.
        qDebug() << "CT1 : no usable sinogram, CoR"
                 << (sinogram->procCtrl() ? sinogram->procCtrl()->cor() : 0.0);
        end = QDateTime::currentDateTime();
        showTimes();
        emit calcFinished();
        return;
    }
    ui->ShowSliceNo->setText(QString::number(hSgm.slice));
    nFft = n;
    nProj = p;
    if (!calcRegionSet)
        setCR(0, 0, n, n);
    const Values region = readFields({ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1});
    x0 = region[0];
    z0 = region[1];
    x1 = region[2];
    z1 = region[3];
    rowBuffer.assign(static_cast<size_t>(n), 0.0);
    fbp.initResult(n);
    QImage picture(n, n, QImage::Format_Grayscale8);
    picture.fill(0);
    ui->DispCt->image = picture;

    running = true;
    if (ui->CalcAtOnce->isChecked()) {
        allPending = true;
        emit startCalcAll();
    } else {
        allPending = false;
        nextStep = 0;
        progress->setTotal(p);
        emit startCalcOneByOne();
    }
}

const double *CtCalc::scaledRow(int i)
{
    const double *row = hSgm.sgmRow(i);
    for (int k = 0; k < nFft; ++k)
        rowBuffer[k] = row[k] / nProj;
    return rowBuffer.data();
}

void CtCalc::calcAll()
{
    if (!running || !allPending)
        return;
    allPending = false;
    for (int i = 0; i < nProj; ++i)
        fbp.fftRow(scaledRow(i), i);
    for (int i = 0; i < nProj; ++i)
        fbp.filterRow(i);
    fbp.backProjectAll(x0, x1, z0, z1);
    genResImage();
    endCt();
}

void CtCalc::calcOne(int iz)
{
    if (!running || allPending || iz != nextStep || iz >= nProj)
        return;
    ++nextStep;
    fbp.fftRow(scaledRow(iz), iz);
    fbp.filterRow(iz);
    fbp.backProject(iz, x0, x1, z0, z1);
    genResImage();
    end = QDateTime::currentDateTime();
    ui->EndT->setText(end.toString(timeFormat));
    emit finishedCalcOne();
}

void CtCalc::oneByOneFinished()
{
    if (running && !allPending && nextStep >= nProj)
        endCt();
}

void CtCalc::stopCt()
{
    endCt();
}

void CtCalc::endCt()
{
    if (!running)
        return;
    running = false;
    allPending = false;
    end = QDateTime::currentDateTime();
    showTimes();
    emit calcFinished();
}

void CtCalc::showTimes()
{
    ui->EndT->setText(end.toString(timeFormat));
    ui->SpentT->setText(Numbers::text(start.msecsTo(end) / 1000.0));
}

void CtCalc::genResImage()
{
    const int n = fbp.resultSize();
    if (n < 1)
        return;
    ColorBar *bar = ui->DispCt->CBar;
    if (fbp.resultValid()) {
        fbp.calcMinMax();
        if (!bar->fixed()) {
            bar->setMin(fbp.min());
            bar->setMax(fbp.max());
            bar->update();
        }
    }
    QImage &picture = ui->DispCt->image;
    if (picture.width() != n || picture.height() != n ||
        picture.format() != QImage::Format_Grayscale8)
        picture = QImage(n, n, QImage::Format_Grayscale8);
    if (picture.isNull())
        return;
    GreyPicture::paint(&picture, 0, 0, n, n, bar->greyScale(), fbp.rows());
    ui->DispCt->newImage();
    ui->DispCt->dispA()->update();
}

void CtCalc::noticedNewPos(double x, double z)
{
    const int n = fbp.resultSize();
    const int column = Numbers::saturateToInt(x);
    const int row = Numbers::saturateToInt(z);
    if (n < 1 || column < 0 || column >= n || row < 0 || row >= n)
        return;
    ui->DispCt->setVal(fbp.resultAt(column, row));
}

void CtCalc::noticedNewS(QRectF s)
{
    setDR(s.x(), s.y(), s.x() + s.width(), s.y() + s.height());
}

// Every pixel that is at least partly visible is calculated.
void CtCalc::setCRegion()
{
    const Values d = readFields({ui->Drx0, ui->Drz0, ui->Drx1, ui->Drz1});
    setCR(std::floor(d[0]), std::floor(d[1]), std::ceil(d[2]), std::ceil(d[3]));
}

void CtCalc::setDR(double rx0, double rz0, double rx1, double rz1)
{
    const Values v = finite(rx0, rz0, rx1, rz1);
    if (!writeFields({ui->Drx0, ui->Drz0, ui->Drx1, ui->Drz1}, v))
        return;
    ImgDispWPV *display = ui->DispCt;
    display->s = QRectF(v[0], v[1], v[2] - v[0], v[3] - v[1]);
    display->scaleSet = true;
    display->dispA()->update();
    emit dRUpdated(v[0], v[1], v[2], v[3]);
}

void CtCalc::setCR(double rx0, double rz0, double rx1, double rz1)
{
    const Values v = finite(rx0, rz0, rx1, rz1);
    if (!writeFields({ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1}, v))
        return;
    calcRegionSet = true;
    emit cRUpdated(v[0], v[1], v[2], v[3]);
}

void CtCalc::setFixColorScale(bool f)
{
    ui->DispCt->CBar->setFixColorScale(f);
}

void CtCalc::setCBarMinMaxForced(double min, double max)
{
    ui->DispCt->CBar->setMin(min);
    ui->DispCt->CBar->setMax(max);
}

void CtCalc::setSaveImage(bool f, QString path, QString name, QString tag)
{
    saveImageF = f;
    imagePath = path;
    imageName = name;
    imageTag = tag;
}

void CtCalc::setSaveData(bool f, QString path, QString name, QString tag)
{
    saveDataF = f;
    dataPath = path;
    dataName = name;
    dataTag = tag;
}
