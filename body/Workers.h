#pragma once

#include <QThread>

class Batch;
class DataSaver;
class XafsBatch;

// The workers that live on threads of their own: the script interpreter, the
// sequencer of sequential runs and the saver. Each object is deleted on its
// thread when the thread ends; stop() ends them in the order shut-down needs.
class Workers
{
public:
    Workers();
    ~Workers();

    Batch *batch() const { return interpreter; }
    XafsBatch *sequencer() const { return sequence; }
    DataSaver *saver() const { return resultSaver; }

    // The interpreter and the sequencer end at once; then `beforeSaver` runs
    // (the engines' threads end there); the saver writes every record sent so far
    // before its thread ends.
    template<class F>
    void stop(F beforeSaver)
    {
        for (QThread *t : {&batchThread, &sequenceThread}) {
            t->quit();
            t->wait();
        }
        beforeSaver();
        stopSaver();
    }

private:
    void stopSaver();

    QThread batchThread;
    QThread sequenceThread;
    QThread saverThread;
    Batch *interpreter;
    XafsBatch *sequence;
    DataSaver *resultSaver;
};
