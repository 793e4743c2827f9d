#include "FilterCommands.h"

#include "batch/CommandTable.h"
#include "disp/ProcCtrl.h"

#include <QComboBox>
#include <QDebug>

namespace {

using Answer = CommandTable::Answer;

bool setDataFormat(QComboBox *box, const QString &format)
{
    const int index = box ? box->findText(format) : -1;
    if (index < 0) {
        qDebug() << "Unknown data format" << format;
        return false;
    }
    box->setCurrentIndex(index);
    return true;
}

} // namespace

void registerFilterCommands(CommandTable &table, const FilterParts &parts)
{
    ProcCtrl *proc = parts.proc;
    QComboBox *formats = parts.dataFormat;
    table.add(
        "ct_filter_padded", "f",
        "pad each sinogram row to a power of two >= 2N and filter with the band-limited "
        "ramp",
        CommandTable::effect([proc](const BatchCmd &c) { proc->setFilterPadded(c.argFlag(0)); }));
    // An unknown name leaves the window as it was and answers ng.
    table.add("ct_filter", "NAME", "window on the ramp: ramp, shepp-logan, cosine, hamming or hann",
              [proc](const BatchCmd &c, CommandTable::Origin) {
                  return proc->setFilterName(c.argText(0)) ? Answer::Ok : Answer::Ng;
              });
    table.add("ct_precision", "single|double",
              "arithmetic of filtering and back projection: double (default, exact as ever) or "
              "single (float32, about twice as fast)",
              [proc](const BatchCmd &c, CommandTable::Origin) {
                  return proc->setPrecisionName(c.argText(0)) ? Answer::Ok : Answer::Ng;
              });
    table.add("auto_save_data_format", "dat|tiff|both|h5",
              "what a saved slice becomes: .dat text, float TIFF, both, or a frame of the "
              "set's HDF5 file <name>-<tag>.h5",
              [formats](const BatchCmd &c, CommandTable::Origin) {
                  return setDataFormat(formats, c.argText(0)) ? Answer::Ok : Answer::Ng;
              });
}
