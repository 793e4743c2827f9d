#pragma once

#include "batch/BatchCmd.h"
#include "batch/CommandTable.h"
#include "body/Workers.h"
#include "disp/MouseC.h"
#include "run/RunAccount.h"

#include <QFileInfoList>
#include <QFrame>
#include <QStringList>
#include <functional>
#include <memory>

class Batch;
class CorTools;
class CtCalc;
class CtCalc2;
class CtEnginePool;
class DataSaver;
class H5Scan;
class HeadlessSession;
class ImgDatas;
class QAbstractButton;
class QPainter;
class RawDisp;
class RawView;
class ResultPanels;
class RunController;
class RunRecordSender;
class RunView;
class SetRunner;
class Sinogram;
class StackView;
class TaskOptions;
class XafsBatch;
class XafsView;
struct H5Settings;

namespace Ui {
class Body;
}

// The main window: owns every panel, the image stack, the engines and the
// workers of the program, carries the workflow (load, show, reconstruct, save)
// and dispatches batch commands.
class Body : public QFrame
{
    Q_OBJECT
public:
    static constexpr int engineCount = 32;

    explicit Body(QWidget *parent = nullptr);
    ~Body() override;

    // Headless mode (-nw): the program ends by itself once start-up is done and,
    // when a script was started, once the script and all it started are finished.
    void setHeadless(bool waitForScript);
    // Exit status of the program: 1 when the script given could not be opened;
    // for a headless run 2 when anything asked to be computed or saved failed; else 0.
    int exitStatus() const;
    // Counts of everything done since start-up, for the line that ends a headless run.
    using Totals = RunAccount::Totals;
    // Totals with the saver's tallies as they stand (call after its writes are done).
    Totals totals() const;
    QString summaryLine() const;

    // Slices handed to engines whose calcFinished() has not come back yet.
    int requestsInFlight() const;
    // The most slices one engine takes together in the current run.
    int slicesPerEngine() const;
    bool isCalcRunning() const;
    ImgDatas *imageStack() const { return imgDatas; }
    Batch *batchInterpreter() const { return batch; }

signals:
    void batchCalcStart();
    void batchCalcFinished();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg = true);
    void finishing();
    void finishedLoadingCTFiles();
    void calcFinished();
    void stage(QString msg, quint64 dEt);
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();
    // The end of a CT run that the sequencer started (only those advance it).
    void setCalcFinished();

public slots:
    void dataFilesSelected(QStringList files, bool clear);
    void newPosOnRawImg(double x, double y);
    void updateRawImage();
    void draw(QPainter *p);
    void selectedAPointInRawImg(double x, double y, MouseC::MStat s);
    void showDispRaw();
    void showSinogram();
    void toggleCalcCt();
    void startCalcCt();
    void stopCalcCt();
    void setupFFT();
    void setupSaveConds();
    void execSingleCtCalc();
    void execMultiCtCalc();
    void ctCalcFinished();
    void showAdditionalInfo(bool f);
    void changedCtSel(QAbstractButton *button);
    void changedAutoExec();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    void batchExCmd(BatchCmd cmd);
    void fixColorScaleToggled(bool f);
    double colorMin();
    double colorMax();
    void selectedDir(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList fileInfoList);
    void newSets(int count);
    void setFirstImageSet();
    void setNextImageSet();
    void startingSeqCalc();
    void finishedSeqCalc();
    void i0FilesSelected(QStringList files, bool clear);
    void noticedStage(QString msg, qint64 dEt);
    void setI0FileFromList();
    void batchLoad(QString fname);
    void batchExec();
    void setFixColorScale(bool f);
    void setColorMin(double v);
    void setColorMax(double v);
    void setAutoSaveImage(bool f);
    void setAutoSaveData(bool f);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void findCorClicked();
    void batchLoadedScript(bool opened);
    void batchEnded();

private:
    void setupDisplays();
    void setupBatch();
    void setupSequencer();
    void setupEngines();
    void setupRuns();
    void setupSetRunner();
    void connectPanels();
    void executeConfigLines();

    // The command table wired to the form's parts and the window's own actions
    // (BodyCommands.cpp).
    void setupCommands();
    // Runs one command; false when it completes later (calc_exec and xafs_build from
    // the interpreter). Only commands from the interpreter are answered at all.
    bool dispatch(const BatchCmd &cmd, bool fromInterpreter);
    // The display and calculation regions of every result panel, CT1's included.
    void setRegionEverywhere(double x0, double z0, double x1, double z1);

    void loadFiles(const QStringList &files, bool clear);
    // An HDF5 scan's frames become the stack, its flats the I0 and its darks the BG;
    // false when the window can not take it (BodyCommands.cpp).
    bool takeH5Scan(H5Scan &scan, const QString &fileName);
    // Reads an HDF5 file as h5_load does and takes it; false (logged) when refused.
    bool loadScanFile(const QString &fileName);
    void regenerateSinogram();
    // Queues `action` while engines still have slices in progress; false when
    // it can run now.
    bool deferWhileEnginesRun(const char *what, std::function<void()> action);
    void passSubFolderSettings();

    void finishIfHeadlessDone();
    void stopThreads();

    Ui::Body *ui;
    Workers workers;
    CommandTable commands;
    std::unique_ptr<StackView> stackView;
    std::unique_ptr<RunRecordSender> runRecords;
    Batch *batch = nullptr;
    XafsBatch *xafsBatch = nullptr;
    SetRunner *setRunner = nullptr;
    CorTools *corTools = nullptr;
    RawDisp *rawDisp = nullptr;
    RawView *rawView = nullptr;
    Sinogram *sinogram = nullptr;
    CtCalc *ctCalc = nullptr;
    CtEnginePool *engines = nullptr;
    ResultPanels *resultPanels = nullptr;
    RunView *runView = nullptr;
    RunController *runs = nullptr;
    HeadlessSession *session = nullptr;
    ImgDatas *imgDatas = nullptr;
    DataSaver *dataSaver = nullptr;
    XafsView *xafsView = nullptr;
    TaskOptions *taskOptions = nullptr;
    std::shared_ptr<H5Settings> h5Settings;
};
