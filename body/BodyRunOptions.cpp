// The command-line options that make a run one task of a larger one: -set K
// computes one set of a sequential run, -threads N uses the CPUs a task was
// given, -sets lists the sets a script selects without computing anything.

#include "Body.h"

#include "app/CfgStore.h"
#include "batch/Batch.h"
#include "body/SetRunner.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "run/HeadlessSession.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"

#include <QDebug>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cmath>

void Body::applyRunOptions()
{
    runOptions = RunOptions::fromStore(CfgStore::global());
    if (runOptions.onlySet >= 0) {
        ui->SelDDir->setOnlySet(runOptions.onlySet);
        connect(ui->SelDDir, &SelectDataDir::onlySetMissing, this, &Body::onlySetMissing);
        connect(this, &Body::finishedLoadingCTFiles, this, &Body::checkOnlySetLoaded);
    }
    // Unless told otherwise, as many engines as the machine has cores: more only take
    // turns on them and hold more memory.
    if (runOptions.threads > 0)
        ui->procCtrl->setThreads(std::min(runOptions.threads, static_cast<int>(engineCount)));
    else
        ui->procCtrl->setThreads(std::clamp(QThread::idealThreadCount(), 1, engineCount));
}

int Body::enginesAsked(int scriptValue) const
{
    if (runOptions.threads <= 0)
        return scriptValue;
    const int engines = std::min(runOptions.threads, static_cast<int>(engineCount));
    if (engines != runOptions.threads)
        qDebug() << "-threads is more than there are engines, using" << engines;
    if (scriptValue != engines)
        qDebug() << "Engines" << engines << "as -threads says, not" << scriptValue;
    return engines;
}

void Body::onlySetMissing(int index, int count, QString dir)
{
    const QString sets = count > 0
                             ? QStringLiteral("%1 sets, numbered 0 to %2").arg(count).arg(count - 1)
                             : QStringLiteral("no sets");
    qDebug().noquote()
        << QStringLiteral("-set %1: no such set, the data directory has %2 :").arg(index).arg(sets)
        << dir;
    onlySetFailed = true;
    session->setExitCode(2);
}

void Body::checkOnlySetLoaded()
{
    // A task that computes one set has nothing to give when that set's images
    // can not be read; the submission must see it as failed and offer it again.
    if (imgDatas->count() > 0)
        return;
    qDebug() << "-set" << runOptions.onlySet << ": no projection image of the set could be read";
    session->setExitCode(2);
}

void Body::printSetList()
{
    if (setListPrinted)
        return;
    setListPrinted = true;
    setRunner->printSetList();
}
