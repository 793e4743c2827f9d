#pragma once

#include "ct/CtFbp.h"
#include "ct/CtRunParams.h"
#include "ct/HSgm.h"
#include "ct/RingCorrections.h"
#include "util/GreyScale.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ImgDatas;
class SavingData;
class SavingImg;

// One reconstruction engine of the CT2 pool. It lives on a thread of its own and
// reconstructs one slice per startCt() request; requests that arrive while it
// works wait in its event queue and are processed in order.
//
// Everything a slice uses is the engine's own: its sinogram, its FFT core, and a
// copy of the run settings (calculation region, colour scale, save settings) handed
// over when the run starts (setupFFT(), setSaveImage(), setSaveData()). Those
// copies reach the engine through its event queue, so a run that is still
// finishing a slice keeps the settings it started with and the next request sees
// the new ones. The engine knows no widget: whoever shows its results listens to
// its signals (times, slice number, picture and values), which are queued to them.
class CtCalc2 : public QObject
{
    Q_OBJECT

public:
    explicit CtCalc2(QObject *parent = nullptr);
    ~CtCalc2() override;

    // The settings one run works with.
    struct Region
    {
        // A region never set on the panel becomes (0, 0, N, N) at the first slice.
        bool set = false;
        double x0 = 0.0;
        double z0 = 0.0;
        double x1 = 0.0;
        double z1 = 0.0;
    };
    struct Scale
    {
        bool fixed = false;
        GreyScale grey;
    };
    struct SaveTarget
    {
        bool on = false;
        QString path;
        QString name;
        QString tag;
    };

    // Before the first request: the stack whose sinograms the engine reads (with
    // its I0 and BG images). Nobody changes it while requests are in flight.
    void setStack(const ImgDatas *stack) { images = stack; }

    // GUI thread, at the start of each run: the FFT length and projection count of
    // the run, its calculation region and colour scale. The set-up is carried out
    // on the engine's thread, after the slice it may still be working on, so the
    // buffers of a running slice are never replaced; the caller need not wait for
    // busy engines.
    void setupFFT(int n, int count, const Region &calcRegion, const Scale &barScale);
    // The same with the whole slice as its region and an automatic colour scale.
    void setupFFT(int n, int count);
    // GUI thread: the colour bar of whoever shows the results changed. Changes are
    // counted here and applied in order on the engine's thread; only the latest
    // one redraws the picture.
    void changeBar(const Scale &barScale);

    // GUI thread, at run start after setupFFT(): the main window's colour scale for
    // the run (the fixed flag and, when fixed, its limits), over the panel's copy.
    void setColorScale(bool fixed, double min, double max);

    // GUI thread, at run start: the run settings the engine itself uses (the
    // filter), applied from the next slice on like the other settings.
    void setRunParams(const CtRunParams &params);
    // Before the engine's thread starts: the column corrections shared by the
    // engines in runs over a data directory's sets (CtRunParams::ringSequence).
    void setRingCorrections(std::shared_ptr<RingCorrections> shared)
    {
        ringCorrections = std::move(shared);
    }
    // GUI thread, at run start: which files a saved result becomes, the ".dat"
    // text, the float TIFF, or both; or the set's HDF5 file.
    void setSaveDataFormat(bool dat, bool tiff, bool h5 = false);
    // GUI thread, at run start: stripe removal before filtering (its window in
    // detector pixels, 0 off), from the next slice on.
    void setRingRemoval(int window);

    // True from the start of a slice until just before calcFinished(). A startCt()
    // still waiting in the engine's queue does not count: whoever hands out slices
    // counts its own requests until their calcFinished().
    std::atomic<bool> busy{false};
    bool isBusy() const { return busy.load(); }

    // GUI thread, just before handing this engine `count` slices: the next `count`
    // startCt() requests are reconstructed together, in one pass of the back
    // projection (results bit for bit those of one slice at a time), and each
    // still ends with its own calcFinished(). The set-up goes through the engine's
    // event queue ahead of the requests.
    void setSliceGroup(int count);
    // How many slices of N samples and P projections an engine takes together:
    // up to four, fewer where the extra results and filtered rows would exceed
    // what one 2048-pixel slice needs.
    static int slicesPerPass(int n, int count);

