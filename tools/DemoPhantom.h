#pragma once

#include <vector>

// The object of the demo scan: a few overlapping ellipses per slice whose sizes and
// positions change with height. Attenuations add where ellipses overlap. One material
// holds the absorbing element: its attenuation jumps across the absorption edge; the
// others fall smoothly as E^-3 like photoabsorption away from an edge.
//
// Coordinates are in detector pixels from the rotation axis: X along the detector
// line, Z across it, so that a reconstructed pixel (x, z) of centre c lies at
// (x - c, z - c). A projection at angle theta sees, at detector offset s from the
// axis, the line X cos(theta) - Z sin(theta) = s, the line the back projection
// spreads that sample along.
class DemoPhantom
{
public:
    struct Ellipse
    {
        double cx, cz; // centre
        double a, b;   // semi-axis along the direction angle, and across it
        double angle;  // radians, from the X axis towards Z
        double mu;     // attenuation per pixel
    };

    // radius: pixels from the axis the object may fill; height: slices of the scan.
    // species 2: the absorbing grain gives way to round grains of two species A and B
    // (pure A, pure B and two known mixtures), and every material falls with energy
    // along the tangent of E^-3 at the edge, a background linear in E that the
    // normalisation's straight lines take off exactly.
    DemoPhantom(double radius, int height, double edgeEnergy, int species = 1);

    std::vector<Ellipse> ellipses(int slice, double energy) const;
    // Attenuation per pixel at a point of slice `slice`.
    double mu(int slice, double energy, double x, double z) const;
    // Integral of mu along the line X cos(theta) - Z sin(theta) = s (chord lengths).
    double lineIntegral(int slice, double energy, double theta, double s) const;

    // The line integrals of row `count` samples wide at angle theta, sample x at offset
    // x - cor from the axis: lineIntegral's sums, each ellipse's place and width along
    // the detector worked out once for the row.
    static void projectRow(const std::vector<Ellipse> &ellipses, double theta, double cor,
                           int count, double *sums);
    // mu along a row of the slice grid: point x at (x - c, z).
    static void muRow(const std::vector<Ellipse> &ellipses, double c, double z, int count,
                      double *values);

    static double chordLength(const Ellipse &e, double theta, double s);
    static bool contains(const Ellipse &e, double x, double z);

    // Relative attenuation of the absorbing element: 1 well below the edge, the jump
    // ratio well above, a step of about an eV width in between (the edge is not sharp).
    double edgeFactor(double energy) const;

    // Normalised µ of species 0 (A) or 1 (B): a logistic step of 1 eV, A's at the edge and
    // B's 4 eV above, with a Gaussian white line (A strong, B weak); both are flat far from
    // the edge, so the normalised µ of a mixture is the mixture of these.
    static double speciesShape(int which, double energy, double edgeEnergy);
    // The fractions of A and B of the absorbing element at a point (0 outside the grains).
    void speciesWeights(double x, double z, double *a, double *b) const;

private:
    struct Grain
    {
        double cx, cz, radius; // in object radii
        double a;              // fraction of A; the rest is B
    };
    static const Grain grains[4];
    std::vector<Ellipse> twoSpecies(int slice, double energy) const;

    int species;
    double radius;
    int height;
    double edgeEnergy;
};
