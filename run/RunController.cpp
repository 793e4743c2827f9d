#include "RunController.h"

#include "ct/DataSaver.h"
#include "run/EnginePool.h"
#include "run/SlicePlan.h"

#include <QDebug>
#include <QDir>
#include <algorithm>
#include <cmath>

namespace {

// A headless multi-slice run reports its progress every this many slices.
constexpr int progressEvery = 8;

} // namespace

RunController::RunController(EnginePool *pool, DataSaver *saver, QObject *parent)
    : QObject(parent)
    , pool(pool)
    , saver(saver)
{
    engineRequests.fill(0, pool->count());
    engineRuns.resize(pool->count());
    connect(pool, &EnginePool::sliceFinished, this, &RunController::engineFinished);
}

bool RunController::enginesIdle() const
{
    if (inFlight > 0)
        return false;
    for (int i = 0; i < pool->count(); ++i)
        if (pool->isBusy(i))
            return false;
    return true;
}

bool RunController::inputsInUse() const
{
    return inFlight > 0 || (ct1.running && ct1.running());
}

bool RunController::mustWait() const
{
    // Changes wait for a run to end, and for the changes asked before them.
    return calcRunning || inputsInUse() || (!pendingActions.isEmpty() && !drainingPending);
}

bool RunController::isIdle() const
{
    return !calcRunning && enginesIdle() && pendingActions.isEmpty() &&
           !(ct1.running && ct1.running()) && saverWaits == 0;
}

RunAccount::Totals RunController::totals() const
{
    return runAccount.totals(saver->filesWritten.load(), saver->filesFailed.load());
}

void RunController::markFailure(const QString &what)
{
    runAccount.addFailures(1);
    if (scriptLine) {
        qDebug().noquote() << what << ": ng";
        if (answerScript)
            answerScript(false);
    }
}

bool RunController::deferWhileRunning(const char *what, std::function<void()> action)
{
    if (!mustWait())
        return false;
    qDebug() << what << "waits until the running slices are finished";
    pendingActions.append(std::move(action));
    return true;
}

void RunController::runPendingActions()
{
    if (drainingPending)
        return;
    drainingPending = true;
    // An action may start a run (a script's "calc_exec"): the rest waits for it.
    while (!pendingActions.isEmpty() && !calcRunning && !inputsInUse()) {
        const std::function<void()> action = pendingActions.takeFirst();
        action();
    }
    drainingPending = false;
    emit mayBeIdle();
}

bool RunController::start(const RunRequest &request)
{
    // One run at a time: a second start would hand out slices with the settings of
    // another run and end the first one's bookkeeping.
    if (calcRunning) {
        qDebug() << "CT run not started : a CT run is in progress";
        return false;
    }
    if (!interrupted.isEmpty()) {
        qDebug().noquote() << "CT run not started :" << interrupted;
        return false;
    }
    calcRunning = true;
    ++runId;
    run = Tally{};
    run.failedFilesBefore = saver->filesFailed.load();
    slicesDone = 0;
    slicesTotal = 0;
    started = QDateTime::currentDateTime();
    current = request;
    failure.clear();
    emit runStarting();

    if (current.projections == 0) {
        refuse(QStringLiteral("no images are loaded"));
        return false;
    }
    if (!current.inputFailure.isEmpty()) {
        refuse(current.inputFailure);
        return false;
    }
    if (params.calcCt2 && pool->count() == 0) {
        refuse(QStringLiteral("no engine thread could start"));
        return false;
    }
    if (!std::isfinite(params.cor)) {
        refuse(QStringLiteral("the centre of rotation is not a number"));
        return false;
    }
    const QString geometryFailure = current.prepareGeometry();
    if (!geometryFailure.isEmpty()) {
        refuse(geometryFailure);
        return false;
    }
    if (current.sinogramWidth() < 3) {
        refuse(QStringLiteral("the centre of rotation leaves no sinogram"));
        return false;
    }
    if (params.autoExec && params.sliceStep == 0) {
        refuse(QStringLiteral("the slice step is 0"));
        return false;
    }
    if (!planSlices())
        return false;
    emit runSetUp(slicesTotal);
    // An empty folder means the working directory; say so once per run, since
    // nobody would look for the results there.
    if ((current.image.on && current.image.path.isEmpty()) ||
        (current.data.on && current.data.path.isEmpty()))
        qDebug() << "No save folder chosen, results are saved in the working directory :"
                 << QDir::currentPath();
    pool->setupRun(current);
    sliceGroup = pool->slicesPerPass(current);
    if (ct1.setUp)
        ct1.setUp(current);
    passSubFolders(current.subFolders, current.subOfEnergy, current.subOfSlice);
    if (params.autoExec) {
        nextSlice = params.sliceFrom;
        handOut();
    } else {
        handOutOne();
    }
    return true;
}