    // Engine thread (or after calcFinished()): the last result.
    const CtFbp &core() const { return *current; }
    const QImage &resultImage() const { return resImage; }

signals:
    void askToStartCalc();
    void calcFinished();
    // Sent just before calcFinished() for every request this engine took: whether
    // the slice was computed, and whether every result asked to be saved was
    // handed to the saver.
    void sliceFinished(int slice, bool computed, bool handedToSaver);
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);

    // To the panel, queued: the run began, the picture is ready, the run ended.
    void startedCt(int slice);
    void resultReady(QImage picture, QVector<double> values, int width, int rows);
    // The colour range found in a result, for a bar that is not fixed.
    void autoRangeFound(double min, double max);
    void endedCt();
    // A calculation region that was never set became (0, 0, N, N).
    void calcRegionDefaulted(double rx0, double rz0, double rx1, double rz1);

public slots:
    void beginingCt();
    void endingCt();
    void genResImage();
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genAndDispImage = true);
    void saveImage();
    void saveData();
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);

private:
    // Runs f on the engine's thread: at once when called there, otherwise queued
    // behind the requests already waiting.
    void onEngineThread(std::function<void()> f);
    bool reconstruct(bool rotAxIsV, double cor, int slice);
    // The sinogram of `slice` filtered into `target`, ready for back projection.
    bool prepare(bool rotAxIsV, double cor, int slice, CtFbp *target);
    void removeRings(int slice);
    template<typename Sample>
    void removeRingsOf(Sample *sgm, int slice);
    // The requests of a slice group, once all have arrived.
    void runSliceGroup();
    // Tells the saver that this slice was not reconstructed, for the run record.
    void reportFailure(const QString &reason);
    // The float32 pixels of the saved region (the ".dat" text's pixels) into
    // `record`, with their place; false when the region is empty.
    bool floatsOf(int n, SavingData *record) const;
    // The float TIFF of those pixels.
    QByteArray tiffOf(int n, const SavingData &pixels, std::vector<float> values) const;
    void applyBar(const Scale &barScale, unsigned sequence);
    void render();
    bool hasReceiver(const char *signal) const;

    const ImgDatas *images = nullptr;
    HSgm hSgm;
    int nFft = 0;
    int nProj = 0;
    CtFbp fbp;
    // The cores of the other slices of a group, made on first use; `current` is
    // the core whose result is shown and saved.
    std::vector<std::unique_ptr<CtFbp>> groupCores;
    CtFbp *current = &fbp;
    struct Request
    {
        bool rotAxIsV = true;
        double cor = 0.0;
        int slice = 0;
        bool genAndDispImage = true;
    };
    int groupSize = 1;
    std::vector<Request> groupRequests;
    Region region;
    Scale scale;
    SaveTarget imageTarget;
    SaveTarget dataTarget;
    int sliceNo = 0;
    double sliceCor = 0.0;
    QString failureReason;
    CtRunParams runParams;
    bool saveDat = true;
    bool saveTiff = false;
    bool saveH5 = false;
    int ringWindow = 0;
    std::shared_ptr<RingCorrections> ringCorrections;
    QImage resImage;
    bool resImageValid = false;
    bool genAndDispImage = true;
    // The outcome of the request in progress: computed, and a result asked to be
    // saved that was not handed to the saver.
    bool sliceComputed = false;
    bool saveMissed = false;
    // The values handed to the panel with the picture; shared, never written again.
    QVector<double> shownValues;
    // Colour bar changes: counted on the GUI thread, applied in order on the
    // engine's; a picture is rebuilt only for the latest change.
    std::atomic<unsigned> barChanges{0};
    unsigned appliedBarChange = 0;
    unsigned renderedBarChange = 0;
};
