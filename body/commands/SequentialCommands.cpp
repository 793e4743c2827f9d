#include "SequentialCommands.h"

#include "batch/CommandTable.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"

#include <QAbstractButton>
#include <QDebug>

#include <cmath>

void registerSequentialCommands(CommandTable &table, const SequentialParts &parts)
{
    using C = CommandTable;
    QAbstractButton *show = parts.showControls;
    SelectDataDir *dirs = parts.dataDirs;
    SelectDataFiles *i0Files = parts.i0Files;
    table.add("seq_exec_show", "f", "show the CT-XAFS sequential controls",
              C::effect([show](const BatchCmd &c) { show->setChecked(c.argFlag(0)); }));
    table.add("seq_exec_dir", "DIR", "data directory of a sequential run",
              C::effect([dirs](const BatchCmd &c) { dirs->loadDir(c.argText(0)); }));
    table.add("seq_exec_file_pattern", "s", "file pattern of the sequential run's data directory",
              C::effect([dirs](const BatchCmd &c) { dirs->setPattern(c.argText(0)); }));
    // The last set has no next one: ng ends a script's loop over the sets.
    table.add("seq_exec_next", "", "step to the next set (ng at the last set)",
              [dirs](const BatchCmd &, C::Origin) {
                  return dirs->advance() ? C::Answer::Ok : C::Answer::Ng;
              });
    table.add("seq_exec_set", "", "load the current set, with its I0 by nearest energy",
              C::effect([dirs](const BatchCmd &) { dirs->set(); }));
    table.add("seq_exec_i0_max_gap", "E",
              "a set whose nearest I0 lies farther than E eV is not loaded (0: no limit)",
              [set = parts.setMaxI0Gap](const BatchCmd &c, C::Origin origin) {
                  bool read = false;
                  const double gap = c.argText(0).toDouble(&read);
                  // A negative or unreadable limit is refused, not taken as none.
                  if (!read || !std::isfinite(gap) || gap < 0.0) {
                      qDebug() << "seq_exec_i0_max_gap : not a number of eV at or above 0"
                               << c.line;
                      return origin == C::Origin::Script ? C::Answer::Ng : C::Answer::Ok;
                  }
                  set(gap);
                  return C::Answer::Ok;
              });
    table.add(
        "seq_exec_select_i0", "DIR PATTERN...", "I0 files chosen from by nearest energy",
        C::effect([i0Files](const BatchCmd &c) { i0Files->loadDir(c.argText(0), c.argsFrom(1)); }));
}
