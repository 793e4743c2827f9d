#pragma once

#include <QObject>

#include <atomic>

// Paces the projection-by-projection CT1 calculation. It lives on a thread of its
// own (the CT1 panel's) and only relays: every calcOne(step) it emits reaches the
// panel through the GUI thread's event queue, so the panel computes one projection
// per event and the screen is repainted and user input handled between projections.
class CtProgress : public QObject
{
    Q_OBJECT

public:
    explicit CtProgress(QObject *parent = nullptr);

    // Number of steps of the next one-by-one run; set on the GUI thread before
    // startCalcOneByOne() is emitted, read on the relay thread.
    void setTotal(int steps) { total.store(steps); }
    int currentStep() const { return current.load(); }

signals:
    void calcAll();
    void calcOne(int pc);
    void finishedCalcOneByOne();

public slots:
    void startCalcAll();
    // Restarts the count at 0 here, on the relay thread, in order with the calcNext()
    // requests still queued from a run that was stopped.
    void startCalcOneByOne();
    void calcNext();

private:
    std::atomic<int> total{0};
    std::atomic<int> current{0};
};
