#include "HeadlessSession.h"

#include "run/RunController.h"

#include <QDebug>
#include <QTimer>

HeadlessSession::HeadlessSession(RunController *runs, QObject *parent)
    : QObject(parent)
    , runs(runs)
{
    connect(runs, &RunController::mayBeIdle, this, &HeadlessSession::finishIfDone);
}

void HeadlessSession::setHeadless(bool waitForScript)
{
    headless = true;
    runs->setHeadless(true);
    waitingForScript = waitForScript;
    // Queued, so that the batch load and start requested by the entry point are
    // handled first.
    QTimer::singleShot(0, this, &HeadlessSession::finishIfDone);
}

void HeadlessSession::scriptLoaded(bool opened)
{
    if (!opened)
        exitCode = 1;
    if (scriptLoadsPending > 0)
        --scriptLoadsPending;
    finishIfDone();
}

void HeadlessSession::scriptEnded()
{
    scriptHasEnded = true;
    finishIfDone();
}

bool HeadlessSession::isIdle() const
{
    return runs->isIdle() && scriptLoadsPending == 0 && (!othersIdle || othersIdle());
}

void HeadlessSession::finishIfDone()
{
    if (!headless || finished)
        return;
    if (waitingForScript && !scriptHasEnded)
        return;
    if (!isIdle())
        return;
    finish();
}

void HeadlessSession::finish()
{
    if (finished)
        return;
    finished = true;
    if (beforeFinish)
        beforeFinish();
    if (!headless) {
        emit finishing();
        return;
    }
    // A headless run ends with its account, once every result is on disk.
    runs->afterSaverWrites([this](int, int) {
        qDebug().noquote() << RunAccount::summaryLine(runs->totals());
        emit finishing();
    });
}

int HeadlessSession::exitStatus(const RunAccount::Totals &totals) const
{
    return RunAccount::exitStatus(exitCode, headless, totals);
}
