#pragma once

#include <QList>
#include <QString>

// The decisions of a sequential run over the sets of a data directory, one set
// per energy: which I0 file goes with a set (the nearest energy), which tag its
// results are saved under, and the line that lists a set for a submission script.
class SetSequence
{
public:
    // The I0 files to choose from; their energies come from their names.
    void setI0Files(const QStringList &paths);
    bool hasI0Files() const { return !i0Energies.isEmpty(); }
    // The I0 file nearest in energy (the first of equally near ones).
    int nearestI0(double energy) const;

    // The I0 chosen for a set and how far its energy lies from the set's. An I0 of
    // another energy is a different beam (the edge of a monochromator's harmonics,
    // the filters' absorption): divided into the set, its difference becomes part
    // of the set's µ. Far: farther than half the median step between the sets'
    // energies, i.e. nearer to a neighbouring set. Beyond: farther than the user's
    // limit (maxGap > 0 eV; 0 sets none).
    struct I0Choice
    {
        int index = -1;
        double energy = 0.0;
        double gap = 0.0;
        bool far = false;
        bool beyondLimit = false;
    };
    I0Choice chooseI0(double setEnergy, const QList<double> &setEnergies, double maxGap) const;
    // The median of the steps between neighbouring energies, sorted (0 with fewer
    // than two distinct energies).
    static double medianStep(QList<double> energies);

    // The tag a set's results are saved under: its energy text, with the sample in
    // front when another set of the directory has the same energy text (two sets
    // of one energy would otherwise save the second over the first).
    static QString saveTag(const QString &energyText, const QString &sample, int setsWithEnergyText,
                           bool *sharedEnergy);

    // The listing printed for -sets: a header, then one tab-separated line a set.
    static QString listingHeader();
    static QString listingLine(int number, const QString &tag, int files, const QString &i0);

private:
    QList<double> i0Energies;
};
