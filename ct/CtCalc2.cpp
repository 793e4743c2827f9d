#include "CtCalc2.h"

#include "ct/FloatTiff.h"
#include "ct/GreyPng.h"
#include "ct/RingRemoval.h"
#include "ct/RunRecord.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "imgdata/ImgDatas.h"
#include "util/GreyPicture.h"

#include <QDebug>
#include <QMetaMethod>
#include <QThread>

#include <algorithm>
#include <cmath>

#include <utility>

CtCalc2::CtCalc2(QObject *parent)
    : QObject(parent)
{
    // Nothing here shows the raw intensities of a sinogram.
    hSgm.keepRaw = false;
    // Records cross to the saver's thread through queued signals; a type not
    // registered there would be dropped at delivery, record and all.
    qRegisterMetaType<SavingData *>("SavingData*");
    qRegisterMetaType<SavingImg *>("SavingImg*");
}

CtCalc2::~CtCalc2() = default;

void CtCalc2::onEngineThread(std::function<void()> f)
{
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void CtCalc2::setupFFT(int n, int count, const Region &calcRegion, const Scale &barScale)
{
    onEngineThread([this, n, count, calcRegion, barScale] {
        nFft = n;
        nProj = count;
        region = calcRegion;
        scale = barScale;
    });
}

void CtCalc2::setupFFT(int n, int count)
{
    setupFFT(n, count, Region(), Scale());
}

void CtCalc2::changeBar(const Scale &barScale)
{
    const unsigned sequence = barChanges.fetch_add(1) + 1;
    onEngineThread([this, barScale, sequence] { applyBar(barScale, sequence); });
}

void CtCalc2::setColorScale(bool fixed, double min, double max)
{
    onEngineThread([this, fixed, min, max] {
        scale.fixed = fixed;
        if (fixed) {
            scale.grey.min = min;
            scale.grey.max = max;
        }
    });
}

void CtCalc2::setRunParams(const CtRunParams &params)
{
    onEngineThread([this, params] { runParams = params; });
}

void CtCalc2::setSaveDataFormat(bool dat, bool tiff, bool h5)
{
    onEngineThread([this, dat, tiff, h5] {
        saveDat = dat;
        saveTiff = tiff;
        saveH5 = h5;
    });
}

void CtCalc2::setRingRemoval(int window)
{
    onEngineThread([this, window] { ringWindow = window; });
}

void CtCalc2::setSaveImage(bool f, QString path, QString name, QString tag)
{
    onEngineThread([this, target = SaveTarget{f, path, name, tag}] { imageTarget = target; });
}

void CtCalc2::setSaveData(bool f, QString path, QString name, QString tag)
{
    onEngineThread([this, target = SaveTarget{f, path, name, tag}] { dataTarget = target; });
}

void CtCalc2::beginingCt()
{
    busy.store(true);
    emit startedCt(sliceNo);
}

void CtCalc2::endingCt()
{
    busy.store(false);
    emit endedCt();
    // After busy is cleared: whoever hands out slices looks at it on receipt.
    emit sliceFinished(sliceNo, sliceComputed, !saveMissed);
    emit calcFinished();
}

void CtCalc2::startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genAndDisp)
{
    // A request names its engine: one sent to several engines is taken by one.
    if (ctc2 != this || busy.load())
        return;
    if (groupSize > 1) {
        groupRequests.push_back({rotAxIsV, cor, slice, genAndDisp});
        if (groupRequests.size() == static_cast<size_t>(groupSize))
            runSliceGroup();
        return;
    }
    genAndDispImage = genAndDisp;
    sliceNo = slice;
    sliceCor = cor;
    failureReason.clear();
    beginingCt();
    saveMissed = false;
    sliceComputed = reconstruct(rotAxIsV, cor, slice);
    if (!sliceComputed) {
        reportFailure(failureReason.isEmpty() ? QStringLiteral("no usable sinogram")
                                              : failureReason);
    } else {
        resImageValid = false;
        shownValues.clear();
        if (genAndDispImage)
            render();
        if (imageTarget.on)
            saveImage();
        if (dataTarget.on)
            saveData();
    }
    endingCt();
}

