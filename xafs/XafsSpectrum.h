#pragma once

#include "xafs/XafsNormaliser.h"
#include "xafs/XafsTiff.h"

#include <QString>

#include <vector>

// A built energy stack of µ read back, and the spectrum of a region of it.
class XafsSpectrum
{
public:
    // Reads <name>-mu-<slice>.tif; false with a diagnostic when it is not a stack of
    // pages of one size with increasing energies.
    bool load(const QString &muStackPath);

    const std::vector<double> &energies() const { return grid; }
    const std::vector<XafsPage> &pages() const { return stack; }
    int width() const { return stack.empty() ? 0 : stack.front().width; }
    int height() const { return stack.empty() ? 0 : stack.front().height; }
    // The stack's first column and row in slice pixels.
    int x0() const { return left; }
    int z0() const { return top; }

    // Mean µ(E) over the pixels x0 <= x < x1, z0 <= z < z1 (slice pixels counted as
    // the calc region counts them, from trunc(x0)); pixels outside the stack and NaN
    // values are left out. The number of pixels averaged (0: no spectrum).
    int meanOver(double x0, double z0, double x1, double z1, std::vector<double> *mu) const;

    // energy, µ, normalised µ, one line per energy after a header line.
    static bool writeCsv(const QString &path, const std::vector<double> &energies,
                         const std::vector<double> &mu, const XafsSettings &settings);

private:
    std::vector<XafsPage> stack;
    std::vector<double> grid;
    int left = 0;
    int top = 0;
};
