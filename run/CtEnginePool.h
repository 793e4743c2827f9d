#pragma once

#include "ct/CtCalc2.h"
#include "run/EnginePool.h"

#include <QList>
#include <functional>

class DataSaver;
class ImgDatas;
class QThread;

// The CT2 engines, each on a thread of its own, reading one stack and handing
// their results to one saver.
class CtEnginePool : public EnginePool
{
    Q_OBJECT
public:
    CtEnginePool(int engines, const ImgDatas *stack, DataSaver *saver, QObject *parent = nullptr);
    ~CtEnginePool() override;

    // Where a run's calculation region and colour scale come from for each
    // engine (the panel it is shown on); unset: the whole slice, an automatic scale.
    std::function<CtCalc2::Region(int engine)> regionOf;
    std::function<CtCalc2::Scale(int engine)> scaleOf;

    CtCalc2 *engine(int i) const { return engines.at(i); }
    int count() const override { return static_cast<int>(engines.size()); }
    bool isBusy(int engine) const override;
    void setupRun(const RunRequest &request) override;
    int slicesPerPass(const RunRequest &request) const override;
    void setSliceGroup(int engine, int slices) override;
    void request(int engine, bool rotAxIsV, double cor, int slice, bool show) override;
    // Each engine finishes the slice it computes, then its thread ends.
    void stopThreads();

private:
    QList<CtCalc2 *> engines;
    QList<QThread *> threads;
};
