#include "XafsMapCommands.h"

#include "batch/CommandTable.h"
#include "disp/XafsPanel.h"
#include "xafs/XafsChemicalMaps.h"
#include "xafs/XafsMapRecord.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using Answer = CommandTable::Answer;
using Origin = CommandTable::Origin;

Answer answerOf(bool done)
{
    return done ? Answer::Ok : Answer::Ng;
}

QString xafsFolder(const XafsParts &parts)
{
    return XafsBuilder(parts.layout(), parts.panel->settings()).outputFolder();
}

// xafs_ref NAME FILE: a relative FILE is in the xafs folder, as for xafs_spectrum.
bool addReference(const XafsParts &parts, const BatchCmd &c)
{
    XafsMapSettings s = parts.panel->mapSettings();
    XafsReference reference;
    reference.name = c.argText(0);
    if (!XafsReference::isPlainName(reference.name)) {
        qDebug() << "XAFS: reference name is not a plain word" << reference.name;
        return false;
    }
    for (const XafsReference &r : s.references) {
        if (r.name == reference.name) {
            qDebug() << "XAFS: reference name repeats" << reference.name;
            return false;
        }
    }
    if (s.references.size() >= static_cast<size_t>(XafsReference::maxReferences)) {
        qDebug() << "XAFS: more than 8 references" << reference.name;
        return false;
    }
    const QString folder = xafsFolder(parts);
    if (c.argText(1).isEmpty() || !reference.read(QDir(folder).absoluteFilePath(c.argText(1))))
        return false;
    // Before the stacks exist the range can not be checked; xafs_lcf checks it then.
    const std::vector<double> energies =
        XafsChemicalMaps::scanEnergies(folder, parts.layout().name);
    s.references.push_back(reference);
    if (!energies.empty() && !XafsChemicalMaps::uncovered(s, energies).isEmpty()) {
        qDebug() << "XAFS: reference does not cover the fit range" << reference.name;
        return false;
    }
    parts.panel->setMapSettings(s);
    return true;
}

// The components of the last xafs_pca, kept for xafs_cluster while the stacks and the
// range they were found on stay the same.
struct ComponentsMemory
{
    QString folder;
    QString name;
    double from = 0.0;
    double to = 0.0;
    QStringList stamps;
    XafsPca pca;
    bool valid = false;
};

