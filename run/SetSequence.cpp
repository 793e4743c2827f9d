#include "SetSequence.h"

#include "sets/Kvn.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

void SetSequence::setI0Files(const QStringList &paths)
{
    i0Energies.clear();
    for (const QString &path : paths) {
        // The energy comes from the file's name: a hyphen in a folder name must
        // not change it.
        const QString t = energyTextOf(QFileInfo(path).fileName());
        i0Energies << unitFactorOf(t) * energyOf(t);
    }
}

int SetSequence::nearestI0(double energy) const
{
    int k = 0;
    for (int i = 1; i < i0Energies.size(); ++i)
        if (std::abs(i0Energies.at(i) - energy) < std::abs(i0Energies.at(k) - energy))
            k = i;
    return k;
}

SetSequence::I0Choice SetSequence::chooseI0(double setEnergy, const QList<double> &setEnergies,
                                            double maxGap) const
{
    I0Choice c;
    if (i0Energies.isEmpty())
        return c;
    c.index = nearestI0(setEnergy);
    c.energy = i0Energies.at(c.index);
    c.gap = std::abs(c.energy - setEnergy);
    const double step = medianStep(setEnergies);
    c.far = step > 0.0 && c.gap > 0.5 * step;
    c.beyondLimit = maxGap > 0.0 && c.gap > maxGap;
    return c;
}

double SetSequence::medianStep(QList<double> energies)
{
    std::sort(energies.begin(), energies.end());
    QList<double> steps;
    for (int i = 1; i < energies.size(); ++i)
        if (energies.at(i) > energies.at(i - 1))
            steps << energies.at(i) - energies.at(i - 1);
    if (steps.isEmpty())
        return 0.0;
    std::sort(steps.begin(), steps.end());
    const int mid = int(steps.size() / 2);
    return steps.size() % 2 ? steps.at(mid) : 0.5 * (steps.at(mid - 1) + steps.at(mid));
}

QString SetSequence::saveTag(const QString &energyText, const QString &sample,
                             int setsWithEnergyText, bool *sharedEnergy)
{
    *sharedEnergy = setsWithEnergyText > 1;
    if (!*sharedEnergy || sample.isEmpty())
        return energyText;
    return sample + QLatin1Char('_') + energyText;
}

QString SetSequence::listingHeader()
{
    return QStringLiteral("# set\ttag\tfiles\ti0\n");
}

QString SetSequence::listingLine(int number, const QString &tag, int files, const QString &i0)
{
    return QStringLiteral("%1\t%2\t%3\t%4\n")
        .arg(number)
        .arg(tag.isEmpty() ? QStringLiteral("-") : tag)
        .arg(files)
        .arg(i0);
}
