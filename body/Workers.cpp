#include "Workers.h"

#include "batch/Batch.h"
#include "body/XafsBatch.h"
#include "ct/DataSaver.h"
#include "util/ThreadStart.h"

#include <utility>

namespace {

// A worker whose thread the system refuses works on the main thread: slower, but
// every command still gets its answer and every result is written.
template<class T>
T *onThread(QThread &thread, const char *what)
{
    auto *worker = new T;
    if (!ThreadStart::start(thread, QString::fromLatin1(what)))
        return worker;
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    return worker;
}

} // namespace

Workers::Workers()
    : interpreter(onThread<Batch>(batchThread, "script interpreter"))
    , sequence(onThread<XafsBatch>(sequenceThread, "sequencer"))
    , resultSaver(onThread<DataSaver>(saverThread, "saver"))
{
}

Workers::~Workers()
{
    stop([] {});
    // Those whose thread never ran stayed on the main thread: no thread's end
    // deletes them.
    const std::pair<QThread *, QObject *> workers[] = {
        {&batchThread, interpreter}, {&sequenceThread, sequence}, {&saverThread, resultSaver}};
    for (const auto &[thread, worker] : workers)
        if (!thread->isFinished())
            delete worker;
}

void Workers::stopSaver()
{
    // A blocking call returns only after the records queued before it.
    if (!saverThread.isRunning())
        return;
    QMetaObject::invokeMethod(
        resultSaver, [] {}, Qt::BlockingQueuedConnection);
    saverThread.quit();
    saverThread.wait();
}
