#include "GeometryCommands.h"

#include "batch/CommandTable.h"
#include "disp/ProcCtrl.h"

#include <QDebug>

void registerGeometryCommands(CommandTable &table, ProcCtrl *proc)
{
    using Answer = CommandTable::Answer;
    // Any other range leaves the one set and answers ng.
    table.add("ct_scan_range", "180|360",
              "the angles the projections cover: 180 (default) or 360 degrees; 360 with the "
              "centre near an edge of the detector reconstructs the field of a half acquisition",
              [proc](const BatchCmd &c, CommandTable::Origin) {
                  bool ok = false;
                  const int degrees = c.argText(0).toInt(&ok);
                  if (!ok) {
                      qDebug() << "Scan range must be 180 or 360 degrees" << c.argText(0);
                      return Answer::Ng;
                  }
                  return proc && proc->setScanRange(degrees) ? Answer::Ok : Answer::Ng;
              });
    table.add("ct_angles_file", "[FILE]",
              "one angle in degrees per projection, read at run start; no FILE: the "
              "projections spread evenly over the scan range",
              CommandTable::effect([proc](const BatchCmd &c) {
                  if (proc)
                      proc->setAnglesFile(c.args.isEmpty() ? QString() : c.argText(0));
              }));
}
