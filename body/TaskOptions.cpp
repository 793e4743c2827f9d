#include "TaskOptions.h"

#include "app/CfgStore.h"
#include "body/SetRunner.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "run/HeadlessSession.h"
#include "select/SelectDataDir.h"
#include "ui_Body.h"

#include <QDebug>
#include <QThread>

#include <algorithm>

TaskOptions::TaskOptions(Ui::Body *form, const ImgDatas *stack, HeadlessSession *session,
                         int engineCount, QObject *parent)
    : QObject(parent)
    , ui(form)
    , stack(stack)
    , session(session)
    , engineCount(engineCount)
{
}

void TaskOptions::apply()
{
    runOptions = RunOptions::fromStore(CfgStore::global());
    if (runOptions.onlySet >= 0) {
        ui->SelDDir->setOnlySet(runOptions.onlySet);
        connect(ui->SelDDir, &SelectDataDir::onlySetMissing, this, &TaskOptions::onlySetMissing);
    }
    // Unless told otherwise, as many engines as the machine has cores: more only take
    // turns on them and hold more memory.
    if (runOptions.threads > 0)
        ui->procCtrl->setThreads(std::min(runOptions.threads, engineCount));
    else
        ui->procCtrl->setThreads(std::clamp(QThread::idealThreadCount(), 1, engineCount));
}

int TaskOptions::enginesAsked(int scriptValue) const
{
    if (runOptions.threads <= 0)
        return scriptValue;
    const int engines = std::min(runOptions.threads, engineCount);
    if (engines != runOptions.threads)
        qDebug() << "-threads is more than there are engines, using" << engines;
    if (scriptValue != engines)
        qDebug() << "Engines" << engines << "as -threads says, not" << scriptValue;
    return engines;
}

void TaskOptions::onlySetMissing(int index, int count, const QString &dir)
{
    const QString sets = count > 0
                             ? QStringLiteral("%1 sets, numbered 0 to %2").arg(count).arg(count - 1)
                             : QStringLiteral("no sets");
    qDebug().noquote()
        << QStringLiteral("-set %1: no such set, the data directory has %2 :").arg(index).arg(sets)
        << dir;
    setMissing = true;
    session->setExitCode(2);
}

void TaskOptions::checkOnlySetLoaded()
{
    // A task that computes one set has nothing to give when that set's images
    // can not be read; the submission must see it as failed and offer it again.
    if (stack->count() > 0)
        return;
    qDebug() << "-set" << runOptions.onlySet << ": no projection image of the set could be read";
    session->setExitCode(2);
}

void TaskOptions::printSetList()
{
    if (setListPrinted || !setRunner)
        return;
    setListPrinted = true;
    setRunner->printSetList();
}
