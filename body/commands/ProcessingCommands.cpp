#include "ProcessingCommands.h"

#include "batch/CommandTable.h"
#include "disp/ProcCtrl.h"

#include <QDebug>

namespace {

// Only a change of axis is applied: the panel reports every change it gets.
void setRotAxIsV(ProcCtrl *proc, bool vertical)
{
    if (proc->rotAxIsV() != vertical)
        proc->setRotAxIsV(vertical);
}

} // namespace

void registerProcessingCommands(CommandTable &table, const ProcessingParts &parts)
{
    using C = CommandTable;
    ProcCtrl *proc = parts.proc;
    table.add("ct_proc_slice", "n", "current slice",
              C::effect([proc](const BatchCmd &c) { proc->setSliceNo(c.argInt(0)); }));
    table.add("ct_auto_exec", "f", "\"Auto Exec\": a run covers the slice range",
              C::effect([proc](const BatchCmd &c) { proc->setAutoExec(c.argFlag(0)); }));
    table.add("ct_slice_from", "n", "first slice of the range",
              C::effect([proc](const BatchCmd &c) { proc->setSliceFrom(c.argInt(0)); }));
    table.add("ct_slice_to", "n", "last slice of the range",
              C::effect([proc](const BatchCmd &c) { proc->setSliceTo(c.argInt(0)); }));
    table.add("ct_slice_step", "n", "step of the slice range",
              C::effect([proc](const BatchCmd &c) { proc->setSliceStep(c.argInt(0)); }));
    table.add("ct_threads", "n", "number of engines",
              C::effect([proc, asked = parts.enginesAsked](const BatchCmd &c) {
                  proc->setThreads(asked(c.argInt(0)));
              }));
    table.add("ct_cor", "v", "centre of rotation", C::effect([proc](const BatchCmd &c) {
                  qDebug() << "cor" << c.argDouble(0);
                  proc->setCor(c.argDouble(0));
              }));
    table.add("ct_rot_ax_is_h", "f", "rotation axis horizontal in the images",
              C::effect([proc](const BatchCmd &c) { setRotAxIsV(proc, !c.argFlag(0)); }));
    table.add("ct_rot_ax_is_v", "f", "rotation axis vertical in the images",
              C::effect([proc](const BatchCmd &c) { setRotAxIsV(proc, c.argFlag(0)); }));
    table.add("ct_auto_gen_sinogram", "f", "\"Auto Update Sinogram\"",
              C::effect([proc](const BatchCmd &c) { proc->setAutoUpdate(c.argFlag(0)); }));
    const auto region = [](const ProcessingParts::Region &set) {
        return C::effect([set](const BatchCmd &c) {
            set(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3));
        });
    };
    table.add("ct_set_disp_region", "X0 Z0 X1 Z1", "display region of every result panel",
              region(parts.setDisplayRegion));
    table.add("ct_set_calc_region", "X0 Z0 X1 Z1",
              "calculation region of every result panel: what is computed and saved",
              region(parts.setCalcRegion));
}
