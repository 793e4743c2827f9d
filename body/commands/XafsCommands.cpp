#include "XafsCommands.h"

#include "batch/CommandTable.h"
#include "disp/XafsPanel.h"
#include "xafs/XafsSpectrum.h"

#include <QDebug>
#include <QDir>

namespace {

using Answer = CommandTable::Answer;
using Origin = CommandTable::Origin;

// An energy of 0 (or no argument) gives the range back to the default.
double energyOrUnset(double e)
{
    return e != 0.0 ? e : XafsSettings::unset;
}

// xafs_spectrum X0 Z0 X1 Z1 SLICE FILE: a relative FILE is in the xafs folder.
bool writeSpectrum(const XafsParts &parts, const BatchCmd &c)
{
    const XafsLayout layout = parts.layout();
    const XafsSettings settings = parts.panel->settings();
    const QDir folder(XafsBuilder(layout, settings).outputFolder());
    const QString stackPath =
        folder.filePath(XafsBuilder::stackFileName(layout.name, "mu", c.argInt(4)));
    const QString file = c.argText(5);
    if (file.isEmpty()) {
        qDebug() << "XAFS: no spectrum file given" << c.line;
        return false;
    }
    XafsSpectrum stack;
    if (!stack.load(stackPath))
        return false;
    std::vector<double> mu;
    if (stack.meanOver(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3), &mu) < 1) {
        qDebug() << "XAFS: no pixel of the stack in the region" << c.line;
        return false;
    }
    return XafsSpectrum::writeCsv(folder.absoluteFilePath(file), stack.energies(), mu, settings);
}

// The settings as the panel reads them, with the one a word names changed.
XafsSettings changed(XafsSettings s, const QString &word, const BatchCmd &c)
{
    if (word == QLatin1String("pre_edge")) {
        s.preEdge1 = energyOrUnset(c.argDouble(0));
        s.preEdge2 = energyOrUnset(c.argDouble(1));
    } else if (word == QLatin1String("post_edge")) {
        s.postEdge1 = energyOrUnset(c.argDouble(0));
        s.postEdge2 = energyOrUnset(c.argDouble(1));
    } else if (word == QLatin1String("e0")) {
        s.fixedE0 = energyOrUnset(c.argDouble(0));
    } else if (word == QLatin1String("min_jump")) {
        s.minJump = c.argDouble(0);
    } else if (word == QLatin1String("register")) {
        s.registerEnergies = c.argFlag(0);
    }
    return s;
}

} // namespace

void registerXafsCommands(CommandTable &table, const XafsParts &parts)
{
    XafsPanel *panel = parts.panel;
    // Every xafs_ word, the build and the spectrum too, writes the settings back as
    // the panel reads them, so that its fields show the numbers a build uses.
    const QList<CommandTable::Word> settings = {
        {"pre_edge", "E1 E2", "pre-edge range in eV (0 0: the lowest third)"},
        {"post_edge", "E3 E4", "post-edge range in eV (0 0: the highest third)"},
        {"e0", "E", "fix E0 for every voxel (0: search it)"},
        {"min_jump", "v", "voxels whose edge jump is below v are NaN"},
        {"register", "f", "register each energy's slice before the stacks are built"}};
    table.addPrefix("xafs_", settings, [panel](const BatchCmd &c, const QString &word, Origin) {
        panel->setSettings(changed(panel->settings(), word, c));
        return Answer::Ok;
    });
    // A failed spectrum or build makes the script's line ng; it is not a failure of
    // the run's reconstructions (the exit status stays theirs).
    table.add("xafs_spectrum", "X0 Z0 X1 Z1 SLICE FILE",
              "mean and normalised mu(E) of a region of a built slice to a CSV file",
              [parts](const BatchCmd &c, Origin origin) {
                  const bool written = writeSpectrum(parts, c);
                  return (origin == Origin::Script && !written) ? Answer::Ng : Answer::Ok;
              });
    // A configuration line's build answers nobody, like its calc_exec.
    table.add("xafs_build", "",
              "build the energy stacks of every slice present at all energies; the script waits",
              [start = parts.startBuild](const BatchCmd &, Origin origin) {
                  start(origin == Origin::Script);
                  return origin == Origin::Script ? Answer::Later : Answer::Ok;
              });
}
