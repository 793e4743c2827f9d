#pragma once

#include "xafs/XafsReference.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

// What the chemical maps are made with: the reference spectra, the energy range of the
// fits and components, the sum-to-one rule, the white-line window, and the seed of
// every random choice (the same input gives the same files).
struct XafsMapSettings
{
    static constexpr double unset = std::numeric_limits<double>::quiet_NaN();
    static constexpr std::uint64_t seed = 20261208;
    // Above this many voxels the components are found on a random sample of them: the
    // spectra's covariance is settled long before, and its cost grows with every voxel.
    static constexpr size_t maxSample = 1000000;

    std::vector<XafsReference> references;
    double fitFrom = unset; // eV; unset: the whole scan
    double fitTo = unset;
    bool sumToOne = true;
    double whiteLineWindow = 30.0; // eV above E0

    // The energies of `grid` inside the fit range, by index.
    std::vector<size_t> rangeIndices(const std::vector<double> &grid) const
    {
        std::vector<size_t> in;
        for (size_t k = 0; k < grid.size(); ++k) {
            const bool above = !std::isfinite(fitFrom) || grid[k] >= fitFrom;
            const bool below = !std::isfinite(fitTo) || grid[k] <= fitTo;
            if (above && below)
                in.push_back(k);
        }
        return in;
    }
};

// The pages of one slice's normalised stack: pages[k][i] is voxel i at energy k.
struct XafsStackView
{
    std::vector<const float *> pages;
    size_t pixels = 0;

    // Voxels from..from+n at the energies `at`, voxel by voxel: out[j * at.size() + k].
    void gather(const std::vector<size_t> &at, size_t from, size_t n, double *out) const
    {
        const size_t e = at.size();
        for (size_t k = 0; k < e; ++k) {
            const float *page = pages[at[k]] + from;
            for (size_t j = 0; j < n; ++j)
                out[j * e + k] = static_cast<double>(page[j]);
        }
    }
};

// A spectrum counts when every value is finite and not all are zero.
inline bool usableSpectrum(const double *y, size_t count)
{
    double power = 0.0;
    for (size_t k = 0; k < count; ++k)
        power += y[k] * y[k];
    return std::isfinite(power) && power > 0.0;
}