bool CtCalc2::prepare(bool rotAxIsV, double cor, int slice, CtFbp *target)
{
    if (!images) {
        qDebug() << "No image stack for CT engine, slice" << slice;
        return false;
    }
    const int lineLength = rotAxIsV ? images->width() : images->height();
    const bool halfAcquisition =
        ScanGeometry::isHalfAcquisition(runParams.geometry.rangeDegrees, lineLength, cor);
    CtFbp::Precision precision = CtFbp::Precision::Double;
    if (!CtFbp::precisionOf(runParams.precision, &precision))
        qDebug() << "Unknown precision, double used" << runParams.precision;
    // A single-precision core rounds the samples to float: the sinogram keeps
    // them so, at half the memory.
    hSgm.singleSamples = precision == CtFbp::Precision::Single;
    genSinogram0(&hSgm, *images, rotAxIsV, cor, slice, runParams.fixedHalfWidth, halfAcquisition);
    if (!hSgm.isUsable() || hSgm.slice != slice)
        return false;
    const int n = hSgm.width / 2 * 2;
    const int p = hSgm.height;
    // The run's set-up fixes the sizes; a sinogram of other sizes would be
    // transformed past the end of the FFT buffers.
    if (n != nFft || p != nProj) {
        qDebug() << "Sinogram does not match the FFT set-up (N, P)" << n << p << nFft << nProj;
        failureReason = QStringLiteral("sinogram does not match the FFT set-up");
        return false;
    }
    CtFilter::Window window = CtFilter::Window::Ramp;
    if (!CtFilter::windowOf(runParams.filterName, &window))
        qDebug() << "Unknown CT filter, ramp used" << runParams.filterName;
    if (!target->setFilter(window, runParams.filterPadded)) {
        failureReason = QStringLiteral("filter could not be set up");
        return false;
    }
    if (!target->setPrecision(precision)) {
        failureReason = QStringLiteral("precision could not be set up");
        return false;
    }
    if (!target->setGeometry(runParams.geometry.forSinogram(p, hSgm.width, lineLength, cor))) {
        failureReason = QStringLiteral("scan geometry could not be set up");
        return false;
    }
    if ((target->n() != nFft || target->count() != nProj) && !target->setup(nFft, nProj))
        return false;
    if (ringWindow > 0)
        removeRings(slice);
    // A half acquisition's slice is wider than the detector: a region still as a
    // load set it (the whole detector line) grows to the slice.
    const double line = lineLength - 1.0;
    const bool regionOfLoad =
        region.x0 == 0.0 && region.z0 == 0.0 && region.x1 == line && region.z1 == line && line < n;
    if (!region.set || (regionOfLoad && !target->geometry().sampleWeights.empty())) {
        region = {true, 0.0, 0.0, double(n), double(n)};
        emit calcRegionDefaulted(region.x0, region.z0, region.x1, region.z1);
    }
    if (hSgm.singleSamples)
        return target->filterSinogram(hSgm.sgmSingle.data(), hSgm.width, p);
    return target->filterSinogram(hSgm.sgm.data(), hSgm.width, p);
}

void CtCalc2::removeRings(int slice)
{
    if (hSgm.singleSamples)
        removeRingsOf(hSgm.sgmSingle.data(), slice);
    else
        removeRingsOf(hSgm.sgm.data(), slice);
}

template<typename Sample>
void CtCalc2::removeRingsOf(Sample *sgm, int slice)
{
    const int p = hSgm.height;
    if (runParams.ringSequence <= 0 || !ringCorrections) {
        RingRemoval::apply(sgm, hSgm.width, p, ringWindow);
        return;
    }
    const RingCorrections::Key key{runParams.ringSequence, slice, hSgm.width, ringWindow};
    std::optional<std::vector<double>> correction = ringCorrections->find(key);
    if (!correction) {
        correction = RingRemoval::columnCorrection(sgm, hSgm.width, p, ringWindow);
        ringCorrections->keep(key, *correction);
    }
    RingRemoval::applyColumnCorrection(sgm, hSgm.width, p, ringWindow, *correction);
}

bool CtCalc2::reconstruct(bool rotAxIsV, double cor, int slice)
{
    current = &fbp;
    if (!prepare(rotAxIsV, cor, slice, &fbp))
        return false;
    fbp.backProjectAll(region.x0, region.x1, region.z0, region.z1);
    return true;
}

