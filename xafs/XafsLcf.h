#pragma once

#include "xafs/XafsLeastSquares.h"
#include "xafs/XafsMapSettings.h"

#include <vector>

// Linear combination fitting of every voxel of a slice against reference spectra:
// per voxel the weights (XafsLeastSquares) and the R-factor sum (y - fit)^2 / sum y^2
// over the fit range. A voxel with a non-finite value in the range, or all zero, has
// NaN weights and R-factor.
class XafsLcf
{
public:
    // references[i][k]: reference i at the k-th energy of the fit range.
    XafsLcf(const std::vector<std::vector<double>> &references, bool sumToOne);

    bool usable() const { return solver.usable(); }

    // weights[i] and rfactor get one value per voxel of the slice; `at` are the fit
    // range's page indices.
    void fit(const XafsStackView &stack, const std::vector<size_t> &at,
             std::vector<std::vector<float>> *weights, std::vector<float> *rfactor) const;
    // The voxels first..end only, into maps already sized.
    void fitRange(const XafsStackView &stack, const std::vector<size_t> &at, size_t first,
                  size_t end, std::vector<std::vector<float>> *weights,
                  std::vector<float> *rfactor) const;

private:
    XafsLeastSquares solver;
};
