#pragma once

#include "xafs/XafsNormaliser.h"
#include "xafs/XafsTiff.h"

#include <QString>

#include <vector>

// Where a spectrum comes from, for the header lines of the files it is written to.
struct XafsSpectrumSource
{
    QString dataName;
    int slice = 0;
    double x0 = 0.0;
    double z0 = 0.0;
    double x1 = 0.0;
    double z1 = 0.0;
    int pixels = 0;
};

// A built energy stack of µ read back, and the spectrum of a region of it. Energies
// and values are as measured (µ per pixel, no energy shift) whatever the build wrote;
// the writers apply the shift and the unit of the settings they are given.
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

    // `#` lines (source, E0, edge step, ranges, nnorm, unit), then energy, µ, normalised
    // µ (and flattened µ when flattening), one line per energy after a column line.
    static bool writeCsv(const QString &path, const std::vector<double> &energies,
                         const std::vector<double> &mu, const XafsSettings &settings,
                         const XafsSpectrumSource &source = {});
    // XAS Data Interchange 1.0: the same columns under XDI's header fields.
    static bool writeXdi(const QString &path, const std::vector<double> &energies,
                         const std::vector<double> &mu, const XafsSettings &settings,
                         const XafsSpectrumSource &source = {});
    // XDI when the path ends in .xdi, the CSV otherwise.
    static bool write(const QString &path, const std::vector<double> &energies,
                      const std::vector<double> &mu, const XafsSettings &settings,
                      const XafsSpectrumSource &source = {});

private:
    std::vector<XafsPage> stack;
    std::vector<double> grid;
    int left = 0;
    int top = 0;
};
