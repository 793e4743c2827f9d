#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

// Keeps the order of the steps of a sequential CT-XAFS run (load a set,
// reconstruct it, go on to the next) and reports each stage with the
// milliseconds it took. The main window does the work of every step.
class XafsBatch : public QObject
{
    Q_OBJECT
public:
    explicit XafsBatch(QObject *parent = nullptr);

    bool isRunning() const { return seqRunning; }
    // Reports a stage on this run's clock. The main window calls it from the GUI
    // thread for its own stages; the reports of the two threads alternate along
    // the chain of a run and never overlap.
    void reportStage(const QString &msg);

signals:
    void stage(QString msg, qint64 dEt);
    void starting();
    void setFirstImageSet();
    void setNextImageSet();
    void execCalculation();
    void finished();

public slots:
    void start();
    void loadedDataSet();
    void calcFinished();
    void noMoreSets();
    void finish();

private:
    bool seqRunning = false;
    QElapsedTimer timer;
    qint64 lastElapsed = 0;
};
