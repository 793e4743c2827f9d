#include "Workers.h"

#include "batch/Batch.h"
#include "body/XafsBatch.h"
#include "ct/DataSaver.h"

namespace {

template<class T>
T *onThread(QThread &thread)
{
    auto *worker = new T;
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start(QThread::InheritPriority);
    return worker;
}

} // namespace

Workers::Workers()
    : interpreter(onThread<Batch>(batchThread))
    , sequence(onThread<XafsBatch>(sequenceThread))
    , resultSaver(onThread<DataSaver>(saverThread))
{
}

Workers::~Workers()
{
    stop([] {});
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