QStringList stampsOf(const QString &folder, const QString &name)
{
    QStringList stamps;
    for (const QString &slice : XafsBuilder::builtSlices(folder, name)) {
        const QFileInfo info(QDir(folder).filePath(
            XafsBuilder::stackFileName(name, QStringLiteral("norm"), slice.toInt())));
        stamps << slice + QLatin1Char('@') +
                      QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    return stamps;
}

bool sameRange(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

bool findComponents(const XafsParts &parts, ComponentsMemory *memory)
{
    const XafsMapSettings s = parts.panel->mapSettings();
    const QString folder = xafsFolder(parts);
    const QString name = parts.layout().name;
    memory->valid = XafsChemicalMaps(folder, name, s).principalComponents(&memory->pca);
    memory->folder = folder;
    memory->name = name;
    memory->from = s.fitFrom;
    memory->to = s.fitTo;
    memory->stamps = stampsOf(folder, name);
    if (memory->valid) {
        qDebug() << "XAFS: components chosen" << memory->pca.chosen;
        XafsMapRecord::add(folder, name, XafsMapRecord::settingsOf(s, &memory->pca));
    }
    return memory->valid;
}

bool cluster(const XafsParts &parts, ComponentsMemory *memory, int k)
{
    if (k < 2 || k > 16) {
        qDebug() << "XAFS: cluster count must be 2 to 16" << k;
        return false;
    }
    const XafsMapSettings s = parts.panel->mapSettings();
    const QString folder = xafsFolder(parts);
    const QString name = parts.layout().name;
    const bool current = memory->valid && memory->folder == folder && memory->name == name &&
                         sameRange(memory->from, s.fitFrom) && sameRange(memory->to, s.fitTo) &&
                         memory->stamps == stampsOf(folder, name);
    if (!current && !findComponents(parts, memory))
        return false;
    if (!XafsChemicalMaps(folder, name, s).clusters(memory->pca, k))
        return false;
    XafsMapRecord::add(folder, name, XafsMapRecord::settingsOf(s, &memory->pca, k));
    return true;
}

} // namespace

void registerXafsMapCommands(CommandTable &table, const XafsParts &parts)
{
    XafsPanel *panel = parts.panel;
    // Without a panel (the table only listed) nothing is kept and every word is ng.
    // The work they ask for failing is the run's failure too.
    auto withPanel = [panel, parts](std::function<bool(const BatchCmd &)> work) {
        return [panel, parts, work](const BatchCmd &c, Origin) {
            return answerOf(parts.settle(panel && xafsStepDone(c, [&] { return work(c); })));
        };
    };
    auto changeSettings = [panel](std::function<bool(XafsMapSettings *, const BatchCmd &)> edit) {
        return [panel, edit](const BatchCmd &c, Origin) {
            if (!panel)
                return Answer::Ng;
            XafsMapSettings s = panel->mapSettings();
            if (!edit(&s, c))
                return Answer::Ng;
            panel->setMapSettings(s);
            return Answer::Ok;
        };
    };
    table.add("xafs_ref", "NAME FILE",
              "add a reference spectrum (energy and normalised mu columns) named NAME",
              withPanel([parts](const BatchCmd &c) { return addReference(parts, c); }));
    table.add("xafs_ref_clear", "", "drop every reference spectrum",
              changeSettings([](XafsMapSettings *s, const BatchCmd &) {
                  s->references.clear();
                  return true;
              }));
    table.add("xafs_lcf_range", "E1 E2",
              "energy range in eV of the fits and components (0 0: the whole scan)",
              changeSettings([](XafsMapSettings *s, const BatchCmd &c) {
                  const double a = c.argDouble(0), b = c.argDouble(1);
                  const bool whole = a == 0.0 && b == 0.0;
                  s->fitFrom = whole ? XafsMapSettings::unset : std::min(a, b);
                  s->fitTo = whole ? XafsMapSettings::unset : std::max(a, b);
                  return true;
              }));
    table.add("xafs_lcf_sum_to_one", "f", "the fitted weights sum to 1 (default 1)",
              changeSettings([](XafsMapSettings *s, const BatchCmd &c) {
                  s->sumToOne = c.argFlag(0);
                  return true;
              }));
    table.add("xafs_wl_window", "W", "white line looked for between E0 and E0 + W eV (default 30)",
              changeSettings([](XafsMapSettings *s, const BatchCmd &c) {
                  if (!(c.argDouble(0) > 0.0)) {
                      qDebug() << "XAFS: white-line window must be positive" << c.line;
                      return false;
                  }
                  s->whiteLineWindow = c.argDouble(0);
                  return true;
              }));
    table.add("xafs_lcf", "",
              "fit every built slice's voxels with the references: weight and R-factor maps",
              withPanel([parts](const BatchCmd &) {
                  const XafsMapSettings s = parts.panel->mapSettings();
                  const QString folder = xafsFolder(parts);
                  const QString name = parts.layout().name;
                  if (XafsChemicalMaps(folder, name, s).linearCombinationFit() < 1)
                      return false;
                  XafsMapRecord::add(folder, name, XafsMapRecord::settingsOf(s));
                  return true;
              }));
    auto memory = std::make_shared<ComponentsMemory>();
    table.add("xafs_pca", "",
              "principal components of the built slices' spectra, their number and score maps",
              withPanel([parts, memory](const BatchCmd &) {
                  return findComponents(parts, memory.get());
              }));
    table.add("xafs_cluster", "K",
              "k-means of the voxels' component scores into K clusters (2 to 16)",
              withPanel([parts, memory](const BatchCmd &c) {
                  return cluster(parts, memory.get(), c.argInt(0));
              }));
}
