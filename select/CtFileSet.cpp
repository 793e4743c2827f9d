#include "CtFileSet.h"

#include "sets/Kvn.h"
#include "util/Numbers.h"

namespace {

bool hasEnergyUnit(const QString &energyText)
{
    const QString unit = unitOf(energyText).toLower();
    return energyOf(energyText) > 0 &&
           (unit == QLatin1String("ev") || unit == QLatin1String("kev"));
}

} // namespace

CtFileSet::CtFileSet(QObject *parent)
    : QObject(parent)
{
}

void CtFileSet::setFirstFile(const QFileInfo &info)
{
    files.clear();
    files.append(info);
    fileName = info.fileName();
    stem = stemOf(fileName);
    sample = sampleOf(fileName);
    energyText = energyTextOf(fileName);
    energy = energyOf(energyText);
    unitFactor = unitFactorOf(energyText);
    unit = unitOf(energyText);
}

void CtFileSet::setScanFile(const QFileInfo &info, double fileEnergyEV)
{
    setFirstFile(info);
    scanFile = true;
    const QString asSet = info.completeBaseName() + QLatin1Char('-');
    if (hasEnergyUnit(energyTextOf(asSet)) || !hasEnergyUnit(energyText)) {
        stem = stemOf(asSet);
        sample = sampleOf(asSet);
        energyText = energyTextOf(asSet);
    }
    if (fileEnergyEV > 0 && !hasEnergyUnit(energyText))
        energyText = Numbers::text(fileEnergyEV).replace(QLatin1Char('.'), QLatin1Char('_')) +
                     QStringLiteral("eV");
    energy = energyOf(energyText);
    unitFactor = unitFactorOf(energyText);
    unit = unitOf(energyText);
    if (fileEnergyEV > 0) {
        energy = fileEnergyEV;
        unitFactor = 1.0;
        unit = QStringLiteral("eV");
    }
}

bool CtFileSet::belongs(const QFileInfo &info) const
{
    if (scanFile)
        return false;
    return stemOf(info.fileName()) == stem;
}

void CtFileSet::addFile(const QFileInfo &info)
{
    files.append(info);
}