bool RunController::planSlices()
{
    if (!params.autoExec) {
        const int last = current.lastSlice();
        if (params.slice < 0 || params.slice > last) {
            refuse(QStringLiteral("slice %1 lies outside the image (0 to %2)")
                       .arg(params.slice)
                       .arg(last));
            return false;
        }
        run.asked = 1;
        slicesTotal = 1;
        return true;
    }
    const SlicePlan::Clip c =
        SlicePlan::clip(params.sliceFrom, params.sliceTo, params.sliceStep, current.lastSlice());
    run.asked = c.asked;
    if (!c.outside.isEmpty())
        qDebug().noquote() << "Slices outside the image, not computed :" << c.outside.join(", ");
    run.notComputed = c.refused;
    if (!c.any) {
        // Each slice is a failure of its own; the refused run adds none.
        runAccount.addFailures(c.asked - 1);
        refuse(QStringLiteral("every slice asked for lies outside the image"));
        return false;
    }
    runAccount.addFailures(c.refused);
    params.sliceFrom = c.from;
    params.sliceTo = c.to;
    params.sliceStep = c.step;
    slicesTotal = c.total;
    return true;
}

void RunController::refuse(const QString &why)
{
    qDebug().noquote() << "CT run not started :" << why;
    failure = QStringLiteral("CT run not started : %1").arg(why);
    run.refused = true;
    markFailure(QStringLiteral("CT run refused"));
    stop();
}

void RunController::handTo(int engine, int slice)
{
    ++inFlight;
    ++engineRequests[engine];
    engineRuns[engine].append(runId);
    pool->request(engine, params.rotAxIsV, params.cor, slice, current.showResults);
    emit handedOut(engine, params.rotAxIsV, params.cor, slice, current.showResults);
}

void RunController::handOutOne()
{
    if (params.calcCt1 && ct1.running && !ct1.running() && ct1.start)
        ct1.start();
    if (params.calcCt2)
        handTo(0, params.slice);
    if (!params.calcCt1 && !params.calcCt2)
        stop();
}

void RunController::engineFinished(int engine, int slice, bool computed, bool handedToSaver)
{
    if (engine < 0 || engine >= engineRequests.size())
        return;
    if (engineRequests[engine] > 0) {
        --engineRequests[engine];
        --inFlight;
    }
    const quint64 ofRun = engineRuns[engine].isEmpty() ? 0 : engineRuns[engine].takeFirst();
    const bool ofThisRun = ofRun == runId;
    if (computed) {
        runAccount.addSlicesComputed();
        if (ofThisRun)
            ++run.computed;
    } else {
        qDebug() << "Slice not computed :" << slice;
        runAccount.addFailures(1);
        if (ofThisRun)
            ++run.notComputed;
    }
    if (computed && !handedToSaver) {
        qDebug() << "Result of slice not saved as asked :" << slice;
        runAccount.addFailures(1);
        if (ofThisRun)
            ++run.notSaved;
    }
    // Only the slices of the run in progress are its progress.
    if (calcRunning && ofThisRun) {
        ++slicesDone;
        emit progress(std::min(slicesDone, slicesTotal), slicesTotal);
        if (headless && (slicesDone % progressEvery == 0 || slicesDone == slicesTotal))
            qDebug().noquote()
                << QStringLiteral("slices done %1 / %2").arg(slicesDone).arg(slicesTotal);
    }
    handOut();
    if (inFlight == 0)
        runPendingActions();
}

