#include "RunCommands.h"

#include "batch/CommandTable.h"

#include <QAbstractButton>

namespace {

using Answer = CommandTable::Answer;
using Origin = CommandTable::Origin;

CommandTable::Handler selects(QAbstractButton *button,
                              const std::function<void(QAbstractButton *)> &chosen)
{
    return CommandTable::effect([button, chosen](const BatchCmd &c) {
        const bool checked = c.argFlag(0);
        // An exclusive pair keeps its checked button: unchecking it does nothing.
        if (!checked && button->isChecked())
            return;
        button->setChecked(checked);
        // Checking from code emits no click: the click's rule is applied here.
        if (checked)
            chosen(button);
    });
}

} // namespace

void registerRunCommands(CommandTable &table, const RunParts &parts)
{
    table.add("calc_ct1", "f", "reconstruct with CT1 (one slice, shown projection by projection)",
              selects(parts.ct1, parts.ctChosen));
    table.add("calc_ct2", "f", "reconstruct with the CT2 engines",
              selects(parts.ct2, parts.ctChosen));
    QAbstractButton *show = parts.showResults;
    table.add("calc_show_res", "f", "show results while computing",
              CommandTable::effect([show](const BatchCmd &c) { show->setChecked(c.argFlag(0)); }));
    // The interpreter waits only for the runs of its own lines: a configuration
    // line's run answers nobody.
    table.add("calc_exec", "", "start the run; the next line waits until it has ended",
              [start = parts.startRun](const BatchCmd &, Origin origin) {
                  start(origin == Origin::Script);
                  return origin == Origin::Script ? Answer::Later : Answer::Ok;
              });
}
