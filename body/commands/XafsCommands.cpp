#include "XafsCommands.h"

#include "batch/CommandTable.h"
#include "disp/XafsPanel.h"
#include "util/Numbers.h"
#include "xafs/XafsSpectrum.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <new>
#include <system_error>

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
    if (!QFileInfo::exists(stackPath)) {
        qDebug().noquote() << QStringLiteral("XAFS: slice %1 is not built (no %2; xafs_build "
                                             "makes the stacks of the slices saved)")
                                  .arg(c.argInt(4))
                                  .arg(QDir::toNativeSeparators(stackPath));
        return false;
    }
    XafsSpectrum stack;
    if (!stack.load(stackPath))
        return false;
    std::vector<double> mu;
    const XafsSpectrumSource source{
        layout.name,
        c.argInt(4),
        c.argDouble(0),
        c.argDouble(1),
        c.argDouble(2),
        c.argDouble(3),
        stack.meanOver(c.argDouble(0), c.argDouble(1), c.argDouble(2), c.argDouble(3), &mu)};
    if (source.pixels < 1) {
        qDebug() << "XAFS: no pixel of the stack in the region" << c.line;
        return false;
    }
    return XafsSpectrum::write(folder.absoluteFilePath(file), stack.energies(), mu, settings,
                               source);
}

// The normalisation words; false with a diagnostic when their values are unusable
// (the settings are then left as they were).
bool changedNormalisation(XafsSettings *s, const QString &word, const BatchCmd &c)
{
    if (word == QLatin1String("norm_relative")) {
        const double pre1 = c.argDouble(0), pre2 = c.argDouble(1);
        const double norm1 = c.argDouble(2), norm2 = c.argDouble(3);
        if (pre1 == 0.0 && pre2 == 0.0 && norm1 == 0.0 && norm2 == 0.0) {
            s->preRelative1 = s->preRelative2 = XafsSettings::unset;
            s->normRelative1 = s->normRelative2 = XafsSettings::unset;
            return true;
        }
        if (!(pre1 < pre2 && pre2 < 0.0 && 0.0 < norm1 && norm1 < norm2)) {
            qDebug() << "XAFS: relative ranges need PRE1 < PRE2 < 0 < NORM1 < NORM2" << c.line;
            return false;
        }
        s->preRelative1 = pre1;
        s->preRelative2 = pre2;
        s->normRelative1 = norm1;
        s->normRelative2 = norm2;
    } else if (word == QLatin1String("nnorm")) {
        if (c.argText(0).isEmpty()) {
            s->nnorm = -1;
            return true;
        }
        bool ok = false;
        const int n = c.argText(0).toInt(&ok);
        if (!ok || n < 0 || n > 3) {
            qDebug() << "XAFS: nnorm must be 0, 1, 2 or 3" << c.line;
            return false;
        }
        s->nnorm = n;
    } else if (word == QLatin1String("flatten")) {
        s->flatten = c.argFlag(0);
    } else if (word == QLatin1String("h5")) {
        s->writeH5 = c.argFlag(0);
    } else if (word == QLatin1String("e0_method")) {
        const QString method = c.argText(0).toLower();
        if (method != QLatin1String("slope") && method != QLatin1String("half")) {
            qDebug() << "XAFS: E0 method must be slope or half" << c.line;
            return false;
        }
        s->e0Method = method == QLatin1String("half") ? XafsE0Method::Half : XafsE0Method::Slope;
    } else if (word == QLatin1String("energy_shift")) {
        s->energyShift = c.argDouble(0);
    } else if (word == QLatin1String("element")) {
        s->elementSymbol = c.argText(0);
        s->elementEdge = c.argText(1);
        if (!s->elementSymbol.isEmpty() && s->elementEdge.isEmpty()) {
            qDebug() << "XAFS: element needs a symbol and an edge" << c.line;
            return false;
        }
    }
    return true;
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
        // "5%": a share of each slice's largest jump instead of a jump per pixel.
        const QString text = c.argText(0);
        const bool percent = text.endsWith(QLatin1Char('%'));
        const double value = Numbers::toFiniteDouble(percent ? text.chopped(1) : text);
        s.minJump = percent ? 0.0 : value;
        s.minJumpPercent = percent ? value : 0.0;
    } else if (word == QLatin1String("register")) {
        s.registerEnergies = c.argFlag(0);
    }
    return s;
}

} // namespace

