#pragma once

#include <QObject>

struct RunRequest;

// The reconstruction engines a run hands its slices to. A request goes to one
// engine; each engine answers every request it took with sliceFinished(), in
// the order it took them.
class EnginePool : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int count() const = 0;
    // The engine computes a slice now (requests waiting in its queue do not count).
    virtual bool isBusy(int engine) const = 0;
    // At run start: the run's settings to every engine, ahead of its requests.
    virtual void setupRun(const RunRequest &request) = 0;
    // How many slices one engine takes together for the run's sizes.
    virtual int slicesPerPass(const RunRequest &request) const = 0;
    // The next `slices` requests of this engine are computed in one pass.
    virtual void setSliceGroup(int engine, int slices) = 0;
    virtual void request(int engine, bool rotAxIsV, double cor, int slice, bool show) = 0;

signals:
    void sliceFinished(int engine, int slice, bool computed, bool handedToSaver);
};
