#pragma once

#include "run/RunAccount.h"

#include <QObject>
#include <functional>

class RunController;
class StopSignals;

// When the program ends by itself. A headless run (-nw) ends once start-up is
// done and, when a script was started, once the script and everything it started
// have ended; it ends with its summary line once every result is on disk. A
// window ends when it is closed.
class HeadlessSession : public QObject
{
    Q_OBJECT
public:
    explicit HeadlessSession(RunController *runs, QObject *parent = nullptr);

    // Nothing else the program started is still running (besides the runs).
    std::function<bool()> othersIdle;
    // Just before the end is announced (the -sets listing).
    std::function<void()> beforeFinish;
    // Stops the script and the sequencer (a stop signal came), with the reason.
    std::function<void(const QString &reason)> stopOthers;
    // How long the engines may take for the slices in hand after a stop signal.
    int abandonAfterMs = 5000;

    void setHeadless(bool waitForScript);
    bool isHeadless() const { return headless; }
    // A script load was asked for / answered; the script ended.
    void scriptLoadAsked() { ++scriptLoadsPending; }
    void scriptLoaded(bool opened);
    void scriptEnded();
    bool isIdle() const;
    // Ends a headless run once everything is done.
    void finishIfDone();
    void finish();
    // 1 when the script could not be opened; for a headless run 2 when anything
    // asked for failed; else 0.
    int exitStatus(const RunAccount::Totals &totals) const;
    // The run's task failed before anything was asked of it (-set without its set).
    void setExitCode(int code) { exitCode = code; }
    // SIGTERM, SIGINT or SIGHUP: nothing new starts, the slices in hand are finished
    // (or abandoned after abandonAfterMs), the records of what was saved are written
    // with the failure "stopped by signal N", and the run ends with status 128 + N.
    void stopBySignal(int signalNumber);

signals:
    void finishing();

private:
    void abandon();

    RunController *runs;
    StopSignals *stopSignals = nullptr;
    int stopSignal = 0;
    bool abandoned = false;
    bool headless = false;
    bool waitingForScript = false;
    bool scriptHasEnded = false;
    bool finished = false;
    int scriptLoadsPending = 0;
    int exitCode = 0;
};