bool xafsStepDone(const BatchCmd &c, const std::function<bool()> &step)
{
    try {
        return step();
    } catch (const std::bad_alloc &) {
        qDebug() << "XAFS: No memory for" << c.line;
    } catch (const std::system_error &e) {
        qDebug() << "XAFS: a thread could not start for" << c.line << e.what();
    }
    return false;
}

void registerXafsCommands(CommandTable &table, const XafsParts &parts)
{
    XafsPanel *panel = parts.panel;
    // Every xafs_ word, the build and the spectrum too, writes the settings back as
    // the panel reads them, so that its fields show the numbers a build uses.
    const QList<CommandTable::Word> settings = {
        {"pre_edge", "E1 E2", "pre-edge range in eV (0 0: the lowest third)"},
        {"post_edge", "E3 E4", "post-edge range in eV (0 0: the highest third)"},
        {"e0", "E", "fix E0 for every voxel (0: search it)"},
        {"min_jump", "v",
         "voxels whose edge jump is below v (or v% of the slice's largest) are NaN"},
        {"register", "f", "register each energy's slice before the stacks are built"},
        {"norm_relative", "PRE1 PRE2 NORM1 NORM2",
         "pre-edge and post-edge ranges in eV relative to each voxel's E0 (none: absolute)"},
        {"nnorm", "N", "degree 0-3 of the post-edge polynomial (none: by the ranges' rule)"},
        {"flatten", "f", "f = 1: also write the flattened stack <name>-flat-<slice>.tif"},
        {"h5", "f",
         "f = 1: xafs_build also writes <name>-xafs.h5: mu and norm as [energy, slice, z, x], "
         "energy_eV, the maps, the record"},
        {"e0_method", "slope|half", "E0 at the steepest rise, or where normalised mu crosses 0.5"},
        {"energy_shift", "dE", "add dE eV to every energy before anything else"},
        {"element", "SYMBOL EDGE", "absorbing element and edge for exported XDI files"}};
    table.addPrefix("xafs_", settings,
                    [panel](const BatchCmd &c, const QString &word, Origin origin) {
                        XafsSettings s = changed(panel->settings(), word, c);
                        const bool ok = changedNormalisation(&s, word, c);
                        if (ok)
                            panel->setSettings(s);
                        return (origin == Origin::Script && !ok) ? Answer::Ng : Answer::Ok;
                    });
    // Results already reconstructed need no new run: the size takes effect at xafs_build
    // and xafs_spectrum.
    table.add("ct_pixel_size_um", "s",
              "pixel size in micrometres: mu stacks, jump maps and spectra in 1/cm (0: per pixel)",
              [panel](const BatchCmd &c, Origin origin) {
                  const double size = c.argDouble(0);
                  if (size < 0.0) {
                      qDebug() << "XAFS: pixel size must not be negative" << c.line;
                      return origin == Origin::Script ? Answer::Ng : Answer::Ok;
                  }
                  XafsSettings s = panel->settings();
                  s.pixelSizeUm = size;
                  panel->setSettings(s);
                  return Answer::Ok;
              });
    // A spectrum not written is the script's failure like a slice not saved: its line
    // is ng and the run counts it (a headless run then ends with status 2).
    table.add("xafs_spectrum", "X0 Z0 X1 Z1 SLICE FILE",
              "mean and normalised mu(E) of a region of a built slice to a CSV or .xdi file",
              [parts](const BatchCmd &c, Origin origin) {
                  const bool written = xafsStepDone(c, [&] { return writeSpectrum(parts, c); });
                  if (origin != Origin::Script)
                      return Answer::Ok;
                  return parts.settle(written) ? Answer::Ok : Answer::Ng;
              });
    // A configuration line's build answers nobody, like its calc_exec.
    table.add("xafs_build", "",
              "build the energy stacks of every slice present at all energies; the script waits",
              [start = parts.startBuild](const BatchCmd &, Origin origin) {
                  start(origin == Origin::Script);
                  return origin == Origin::Script ? Answer::Later : Answer::Ok;
              });
}
