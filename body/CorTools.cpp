#include "CorTools.h"

#include "body/ResultPanels.h"
#include "body/SetRunner.h"
#include "ct/CorEstimate.h"
#include "ct/CorScan.h"
#include "ct/CtFbp.h"
#include "ct/DataSaver.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "ct/ScanGeometry.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "select/SelectAFile.h"
#include "ui_Body.h"
#include "util/GreyPicture.h"
#include "util/Numbers.h"

#include <QCheckBox>
#include <QDebug>

#include <cmath>
#include <limits>

CorTools::CorTools(Parts parts, QObject *parent)
    : QObject(parent)
    , p(std::move(parts))
{
}

std::optional<double> CorTools::confidenceOf(double cor) const
{
    if (lastEstimate && lastEstimate->cor == cor)
        return lastEstimate->confidence;
    return std::nullopt;
}

void CorTools::setSeqCorAuto(int mode)
{
    seqCorAuto = mode;
    p.sets->keepCor(std::nullopt);
}

bool CorTools::findCor(double from, double to)
{
    ProcCtrl *proc = p.form->procCtrl;
    // A full turn pairs each projection with its mirror half a turn on, which also
    // finds an axis near the detector's edge.
    std::vector<double> angles = proc->runParams(false, true).geometry.anglesDeg;
    QString angleError;
    if (proc->scanRange() == 360 && !proc->anglesFile().isEmpty() &&
        !ScanGeometry::readAngleFile(proc->anglesFile(), &angles, &angleError))
        qDebug().noquote() << angleError;
    const CorEstimate::Result r =
        proc->scanRange() == 360
            ? CorEstimate::fromStackTurn(*p.stack, proc->rotAxIsV(), proc->sliceNo(), {from, to},
                                         angles)
            : CorEstimate::fromStack(*p.stack, proc->rotAxIsV(), proc->sliceNo(), {from, to});
    if (!r.ok) {
        qDebug().noquote() << "CoR not found :" << r.reason;
        return false;
    }
    // The value set is the value logged: 6 significant digits, as the field shows it.
    const QString text = Numbers::text(r.cor);
    proc->setCor(text.toDouble());
    lastEstimate = Estimate{proc->cor(), r.confidence};
    qDebug().noquote() << "CoR found :" << text
                       << QStringLiteral("(confidence %1)").arg(r.confidence, 0, 'f', 2);
    return true;
}

void CorTools::estimateCorOfSet()
{
    setCor.reset();
    if (!seqCorAuto)
        return;
    // One centre for every energy: the axis does not move between energies, and a
    // centre estimated anew on each would scatter by its own noise.
    const std::optional<double> kept = p.sets->keptCor();
    if (seqCorAuto == 2 && kept) {
        p.form->procCtrl->setCor(*kept);
        setCor = kept;
        return;
    }
    if (findCor(std::nan(""), std::nan(""))) {
        setCor = p.form->procCtrl->cor();
        if (seqCorAuto == 2)
            p.sets->keepCor(setCor);
    }
}

bool CorTools::scanCor(double from, double to, double step)
{
    Ui::Body *ui = p.form;
    const ImgDatas *imgDatas = p.stack;
    ProcCtrl *proc = ui->procCtrl;
    const bool vertical = proc->rotAxIsV();
    if (imgDatas->count() == 0) {
        qDebug() << "CoR scan refused : no images";
        return false;
    }
    const int lineLength = vertical ? imgDatas->width() : imgDatas->height();
    const CorScan::Plan plan = CorScan::plan(from, to, step, lineLength);
    if (!plan.problem.isEmpty()) {
        qDebug().noquote() << "CoR scan refused :" << plan.problem;
        return false;
    }
    CtCalc2Ui *panel = p.panels->panels().at(0);
    const double region[4] = {panel->cRx0(), panel->cRz0(), panel->cRx1(), panel->cRz1()};
    const bool saveImage = ui->AutoSaveImage->isChecked();
    const bool saveData = ui->AutoSaveData->isChecked();
    const SelectAFile *imgDir = ui->SelectImageSaveDir;
    const SelectAFile *dataDir = ui->SelectDataSaveDir;
    if (saveImage || saveData)
        p.passSubFolders();
    else
        qDebug() << "CoR scan : neither images nor data are saved";
    const bool fixed = ui->FixColorScale->isChecked();
    GreyScale grey = panel->bar()->greyScale();
    CtFbp fbp;
    QImage picture;
    for (const double cor : plan.values) {
        if (!CorScan::reconstruct(*imgDatas, vertical, cor, proc->sliceNo(), proc->ringRemoval(),
                                  panel->calcRegionChanged(), region, &fbp)) {
            qDebug() << "CoR scan : no sinogram at" << cor;
            return false;
        }
        const int n = fbp.resultSize();
        if (fixed) {
            grey.min = p.colorMin();
            grey.max = p.colorMax();
        } else {
            fbp.calcMinMax();
            grey.min = fbp.min();
            grey.max = fbp.max();
        }
        picture = GreyPicture::of(n, n, grey, fbp.rows());
        const QString tag = CorScan::tagOf(cor);
        qDebug().noquote() << "CoR scan :" << tag;
        DataSaver *saver = p.saver;
        if (saveData) {
            auto *record = new SavingData(dataDir->path(), dataDir->name(), tag, proc->sliceNo());
            const double whole[4] = {0.0, 0.0, double(n), double(n)};
            const double *r = panel->calcRegionChanged() ? region : whole;
            record->data = SavingData::resultText(n, fbp.rows(), r[0], r[1], r[2], r[3]);
            QMetaObject::invokeMethod(
                saver, [saver, record] { saver->saveDataWDiscard(record); }, Qt::QueuedConnection);
        }
        if (saveImage) {
            auto *record =
                new SavingImg(imgDir->path(), imgDir->name(), tag, proc->sliceNo(), picture);
            QMetaObject::invokeMethod(
                saver, [saver, record] { saver->saveImgWDiscard(record); }, Qt::QueuedConnection);
        }
    }
    // The result panel shows the last centre of the scan.
    const int n = fbp.resultSize();
    panel->showSliceNo(proc->sliceNo());
    if (!fixed)
        panel->setCBarMinMaxForced(grey.min, grey.max);
    QVector<double> values(qsizetype(n) * n);
    fbp.copyResult(values.data());
    panel->showResult(picture, values, n, n);
    return true;
}
