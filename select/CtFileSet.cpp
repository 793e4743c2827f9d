#include "CtFileSet.h"

#include "sets/Kvn.h"

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

bool CtFileSet::belongs(const QFileInfo &info) const
{
    return stemOf(info.fileName()) == stem;
}

void CtFileSet::addFile(const QFileInfo &info)
{
    files.append(info);
}
