#pragma once

#include <QString>

#include <vector>

// A measured reference spectrum: normalised µ of a known species against energy (eV),
// read from a text file: CSV with a header line, XDI (its header lines begin with '#'),
// or whitespace columns with '#' comments. The first two columns of every data line
// are the energy and µ; further columns are left alone.
class XafsReference
{
public:
    static constexpr int minPoints = 5;
    static constexpr int maxReferences = 8;

    QString name;
    QString file;
    std::vector<double> energies; // strictly increasing
    std::vector<double> mu;

    // Reads `path`; false with a diagnostic when it is not a regular file of bounded
    // size, has a line that is not two numbers after the data began, fewer than
    // minPoints points or energies that do not increase.
    bool read(const QString &path);
    // A name is a plain word: letters, digits and '_'.
    static bool isPlainName(const QString &name);

    // Whether the measured energies span [from, to].
    bool covers(double from, double to) const;
    // µ at each energy by linear interpolation between the measured points; NaN outside
    // them.
    std::vector<double> onto(const std::vector<double> &grid) const;
};
