#include "ThreadStart.h"

#include <QDebug>
#include <QThread>

bool ThreadStart::failsFor(const QString &what)
{
    static const QString failing = qEnvironmentVariable("ORVO2_FAIL_THREADS");
    return !failing.isEmpty() && what.contains(failing);
}

bool ThreadStart::start(QThread &thread, const QString &what)
{
    if (!failsFor(what))
        thread.start(QThread::InheritPriority);
    if (thread.isRunning() || thread.isFinished())
        return true;
    qDebug().noquote() << "Thread could not start :" << what;
    return false;
}
