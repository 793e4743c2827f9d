#pragma once

#include "ct/CtCalc2.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "ct/SgmGeom.h"
#include "imgdata/ImgDatas.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <atomic>

// One reconstruction engine on a thread of its own, as the engine pool runs it;
// what reaches the test's thread is recorded. Shared by the engine's own test and
// the test of the engine on its result panel.
namespace EngineRig {

constexpr int waitMs = 60000;

struct Result
{
    int slice = -1;
    QVector<double> values;
    int width = 0;
    QImage picture;
};

struct Saved
{
    QString no;
    QString path;
    QByteArray data;
    bool writeDat = true;
    QByteArray tiff;
};

inline int fftLength(int width, double cor)
{
    return setGeom(true, width, cor).width / 2 * 2;
}

class Rig
{
public:
    explicit Rig(const ImgDatas *stack)
        : engine(new CtCalc2)
    {
        engine->setStack(stack);
        engine->moveToThread(&thread);
        QObject::connect(engine, &CtCalc2::startedCt, &here,
                         [this](int slice) { started << slice; });
        QObject::connect(
            engine, &CtCalc2::resultReady, &here,
            [this](QImage picture, QVector<double> values, int width, int) {
                results << Result{started.isEmpty() ? -1 : started.last(), values, width, picture};
            });
        QObject::connect(engine, &CtCalc2::calcFinished, &here, [this] { ++finished; });
        QObject::connect(engine, &CtCalc2::saveDataWDiscard, &here, [this](SavingData *record) {
            if (record->failure.isEmpty())
                savedData << Saved{record->no, record->path, record->data, record->writeDat,
                                   record->tiff};
            else
                failures << record->failure;
            delete record;
        });
        QObject::connect(engine, &CtCalc2::saveImgWDiscard, &here, [this](SavingImg *record) {
            savedImages << record->no;
            delete record;
        });
        thread.start();
    }
    virtual ~Rig()
    {
        stop();
        delete engine;
    }
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    void stop()
    {
        thread.quit();
        thread.wait();
    }
    // A request queued to the engine's thread, as the pool hands out a slice.
    void request(double cor, int slice)
    {
        CtCalc2 *e = engine;
        QMetaObject::invokeMethod(
            e, [e, cor, slice] { e->startCt(e, true, cor, slice, true); }, Qt::QueuedConnection);
    }
    // A run's set-up with a calculation region (never set by default) and an
    // automatic colour scale.
    void setupFFT(int n, int count, const CtCalc2::Region &region = {})
    {
        engine->setupFFT(n, count, region, CtCalc2::Scale());
    }

    QObject here;
    CtCalc2 *engine;
    QThread thread;
    QList<int> started;
    QList<Result> results;
    QList<Saved> savedData;
    QStringList failures;
    QStringList savedImages;
    int finished = 0;
};

// Holds the engine inside its next slice, just after it has become busy, until
// release(), so that the test's thread can act while a slice is running.
class SliceGate
{
public:
    explicit SliceGate(CtCalc2 *engine)
    {
        QObject::connect(
            engine, &CtCalc2::startedCt, engine,
            [this](int) {
                if (!armed.exchange(false))
                    return;
                inside.release();
                go.acquire();
            },
            Qt::DirectConnection);
    }
    void arm() { armed = true; }
    bool waitInside() { return inside.tryAcquire(1, waitMs); }
    void release() { go.release(); }

private:
    std::atomic<bool> armed{false};
    QSemaphore inside;
    QSemaphore go;
};

} // namespace EngineRig
