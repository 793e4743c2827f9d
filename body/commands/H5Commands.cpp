#include "H5Commands.h"

#include "batch/CommandTable.h"

#include <QDebug>

#include <memory>

void registerH5Commands(CommandTable &table, const H5Parts &parts)
{
    using Answer = CommandTable::Answer;
    using Origin = CommandTable::Origin;
    auto settings = parts.settings ? parts.settings : std::make_shared<H5Settings>();
    table.add("h5_paths", "[DATA FLAT DARK ANGLES [ENERGY]]",
              "name the datasets of an HDF5 scan (- for one the file lacks); none: recognise "
              "NXtomo or data exchange",
              [settings](const BatchCmd &c, Origin) {
                  H5Paths paths;
                  if (!H5Paths::fromArguments(c.argsFrom(0), &paths)) {
                      qDebug() << "h5_paths needs DATA FLAT DARK ANGLES [ENERGY]"
                               << c.argsFrom(0).join(QLatin1Char(' '));
                      return Answer::Ng;
                  }
                  settings->paths = paths;
                  return Answer::Ok;
              });
    table.add("h5_flat_reduce", "mean|median",
              "how h5_load reduces the flats and the darks to one image each (default mean)",
              [settings](const BatchCmd &c, Origin) {
                  const QString mode = c.argText(0).toLower();
                  if (mode != QLatin1String("mean") && mode != QLatin1String("median")) {
                      qDebug() << "h5_flat_reduce is mean or median" << c.argText(0);
                      return Answer::Ng;
                  }
                  settings->reduce = mode == QLatin1String("median") ? H5Scan::Reduce::Median
                                                                     : H5Scan::Reduce::Mean;
                  return Answer::Ok;
              });
    table.add("h5_load", "FILE",
              "load a scan from an HDF5 file: projections, flats as I0, darks as BG, angles",
              [settings, take = parts.take](const BatchCmd &c, Origin) {
                  const QString fileName = c.argText(0);
                  H5Scan scan;
                  if (!scan.load(fileName, settings->paths, settings->reduce))
                      return Answer::Ng;
                  if (!take || !take(scan, fileName))
                      return Answer::Ng;
                  return Answer::Ok;
              });
}