void RunController::interrupt(const QString &reason)
{
    if (!interrupted.isEmpty())
        return;
    interrupted = reason;
    if (!calcRunning)
        return;
    failure = reason;
    runAccount.addFailures(1);
    qDebug().noquote()
        << QStringLiteral("CT run stopped : %1, %2 slices in hand").arg(reason).arg(inFlight);
    handOut();
}

void RunController::abandon()
{
    if (!calcRunning)
        return;
    qDebug() << "Slices abandoned :" << inFlight;
    stop();
}

void RunController::handOut()
{
    if (!calcRunning)
        return;
    if (!interrupted.isEmpty()) {
        if (inFlight == 0 && !(ct1.running && ct1.running()))
            stop();
        return;
    }
    if (!params.autoExec) {
        if (inFlight == 0 && !(ct1.running && ct1.running()))
            stop();
        return;
    }
    if (!params.calcCt2) {
        stop();
        return;
    }
    const int threads = std::clamp(params.threads, 1, pool->count());
    for (int i = 0; i < threads; ++i) {
        if (!SlicePlan::inRange(nextSlice, params.sliceFrom, params.sliceTo))
            break;
        if (pool->isBusy(i) || engineRequests[i] > 0)
            continue;
        const long long left = SlicePlan::left(nextSlice, params.sliceTo, params.sliceStep);
        const int group = SlicePlan::share(left, inFlight, threads, sliceGroup);
        if (group > 1)
            pool->setSliceGroup(i, group);
        for (int k = 0; k < group; ++k) {
            handTo(i, nextSlice);
            nextSlice = SlicePlan::stepFrom(nextSlice, params.sliceStep, params.sliceTo);
        }
    }
    if (SlicePlan::inRange(nextSlice, params.sliceFrom, params.sliceTo) || inFlight > 0)
        return;
    stop();
}

bool RunController::succeeded(int writeFailures) const
{
    return !run.refused && run.notComputed == 0 && run.notSaved == 0 && run.computed >= run.asked &&
           writeFailures == 0;
}

void RunController::stop()
{
    // Not running any more before CT1 is stopped: its finish report then finds
    // no run to end, so the run ends once.
    calcRunning = false;
    if (ct1.running && ct1.running() && ct1.stop)
        ct1.stop();
    emit runEnded();
    if (answersScript) {
        answersScript = false;
        // The script's next line sees ok only when every slice asked for was computed
        // and every result file it asked for is on disk: the saver answers after the
        // records this run sent.
        const int failedBefore = run.failedFilesBefore;
        afterSaverWrites([this, failedBefore](int, int failed) {
            const bool ok = succeeded(failed - failedBefore);
            if (!ok)
                qDebug() << "calc_exec : ng";
            if (answerScript)
                answerScript(ok);
            emit batchCalcFinished();
        });
    }
    emit calcFinished();
    if (sequenced) {
        sequenced = false;
        emit setCalcFinished();
    }
    // Changes that waited for the run; queued, after the reports of its end.
    QMetaObject::invokeMethod(this, &RunController::runPendingActions, Qt::QueuedConnection);
    emit mayBeIdle();
}

void RunController::ct1Finished()
{
    // A late CT1 finish after the run ended must not report a second end.
    if (calcRunning && !params.autoExec && inFlight == 0) {
        ++run.computed;
        runAccount.addSlicesComputed();
        stop();
    }
}

void RunController::passSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    DataSaver *s = saver;
    QMetaObject::invokeMethod(
        s,
        [s, inSubFolders, ofEnergy, ofSlice] { s->setSubFolders(inSubFolders, ofEnergy, ofSlice); },
        Qt::QueuedConnection);
}

void RunController::afterSaverWrites(std::function<void(int written, int failed)> then)
{
    ++saverWaits;
    DataSaver *s = saver;
    // Queued calls reach the saver after the records queued before them; the answer
    // comes back queued too. The saver's thread is joined before this goes.
    QMetaObject::invokeMethod(
        s,
        [this, s, then = std::move(then)] {
            const int written = s->filesWritten.load();
            const int failed = s->filesFailed.load();
            QMetaObject::invokeMethod(
                this,
                [this, then, written, failed] {
                    --saverWaits;
                    then(written, failed);
                    emit mayBeIdle();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
