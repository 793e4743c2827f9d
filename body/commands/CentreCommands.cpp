#include "CentreCommands.h"

#include "batch/CommandTable.h"
#include "disp/ProcCtrl.h"

#include <QDebug>

#include <limits>

namespace {

using Answer = CommandTable::Answer;
using Origin = CommandTable::Origin;

// A failure of a configuration line counts, but answers no script.
Answer failed(const CentreParts &parts, const QString &word, Origin origin)
{
    parts.countFailure(word);
    return origin == Origin::Script ? Answer::Ng : Answer::Ok;
}

} // namespace

void registerCentreCommands(CommandTable &table, const CentreParts &parts)
{
    table.add("ct_cor_auto", "[FROM TO]",
              "estimate the centre of rotation at the current slice (within FROM..TO) and set it",
              [parts](const BatchCmd &c, Origin origin) {
                  const double none = std::numeric_limits<double>::quiet_NaN();
                  bool found = false;
                  if (c.args.isEmpty())
                      found = parts.findCor(none, none);
                  else if (c.args.size() >= 2)
                      found = parts.findCor(c.argDouble(0), c.argDouble(1));
                  else
                      qDebug() << "CoR not found : FROM without TO" << c.line;
                  return found ? Answer::Ok : failed(parts, QStringLiteral("ct_cor_auto"), origin);
              });
    table.add("ct_cor_scan", "FROM TO STEP",
              "reconstruct the current slice at each centre from FROM to TO and save each",
              [parts](const BatchCmd &c, Origin origin) {
                  if (parts.scanCor(c.argDouble(0), c.argDouble(1), c.argDouble(2)))
                      return Answer::Ok;
                  return failed(parts, QStringLiteral("ct_cor_scan"), origin);
              });
    ProcCtrl *proc = parts.proc;
    table.add(
        "ct_ring_removal", "n",
        "remove stripes from each sinogram, n the smoothing window (0: off)",
        CommandTable::effect([proc](const BatchCmd &c) { proc->setRingRemoval(c.argInt(0)); }));
    table.add("seq_exec_cor_auto", "m",
              "estimate the centre of rotation after a set's load: 1 each set, 2 the first set "
              "for all, 0 never",
              CommandTable::effect([set = parts.setCorAutoOfSets](const BatchCmd &c) {
                  // As with a flag, a value other than the modes is off.
                  const int mode = c.argInt(0);
                  set(mode == 1 || mode == 2 ? mode : 0);
              }));
}
