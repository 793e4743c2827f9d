#include "Body.h"

#include "app/CfgStore.h"
#include "batch/Batch.h"
#include "ui_Body.h"

#include <QCloseEvent>
#include <QDebug>
#include <QTimer>

Body::Body(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::Body)
{
    ui->setupUi(this);
    setupBatch();
    executeConfigLines();
}

Body::~Body()
{
    stopThreads();
    delete ui;
}

void Body::setupBatch()
{
    BatchCmd::registerMetaType();
    batch = new Batch;
    batch->moveToThread(&batchThread);
    connect(&batchThread, &QThread::finished, batch, &QObject::deleteLater);
    connect(this, &Body::callBatchLoad, batch, &Batch::batchLoad, Qt::QueuedConnection);
    connect(this, &Body::callBatchExec, batch, &Batch::batchExec, Qt::QueuedConnection);
    connect(batch, &Batch::batchExCmd, this, &Body::batchExCmd, Qt::QueuedConnection);
    connect(this, &Body::callBatchCheckEnd, batch, &Batch::batchCheckEnd, Qt::QueuedConnection);
    connect(this, &Body::batchCalcStart, this, &Body::startCalcCt);
    connect(this, &Body::batchCalcFinished, this, &Body::callBatchCheckEnd);
    connect(batch, &Batch::batchLoaded, this, &Body::batchLoadedScript, Qt::QueuedConnection);
    connect(batch, &Batch::batchEnded, this, &Body::batchEnded, Qt::QueuedConnection);
    batchThread.start(QThread::InheritPriority);
}

void Body::executeConfigLines()
{
    const QStringList lines = CfgStore::global().lines();
    for (const QString &line : lines)
        dispatch(BatchCmd(line));
}

void Body::batchLoad(QString fname)
{
    emit callBatchLoad(fname);
}

void Body::batchExec()
{
    emit callBatchExec();
}

void Body::batchExCmd(BatchCmd cmd)
{
    if (dispatch(cmd))
        emit callBatchCheckEnd();
}

bool Body::dispatch(const BatchCmd &cmd)
{
    qDebug() << "body-cmd" << cmd.cmd;
    return true;
}

void Body::startCalcCt()
{
}

void Body::batchLoadedScript(bool opened)
{
    if (!opened)
        exitCode = 1;
}

void Body::setHeadless(bool waitForScript)
{
    headless = true;
    waitingForScript = waitForScript;
    // Queued, so that the batch load and start requested by the entry point are
    // handled first.
    QTimer::singleShot(0, this, &Body::finishIfHeadlessDone);
}

void Body::batchEnded()
{
    scriptEnded = true;
    finishIfHeadlessDone();
}

bool Body::isIdle() const
{
    return true;
}

void Body::finishIfHeadlessDone()
{
    if (!headless || finished)
        return;
    if (waitingForScript && !scriptEnded)
        return;
    if (!isIdle())
        return;
    finish();
}

void Body::finish()
{
    if (finished)
        return;
    finished = true;
    emit finishing();
}

void Body::closeEvent(QCloseEvent *event)
{
    finish();
    event->accept();
}

void Body::stopThreads()
{
    if (batchThread.isRunning()) {
        batchThread.quit();
        batchThread.wait();
    }
}
