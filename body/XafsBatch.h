#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>

// Keeps the order of the steps of a sequential CT-XAFS run (load a set,
// reconstruct it, go on to the next) and reports each stage with the
// milliseconds it took. The main window does the work of every step.
class XafsBatch : public QObject
{
    Q_OBJECT
public:
    explicit XafsBatch(QObject *parent = nullptr);

    // Read from any thread.
    bool isRunning() const { return seqRunning.load(); }

signals:
    void stage(QString msg, qint64 dEt);
    void starting();
    void setFirstImageSet();
    void setNextImageSet();
    void execCalculation();
    void finished();

public slots:
    // Reports a stage on this run's clock. The clock and the last reading belong
    // to the sequencer's thread: the main window reaches this slot through a
    // queued call for its own stages.
    void reportStage(const QString &msg);
    void start();
    void loadedDataSet();
    void calcFinished();
    void noMoreSets();
    void finish();
    // Ends a running sequence early; the stage report gives the reason.
    void stop(const QString &reason);

private:
    std::atomic<bool> seqRunning{false};
    QElapsedTimer timer;
    qint64 lastElapsed = 0;
};
