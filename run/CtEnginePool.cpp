#include "CtEnginePool.h"

#include "ct/DataSaver.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "run/RunRequest.h"
#include "util/ThreadStart.h"

#include <QThread>

CtEnginePool::CtEnginePool(int count, const ImgDatas *stack, DataSaver *saver, QObject *parent)
    : EnginePool(parent)
{
    const auto ringCorrections = std::make_shared<RingCorrections>();
    for (int k = 0; k < count; ++k) {
        // An engine whose thread the system refuses is left out: the run goes on
        // with the others (and is refused with a reason when there is none).
        auto *thread = new QThread(this);
        if (!ThreadStart::start(*thread, QStringLiteral("engine %1").arg(k + 1))) {
            delete thread;
            continue;
        }
        const int i = static_cast<int>(engines.size());
        auto *engine = new CtCalc2;
        engine->setStack(stack);
        engine->setRingCorrections(ringCorrections);
        engine->moveToThread(thread);
        connect(thread, &QThread::finished, engine, &QObject::deleteLater);
        connect(
            engine, &CtCalc2::sliceFinished, this,
            [this, i](int slice, bool computed, bool handedToSaver) {
                emit sliceFinished(i, slice, computed, handedToSaver);
            },
            Qt::QueuedConnection);
        if (saver) {
            connect(engine, &CtCalc2::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard,
                    Qt::QueuedConnection);
            connect(engine, &CtCalc2::saveImgWDiscard, saver, &DataSaver::saveImgWDiscard,
                    Qt::QueuedConnection);
        }
        engines << engine;
        threads << thread;
    }
}

CtEnginePool::~CtEnginePool()
{
    stopThreads();
}

void CtEnginePool::stopThreads()
{
    for (QThread *t : qAsConst(threads)) {
        t->quit();
        t->wait();
    }
}

bool CtEnginePool::isBusy(int engine) const
{
    return engines.at(engine)->isBusy();
}

void CtEnginePool::setupRun(const RunRequest &r)
{
    const int n = r.fftLength();
    for (int i = 0; i < engines.size(); ++i) {
        CtCalc2 *engine = engines.at(i);
        engine->setupFFT(n, r.projections, regionOf ? regionOf(i) : CtCalc2::Region(),
                         scaleOf ? scaleOf(i) : CtCalc2::Scale());
        engine->setSaveImage(r.image.on, r.image.path, r.image.name, r.image.tag);
        engine->setSaveData(r.data.on, r.data.path, r.data.name, r.data.tag);
        engine->setColorScale(r.fixScale, r.colorMin, r.colorMax);
        engine->setRingRemoval(r.params.ringRemoval);
        engine->setRunParams(r.params);
        engine->setSaveDataFormat(r.saveDat, r.saveTiff, r.saveH5);
    }
}

int CtEnginePool::slicesPerPass(const RunRequest &r) const
{
    return CtCalc2::slicesPerPass(r.fftLength(), r.projections);
}

void CtEnginePool::setSliceGroup(int engine, int slices)
{
    engines.at(engine)->setSliceGroup(slices);
}

void CtEnginePool::request(int engine, bool rotAxIsV, double cor, int slice, bool show)
{
    CtCalc2 *e = engines.at(engine);
    QMetaObject::invokeMethod(
        e, [e, rotAxIsV, cor, slice, show] { e->startCt(e, rotAxIsV, cor, slice, show); },
        Qt::QueuedConnection);
}
