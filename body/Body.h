#pragma once

#include "batch/BatchCmd.h"

#include <QFrame>
#include <QThread>

class Batch;

namespace Ui {
class Body;
}

// The main window: owns every panel, engine and worker of the program and
// dispatches batch commands.
class Body : public QFrame
{
    Q_OBJECT
public:
    explicit Body(QWidget *parent = nullptr);
    ~Body() override;

    // Headless mode (-nw): the program ends by itself once start-up is done and,
    // when a script was started, once the script and all it started are finished.
    void setHeadless(bool waitForScript);
    // Exit status of the program: 1 when the script given could not be opened.
    int exitStatus() const { return exitCode; }

signals:
    void finishing();
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();
    void batchCalcStart();
    void batchCalcFinished();

public slots:
    void batchLoad(QString fname);
    void batchExec();
    void batchExCmd(BatchCmd cmd);
    void startCalcCt();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void batchLoadedScript(bool opened);
    void batchEnded();

private:
    void setupBatch();
    void executeConfigLines();
    // Runs one command; false when it completes later (its completion is reported then).
    bool dispatch(const BatchCmd &cmd);
    bool isIdle() const;
    void finishIfHeadlessDone();
    void finish();
    void stopThreads();

    Ui::Body *ui;
    Batch *batch = nullptr;
    QThread batchThread;

    bool headless = false;
    bool waitingForScript = false;
    bool scriptEnded = false;
    bool finished = false;
    int exitCode = 0;
};
