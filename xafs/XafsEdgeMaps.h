#pragma once

#include "xafs/XafsMapSettings.h"

#include <vector>

// Where the edge lies and how strong the white line is, per voxel of normalised µ:
//   edge50: the energy where µ first rises through 0.5, linear between measured energies;
//   white line: the highest measured maximum between E0 and E0 + window, refined by the
//   parabola through it and its two neighbours, as energy and height.
// Everything is NaN where the rule finds nothing: no rise through 0.5, no E0, the
// highest point on the first or last measured energy in the window (then it is an edge
// of the window, not a peak).
class XafsEdgeMaps
{
public:
    static double edge50(const double *energies, const double *mu, size_t count);
    static void whiteLine(const double *energies, const double *mu, size_t count, double e0,
                          double window, double *energy, double *height);
    // The vertex of the parabola through three points (x0 < x1 < x2, y1 highest).
    static void vertex(double x0, double y0, double x1, double y1, double x2, double y2, double *x,
                       double *y);

    // The three maps of a slice from its normalised stack and E0 map.
    static void slice(const XafsStackView &stack, const std::vector<double> &energies,
                      const float *e0, double window, std::vector<float> *edge,
                      std::vector<float> *whiteLineEnergy, std::vector<float> *whiteLineHeight);
};
