#include "XafsBatch.h"

XafsBatch::XafsBatch(QObject *parent)
    : QObject(parent)
{
}

void XafsBatch::reportStage(const QString &msg)
{
    const qint64 now = timer.isValid() ? timer.elapsed() : 0;
    const qint64 d = now - lastElapsed;
    lastElapsed = now;
    emit stage(msg, d);
}

void XafsBatch::start()
{
    if (seqRunning) {
        finish();
        return;
    }
    seqRunning = true;
    timer.start();
    lastElapsed = 0;
    emit starting();
    reportStage(tr("Data Loading"));
    emit setFirstImageSet();
}

void XafsBatch::loadedDataSet()
{
    if (!seqRunning)
        return;
    reportStage(tr("Calculating"));
    emit execCalculation();
}

void XafsBatch::calcFinished()
{
    if (!seqRunning)
        return;
    reportStage(tr("Finished Calc."));
    emit setNextImageSet();
}

void XafsBatch::noMoreSets()
{
    if (seqRunning)
        finish();
}

void XafsBatch::finish()
{
    seqRunning = false;
    reportStage(tr("Finished"));
    emit finished();
}

void XafsBatch::stop(const QString &reason)
{
    if (!seqRunning)
        return;
    seqRunning = false;
    reportStage(reason);
    emit finished();
}