int CtCalc2::slicesPerPass(int n, int count)
{
    // One 2048-pixel slice of 720 projections needs 46 MiB of result and
    // filtered rows.
    constexpr double budget = 64.0 * 1024 * 1024;
    const double perSlice = (double(n) * n + double(count) * (n + 16)) * sizeof(double);
    if (!(perSlice > 0.0))
        return 1;
    return static_cast<int>(std::clamp(std::floor(budget / perSlice), 1.0, 4.0));
}

void CtCalc2::setSliceGroup(int count)
{
    onEngineThread([this, count] {
        groupSize = std::clamp(count, 1, 4);
        groupRequests.clear();
    });
}

void CtCalc2::runSliceGroup()
{
    const std::vector<Request> requests = std::move(groupRequests);
    groupRequests.clear();
    groupSize = 1;
    genAndDispImage = requests.front().genAndDispImage;
    sliceNo = requests.front().slice;
    beginingCt();
    std::vector<CtFbp *> cores;
    std::vector<size_t> requestOf; // the request of each core
    for (size_t k = 0; k < requests.size(); ++k) {
        const Request &r = requests[k];
        CtFbp *target = &fbp;
        if (!cores.empty()) {
            if (groupCores.size() < cores.size())
                groupCores.push_back(std::make_unique<CtFbp>());
            target = groupCores[cores.size() - 1].get();
        }
        failureReason.clear();
        if (prepare(r.rotAxIsV, r.cor, r.slice, target)) {
            cores.push_back(target);
            requestOf.push_back(k);
        } else {
            sliceNo = r.slice;
            reportFailure(failureReason.isEmpty() ? QStringLiteral("no usable sinogram")
                                                  : failureReason);
        }
    }
    CtFbp::backProjectAll(cores.data(), static_cast<int>(cores.size()), region.x0, region.x1,
                          region.z0, region.z1);
    std::vector<char> computed(requests.size(), false);
    std::vector<char> handedToSaver(requests.size(), true);
    for (size_t m = 0; m < cores.size(); ++m) {
        const size_t k = requestOf[m];
        current = cores[m];
        sliceNo = requests[k].slice;
        sliceCor = requests[k].cor;
        saveMissed = false;
        resImageValid = false;
        shownValues.clear();
        if (genAndDispImage)
            render();
        if (imageTarget.on)
            saveImage();
        if (dataTarget.on)
            saveData();
        computed[k] = true;
        handedToSaver[k] = !saveMissed;
    }
    // One report per request, as for requests taken one at a time, after busy
    // is cleared.
    busy.store(false);
    emit endedCt();
    for (size_t k = 0; k < requests.size(); ++k) {
        emit sliceFinished(requests[k].slice, computed[k], handedToSaver[k]);
        emit calcFinished();
    }
}

void CtCalc2::genResImage()
{
    // A newer colour bar is on its way and draws the picture when it arrives.
    if (appliedBarChange != barChanges.load())
        return;
    if (resImageValid && renderedBarChange == appliedBarChange)
        return;
    render();
}

void CtCalc2::applyBar(const Scale &barScale, unsigned sequence)
{
    scale = barScale;
    appliedBarChange = sequence;
    if (sequence == barChanges.load() && current->resultSize() > 0)
        render();
}

void CtCalc2::render()
{
    const int n = current->resultSize();
    if (n < 1)
        return;
    GreyScale grey = scale.grey;
    if (!scale.fixed) {
        current->calcMinMax();
        grey.min = current->min();
        grey.max = current->max();
        scale.grey.min = grey.min;
        scale.grey.max = grey.max;
    }
    const QImage picture = GreyPicture::of(n, n, grey, current->rows());
    if (picture.isNull()) {
        qDebug() << "Can not make result image of size" << n;
        return;
    }
    resImage = picture;
    resImageValid = true;
    renderedBarChange = appliedBarChange;
    if (!genAndDispImage)
        return;
    if (!scale.fixed)
        emit autoRangeFound(grey.min, grey.max);
    const qsizetype count = qsizetype(n) * n;
    if (shownValues.size() != count) {
        QVector<double> values(count);
        current->copyResult(values.data());
        shownValues = std::move(values);
    }
    emit resultReady(resImage, shownValues, n, n);
}

bool CtCalc2::hasReceiver(const char *signal) const
{
    return receivers(signal) > 0;
}

