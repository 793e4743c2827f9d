#include "HeadlessSession.h"

#include "run/RunController.h"
#include "run/StopSignals.h"
#include "util/SafeFile.h"

#include <QDebug>
#include <QTimer>

#include <cstdlib>

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
    if (!stopSignals) {
        stopSignals = new StopSignals(this);
        connect(stopSignals, &StopSignals::stopAsked, this, &HeadlessSession::stopBySignal);
    }
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
        if (abandoned) {
            // Engines still compute the abandoned slices: nothing waits for them.
            SafeFile::removeTemporaries();
            std::_Exit(exitCode);
        }
        emit finishing();
    });
}

void HeadlessSession::stopBySignal(int signalNumber)
{
    if (!headless || finished || stopSignal != 0)
        return;
    stopSignal = signalNumber;
    exitCode = 128 + signalNumber;
    const QString reason = QStringLiteral("stopped by signal %1").arg(signalNumber);
    qDebug().noquote() << QStringLiteral("Signal %1: the run stops; the slices in hand are "
                                         "finished and saved, a second signal ends it at once")
                              .arg(signalNumber);
    waitingForScript = false;
    if (stopOthers)
        stopOthers(reason);
    runs->interrupt(reason);
    QTimer::singleShot(abandonAfterMs, this, &HeadlessSession::abandon);
    finishIfDone();
}

void HeadlessSession::abandon()
{
    if (finished)
        return;
    qDebug().noquote() << QStringLiteral("Signal %1: what is still running after %2 s is abandoned")
                              .arg(stopSignal)
                              .arg(abandonAfterMs / 1000.0);
    abandoned = true;
    runs->abandon();
    finish();
}

int HeadlessSession::exitStatus(const RunAccount::Totals &totals) const
{
    return RunAccount::exitStatus(exitCode, headless, totals);
}
