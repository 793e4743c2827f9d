#pragma once

#include "run/RunAccount.h"
#include "run/RunRequest.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QVector>
#include <functional>

class DataSaver;
class EnginePool;

// Runs CT runs: refuses or starts one, hands its slices out to the engines,
// tallies what comes back, ends it and answers the script. Loads and changes
// asked for while engines still read the stack wait here and run in order once
// the engines are idle. Knows no widget: the main window hands it a RunRequest
// and shows what its signals report.
class RunController : public QObject
{
    Q_OBJECT
public:
    // The one-slice CT1 panel, which runs on the GUI thread.
    struct Ct1
    {
        std::function<bool()> running;
        std::function<void()> start;
        std::function<void()> stop;
        // At the start of a run that is not refused: its save settings.
        std::function<void(const RunRequest &)> setUp;
    };

    RunController(EnginePool *pool, DataSaver *saver, QObject *parent = nullptr);

    Ct1 ct1;
    // Sets the ok/ng flag of the script line being carried out.
    std::function<void(bool ok)> answerScript;

    void setHeadless(bool on) { headless = on; }
    bool isRunning() const { return calcRunning; }
    // Slices handed to engines whose sliceFinished() has not come back yet.
    int requestsInFlight() const { return inFlight; }
    // The most slices one engine takes together in the current run.
    int slicesPerEngine() const { return sliceGroup; }
    // The settings of the run in progress or of the last one.
    const RunRequest &request() const { return current; }
    // Why the last run could not start or was stopped (empty when it ran its course).
    QString runFailure() const { return failure; }
    QDateTime startTime() const { return started; }

    bool enginesIdle() const;
    // Engines or the CT1 panel still read the stack and the I0 and BG images.
    bool inputsInUse() const;
    bool hasPendingActions() const { return !pendingActions.isEmpty(); }
    // Nothing runs, waits or is being written.
    bool isIdle() const;

    RunAccount &account() { return runAccount; }
    // Totals with the saver's counts as they stand (call after its writes are done).
    RunAccount::Totals totals() const;

    // A command from the script is being carried out: its ng is ours to set.
    void setScriptLine(bool on) { scriptLine = on; }
    // The next run's end answers the script (calc_exec from a script line).
    void setAnswersScript(bool on) { answersScript = on; }
    // The next run was started by the sequencer; its end advances it.
    void setSequenced(bool on) { sequenced = on; }

    // Something asked for failed: counted, and a script line being carried out
    // answers ng.
    void markFailure(const QString &what);

    // Starts a run, or refuses it (counted, the run ends at once); a second start
    // while one runs is ignored. False when the run did not start.
    bool start(const RunRequest &request);
    // Ends the run in progress (slices handed out still finish).
    void stop();
    // At shut-down: no more slices are handed out, and nothing reports the end.
    void halt() { calcRunning = false; }
    // The program is asked to end (a stop signal): no slice is handed out and no run
    // starts any more; the run in progress ends, with `reason` as its failure, once
    // the slices in hand are back.
    void interrupt(const QString &reason);
    // After an interrupt: ends the run now, without the slices still in hand.
    void abandon();
    // The CT1 panel finished its slice.
    void ct1Finished();
    // Hands the slice of a one-slice run out; hands out the next slices of a range.
    void handOutOne();
    void handOut();

    // Queues `action` while engines still have slices in progress (or earlier
    // actions wait); false when it can run now.
    bool deferWhileRunning(const char *what, std::function<void()> action);
    void runPendingActions();
    // The sub folders of the results to the saver, behind the records sent so far.
    void passSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice);
    // Runs `then` on this thread once the saver has written every record sent so
    // far, with its counts of files written and failed.
    void afterSaverWrites(std::function<void(int written, int failed)> then);

public slots:
    void engineFinished(int engine, int slice, bool computed, bool handedToSaver);

signals:
    // A run begins (before it may be refused); its slices are set up; progress.
    void runStarting();
    void runSetUp(int slicesTotal);
    void progress(int done, int total);
    // The run ended: its times and record are due, before the script hears of it.
    void runEnded();
    void calcFinished();
    // The end of a run that the sequencer started.
    void setCalcFinished();
    void batchCalcFinished();
    // A slice went to an engine.
    void handedOut(int engine, bool rotAxIsV, double cor, int slice, bool show);
    // Something ended that a headless run may have waited for.
    void mayBeIdle();

private:
    struct Tally
    {
        bool refused = false;
        int asked = 0;
        int computed = 0;
        int notComputed = 0;
        int notSaved = 0;
        int failedFilesBefore = 0;
    };

    bool mustWait() const;
    void refuse(const QString &why);
    bool planSlices();
    void handTo(int engine, int slice);
    bool succeeded(int writeFailures) const;

    EnginePool *pool;
    DataSaver *saver;
    RunRequest current;
    CtRunParams &params = current.params;
    Tally run;
    RunAccount runAccount;
    QString failure;
    // Set by interrupt(): why nothing more is run.
    QString interrupted;
    QDateTime started;
    bool headless = false;
    bool calcRunning = false;
    bool answersScript = false;
    bool sequenced = false;
    bool scriptLine = false;
    bool drainingPending = false;
    int nextSlice = 0;
    int slicesDone = 0;
    int slicesTotal = 0;
    int sliceGroup = 1;
    int saverWaits = 0;
    // Requests handed to engines and not yet answered: an engine's busy flag is
    // set only when its thread takes a request, so it cannot tell a run's end alone.
    int inFlight = 0;
    QVector<int> engineRequests;
    // Every run has a number; each engine's requests carry theirs, in the order the
    // engine takes them, so a late slice of a stopped run never counts for the next.
    quint64 runId = 0;
    QVector<QList<quint64>> engineRuns;
    QList<std::function<void()>> pendingActions;
};