void CtCalc2::saveImage()
{
    if (!resImageValid)
        render();
    if (!resImageValid) {
        saveMissed = true;
        return;
    }
    // The record is deleted by its receiver; without one it would be lost.
    if (!hasReceiver(SIGNAL(saveImgWDiscard(SavingImg *)))) {
        qDebug() << "No saver for the result image of slice" << sliceNo;
        saveMissed = true;
        return;
    }
    auto *record =
        new SavingImg(imageTarget.path, imageTarget.name, imageTarget.tag, sliceNo, resImage);
    record->png = GreyPng::encode(resImage);
    emit saveImgWDiscard(record);
}

void CtCalc2::saveData()
{
    const int n = current->resultSize();
    if (n < 1) {
        saveMissed = true;
        return;
    }
    if (!hasReceiver(SIGNAL(saveDataWDiscard(SavingData *)))) {
        qDebug() << "No saver for the result data of slice" << sliceNo;
        saveMissed = true;
        return;
    }
    auto *record = new SavingData(dataTarget.path, dataTarget.name, dataTarget.tag, sliceNo);
    record->writeDat = saveDat;
    if (saveDat)
        record->data =
            SavingData::resultText(n, current->rows(), region.x0, region.z0, region.x1, region.z1);
    if (saveTiff || saveH5) {
        // One conversion to float serves both the TIFF and the HDF5 frame.
        const bool pixels = floatsOf(n, record);
        record->h5 = saveH5 && pixels;
        if (saveTiff && pixels) {
            // The HDF5 writer needs the pixels too; else the TIFF takes them.
            std::vector<float> values;
            if (record->h5)
                values = record->values;
            else
                values.swap(record->values);
            record->tiff = tiffOf(n, *record, std::move(values));
        }
        if (!record->h5)
            record->values = {};
    }
    emit saveDataWDiscard(record);
}

bool CtCalc2::floatsOf(int n, SavingData *record) const
{
    // The region clipped to the result, from the truncated lower bounds while
    // below the upper ones.
    const int xFrom = int(SavingData::clipBound(region.x0, n));
    const int zFrom = int(SavingData::clipBound(region.z0, n));
    const int columns = std::max(0, int(std::ceil(SavingData::clipBound(region.x1, n))) - xFrom);
    const int rows = std::max(0, int(std::ceil(SavingData::clipBound(region.z1, n))) - zFrom);
    if (columns < 1 || rows < 1) {
        qDebug() << "Empty region, no TIFF or HDF5 frame for slice" << sliceNo;
        return false;
    }
    record->x0 = xFrom;
    record->z0 = zFrom;
    record->columns = columns;
    record->rows = rows;
    record->n = n;
    record->projections = current->count();
    record->values.reserve(size_t(columns) * size_t(rows));
    const CtFbp::Rows rowOf = current->rows();
    for (int z = zFrom; z < zFrom + rows; ++z) {
        const double *row = rowOf(z) + xFrom;
        for (int x = 0; x < columns; ++x)
            record->values.push_back(static_cast<float>(row[x]));
    }
    return true;
}

QByteArray CtCalc2::tiffOf(int n, const SavingData &pixels, std::vector<float> values) const
{
    SliceInfo info;
    info.x0 = SavingData::clipBound(region.x0, n);
    info.z0 = SavingData::clipBound(region.z0, n);
    info.x1 = SavingData::clipBound(region.x1, n);
    info.z1 = SavingData::clipBound(region.z1, n);
    info.n = n;
    info.projections = current->count();
    info.slice = sliceNo;
    info.tag = dataTarget.tag;
    info.cor = sliceCor;
    info.filter = CtFilter::nameOf(current->filterWindow());
    info.padded = current->filterPadded();
    info.ringRemoval = ringWindow;
    FloatTiff tiff;
    tiff.width = pixels.columns;
    tiff.height = pixels.rows;
    tiff.xPosition = pixels.x0;
    tiff.yPosition = pixels.z0;
    tiff.description = info.description();
    tiff.values = std::move(values);
    return tiff.encode();
}

void CtCalc2::reportFailure(const QString &reason)
{
    const SaveTarget &target = dataTarget.on ? dataTarget : imageTarget;
    if (!target.on || !hasReceiver(SIGNAL(saveDataWDiscard(SavingData *))))
        return;
    auto *record = new SavingData(target.path, target.name, target.tag, sliceNo);
    record->writeDat = false;
    record->failure = reason;
    emit saveDataWDiscard(record);
}
