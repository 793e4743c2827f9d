// The command-line options that make a run one task of a larger one: -set K
// computes one set of a sequential run, -threads N uses the CPUs a task was
// given, -sets lists the sets a script selects without computing anything.

#include "Body.h"

#include "app/CfgStore.h"
#include "batch/Batch.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgDatas.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"

#include <QDebug>
#include <QTextStream>
#include <cmath>

void Body::applyRunOptions()
{
    runOptions = RunOptions::fromStore(CfgStore::global());
    if (runOptions.onlySet >= 0) {
        ui->SelDDir->setOnlySet(runOptions.onlySet);
        connect(ui->SelDDir, &SelectDataDir::onlySetMissing, this, &Body::onlySetMissing);
        connect(this, &Body::finishedLoadingCTFiles, this, &Body::checkOnlySetLoaded);
    }
    if (runOptions.threads > 0)
        ui->procCtrl->setThreads(std::min(runOptions.threads, static_cast<int>(engineCount)));
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
    exitCode = 2;
}

void Body::checkOnlySetLoaded()
{
    // A task that computes one set has nothing to give when that set's images
    // can not be read; the submission must see it as failed and offer it again.
    if (imgDatas->count() > 0)
        return;
    qDebug() << "-set" << runOptions.onlySet << ": no projection image of the set could be read";
    exitCode = 2;
}

bool Body::dispatchRunOptions(const BatchCmd &c)
{
    const auto stopScript = [this] {
        QMetaObject::invokeMethod(batch, &Batch::batchStop, Qt::QueuedConnection);
    };
    if (onlySetFailed) {
        // Whatever follows would compute the wrong set or none.
        qDebug() << "Not run, -set named a missing set :" << c.cmd;
        stopScript();
        return true;
    }
    if (runOptions.listSets) {
        if (c.isCmd(QStringLiteral("seq_exec_set"))) {
            // The sets are chosen by now: list them and end before anything loads.
            printSetList();
            stopScript();
            return true;
        }
        if (c.isCmd(QStringLiteral("calc_exec"))) {
            qDebug() << "Not computed, -sets lists the sets only :" << c.cmd;
            return true;
        }
    }
    if (runOptions.onlySet >= 0 &&
        (c.isCmd(QStringLiteral("xafs_build")) || c.isCmd(QStringLiteral("xafs_spectrum")))) {
        // One energy makes no spectrum; the task after all sets builds them.
        qDebug() << "Left out with -set, spectra need every set :" << c.cmd;
        return true;
    }
    return false;
}

int Body::nearestI0Index(double energy) const
{
    // The first of equally near energies wins.
    int k = 0;
    for (int i = 1; i < i0Energies.size(); ++i)
        if (std::abs(i0Energies.at(i) - energy) < std::abs(i0Energies.at(k) - energy))
            k = i;
    return k;
}

void Body::printSetList()
{
    if (setListPrinted)
        return;
    setListPrinted = true;
    // Standard output, not the debug channel: a submission script reads it.
    QTextStream out(stdout);
    out << "# set\ttag\tfiles\ti0\n";
    for (const SelectDataDir::SetSummary &set : ui->SelDDir->summaries()) {
        const QString i0 = i0Energies.isEmpty()
                               ? QStringLiteral("-")
                               : ui->SelI0Files->fileName(nearestI0Index(set.energy));
        // The tag the set's results are saved under.
        bool shared = false;
        const QString saveTag = saveTagOf(set.tag, set.sample, &shared);
        const QString tag = saveTag.isEmpty() ? QStringLiteral("-") : saveTag;
        out << set.number << '\t' << tag << '\t' << set.fileCount << '\t' << i0 << '\n';
    }
    out.flush();
}
