#include "RunOptionCommands.h"

#include "batch/CommandTable.h"
#include "config/RunOptions.h"

#include <QDebug>

namespace {

using Answer = CommandTable::Answer;
using Origin = CommandTable::Origin;
using Settled = std::optional<Answer>;

} // namespace

void registerRunOptionGuards(CommandTable &table, const RunOptionParts &parts)
{
    table.addGuard([parts](const BatchCmd &c, Origin) -> Settled {
        if (!parts.onlySetMissing())
            return std::nullopt;
        // Whatever follows would compute the wrong set or none.
        qDebug() << "Not run, -set named a missing set :" << c.cmd;
        parts.stopScript();
        return Answer::Ok;
    });
    table.addGuard([parts](const BatchCmd &c, Origin) -> Settled {
        if (!parts.options->listSets)
            return std::nullopt;
        if (c.isCmd(QStringLiteral("seq_exec_set"))) {
            // The sets are chosen by now: list them and end before anything loads.
            parts.printSetList();
            parts.stopScript();
            return Answer::Ok;
        }
        if (c.isCmd(QStringLiteral("calc_exec"))) {
            qDebug() << "Not computed, -sets lists the sets only :" << c.cmd;
            return Answer::Ok;
        }
        return std::nullopt;
    });
    table.addGuard([parts](const BatchCmd &c, Origin) -> Settled {
        if (parts.options->onlySet < 0 ||
            !(c.isCmd(QStringLiteral("xafs_build")) || c.isCmd(QStringLiteral("xafs_spectrum"))))
            return std::nullopt;
        // One energy makes no spectrum; the task after all sets builds them.
        qDebug() << "Left out with -set, spectra need every set :" << c.cmd;
        return Answer::Ok;
    });
}
