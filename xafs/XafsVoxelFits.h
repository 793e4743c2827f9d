#pragma once

#include "xafs/XafsNormaliser.h"

#include <QJsonObject>

#include <vector>

struct XafsStack;

// The post-edge curve of a voxel, post(E) - pre(E), as flattening takes it off.
struct XafsFlatCurve
{
    double e0 = 0.0;
    double ref = 0.0;
    double scale = 1.0;
    double c[4] = {0.0, 0.0, 0.0, 0.0};
};

// What the normalised stack and the maps need of every voxel's fit. The normalised
// page of an energy is worked out from these just before it is written, so no second
// stack is ever held.
struct XafsVoxelFits
{
    // The pre-edge lines' reference energies: one for every voxel with fixed ranges,
    // each voxel's own when its ranges follow its E0.
    std::vector<double> preRef;
    std::vector<double> preLevel;
    std::vector<double> preSlope;
    std::vector<double> jump;
    std::vector<unsigned char> valid;
    std::vector<float> jumpMap;
    std::vector<float> e0Map;
    std::vector<XafsVoxel> state;
    std::vector<unsigned char> nnorm;
    std::vector<XafsFlatCurve> curves; // only when flattening

    // Fits every voxel of the stack; the voxels are independent, two threads share them.
    void fit(const XafsStack &mu, const XafsNormaliser &normaliser, bool flatten);
    // (µ - pre(E)) / jump of every voxel at one energy, NaN where the fit does not count.
    void normalisedPage(const float *mu, double energy, float *out) const;
    // The normalised page with each voxel's post-edge curve's departure from a constant
    // taken off above its E0.
    void flatPage(const float *normalised, double energy, float *out) const;
    // What the fits of a slice gave, for the record; voxels left NaN are logged.
    QJsonObject record(int slice, const XafsNormaliser &normaliser) const;

private:
    // Voxels whose jump is below `percent` % of the slice's largest valid jump are not
    // valid (E0 NaN), as with an absolute minimum.
    void leaveOutBelow(double percent);
    void fitRange(const XafsStack &mu, const XafsNormaliser &normaliser, size_t first, size_t end);
};
