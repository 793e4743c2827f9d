#include "DemoPhantom.h"

#include <cmath>

namespace {

constexpr double pi = 3.141592653589793;
// Attenuations per object radius; divided by the radius in pixels they give the
// attenuation per pixel. The largest path through the object stays near 2, so the
// thinnest transmission is about e^-2 of the beam: far above the dark level.
constexpr double matrixMu = 0.5;
constexpr double voidMu = -0.5; // cancels the matrix
constexpr double inclusionMu = 1.2;
constexpr double growingMu = 0.3;
constexpr double elementMuBelowEdge = 0.4;
constexpr double edgeJumpRatio = 4.0;
constexpr double edgeWidthEv = 1.0;

} // namespace

DemoPhantom::DemoPhantom(double radius, int height, double edgeEnergy, int species)
    : species(species)
    , radius(radius)
    , height(height > 0 ? height : 1)
    , edgeEnergy(edgeEnergy)
{
}

double DemoPhantom::edgeFactor(double energy) const
{
    const double step = 0.5 + std::atan((energy - edgeEnergy) / edgeWidthEv) / pi;
    return 1.0 + (edgeJumpRatio - 1.0) * step;
}

// Apart from each other and from the pore, the inclusion and the lens at every height,
// so that each grain's voxels hold its own mixture only.
const DemoPhantom::Grain DemoPhantom::grains[4] = {
    {0.50, -0.20, 0.11, 1.0}, // pure A
    {0.50, 0.12, 0.11, 0.0},  // pure B
    {0.15, -0.15, 0.11, 0.3}, // 30 % A
    {-0.05, 0.10, 0.10, 0.7}, // 70 % A
};

double DemoPhantom::speciesShape(int which, double energy, double edge)
{
    const double at = which == 0 ? edge : edge + 4.0;
    const double line = which == 0 ? 0.6 : 0.2;
    const double d = energy - at;
    return 1.0 / (1.0 + std::exp(-d)) + line * std::exp(-std::pow((d - 4.0) / 3.0, 2));
}

void DemoPhantom::speciesWeights(double x, double z, double *a, double *b) const
{
    *a = 0.0;
    *b = 0.0;
    if (species != 2)
        return;
    for (const Grain &g : grains) {
        if (std::pow(x - g.cx * radius, 2) + std::pow(z - g.cz * radius, 2) <=
            std::pow(g.radius * radius, 2)) {
            *a = g.a;
            *b = 1.0 - g.a;
        }
    }
}

std::vector<DemoPhantom::Ellipse> DemoPhantom::twoSpecies(int slice, double energy) const
{
    const double h = (slice + 0.5) / height;
    const double r = radius;
    const double perPixel = (1.0 - 3.0 * (energy - edgeEnergy) / edgeEnergy) / r;
    const double grow = std::sin(pi * h);
    std::vector<Ellipse> e = {
        {0.0, 0.0, 0.85 * r, (0.62 + 0.12 * h) * r, 0.0, matrixMu * perPixel},
        {-0.38 * r, (0.2 - 0.2 * h) * r, 0.14 * r, (0.22 - 0.1 * h) * r, -0.3, voidMu * perPixel},
        {-0.15 * r, -0.38 * r, (0.06 + 0.06 * h) * r, (0.06 + 0.06 * h) * r, 0.0,
         inclusionMu * perPixel},
        {0.2 * r, 0.35 * r, (0.04 + 0.14 * grow) * r, (0.03 + 0.06 * grow) * r, 1.0,
         growingMu * perPixel},
    };
    // The edge part is not scaled by the background, so that it normalises to the shapes.
    const double shapeA = speciesShape(0, energy, edgeEnergy);
    const double shapeB = speciesShape(1, energy, edgeEnergy);
    for (const Grain &g : grains) {
        const double edge = (edgeJumpRatio - 1.0) * (g.a * shapeA + (1.0 - g.a) * shapeB);
        e.push_back({g.cx * r, g.cz * r, g.radius * r, g.radius * r, 0.0,
                     elementMuBelowEdge * (perPixel + edge / r)});
    }
    return e;
}

std::vector<DemoPhantom::Ellipse> DemoPhantom::ellipses(int slice, double energy) const
{
    if (species == 2)
        return twoSpecies(slice, energy);
    const double h = (slice + 0.5) / height; // 0..1 from the first slice to the last
    const double r = radius;
    const double falling = std::pow(edgeEnergy / energy, 3.0);
    const double perPixel = falling / r;
    const double grow = std::sin(pi * h);
    return {
        // the body of the sample
        {0.0, 0.0, 0.85 * r, (0.62 + 0.12 * h) * r, 0.0, matrixMu * perPixel},
        // the grain holding the absorbing element, turning and moving with height
        {(0.32 - 0.25 * h) * r, (-0.18 + 0.1 * h) * r, (0.24 + 0.08 * h) * r, 0.13 * r,
         0.5 + 0.8 * h, elementMuBelowEdge * edgeFactor(energy) * perPixel},
        // a pore, narrowing upwards
        {-0.38 * r, (0.2 - 0.2 * h) * r, 0.14 * r, (0.22 - 0.1 * h) * r, -0.3, voidMu * perPixel},
        // a dense round inclusion, widening upwards
        {-0.15 * r, -0.38 * r, (0.06 + 0.06 * h) * r, (0.06 + 0.06 * h) * r, 0.0,
         inclusionMu * perPixel},
        // a lens that is largest half way up
        {0.2 * r, 0.35 * r, (0.04 + 0.14 * grow) * r, (0.03 + 0.06 * grow) * r, 1.0,
         growingMu * perPixel},
    };
}

bool DemoPhantom::contains(const Ellipse &e, double x, double z)
{
    const double dx = x - e.cx;
    const double dz = z - e.cz;
    const double c = std::cos(e.angle);
    const double s = std::sin(e.angle);
    const double along = dx * c + dz * s;
    const double across = -dx * s + dz * c;
    return (along * along) / (e.a * e.a) + (across * across) / (e.b * e.b) <= 1.0;
}

double DemoPhantom::mu(int slice, double energy, double x, double z) const
{
    double sum = 0.0;
    for (const Ellipse &e : ellipses(slice, energy))
        if (contains(e, x, z))
            sum += e.mu;
    return sum;
}

// The line has the unit normal n = (cos theta, -sin theta). Seen from the ellipse's
// own axes, n = (cos(theta + angle), -sin(theta + angle)); the ellipse spans
// |offset| < w along n with w^2 = a^2 cos^2 + b^2 sin^2, and the chord at offset d from
// its centre is 2ab sqrt(w^2 - d^2) / w^2.
double DemoPhantom::chordLength(const Ellipse &e, double theta, double s)
{
    const double d = s - (e.cx * std::cos(theta) - e.cz * std::sin(theta));
    const double c = std::cos(theta + e.angle);
    const double n = std::sin(theta + e.angle);
    const double w2 = e.a * e.a * c * c + e.b * e.b * n * n;
    const double inside = w2 - d * d;
    if (!(inside > 0.0) || !(w2 > 0.0))
        return 0.0;
    return 2.0 * e.a * e.b * std::sqrt(inside) / w2;
}

double DemoPhantom::lineIntegral(int slice, double energy, double theta, double s) const
{
    double sum = 0.0;
    for (const Ellipse &e : ellipses(slice, energy))
        sum += e.mu * chordLength(e, theta, s);
    return sum;
}

void DemoPhantom::projectRow(const std::vector<Ellipse> &ellipses, double theta, double cor,
                             int count, double *sums)
{
    for (int x = 0; x < count; ++x)
        sums[x] = 0.0;
    // The terms chordLength makes, in the same order; an ellipse adds nothing where it
    // is not crossed (adding a zero would not change a sum either).
    for (const Ellipse &e : ellipses) {
        const double centre = e.cx * std::cos(theta) - e.cz * std::sin(theta);
        const double c = std::cos(theta + e.angle);
        const double n = std::sin(theta + e.angle);
        const double w2 = e.a * e.a * c * c + e.b * e.b * n * n;
        if (!(w2 > 0.0))
            continue;
        const double ab2 = 2.0 * e.a * e.b;
        for (int x = 0; x < count; ++x) {
            const double d = (x - cor) - centre;
            const double inside = w2 - d * d;
            if (inside > 0.0)
                sums[x] += e.mu * (ab2 * std::sqrt(inside) / w2);
        }
    }
}

void DemoPhantom::muRow(const std::vector<Ellipse> &ellipses, double c, double z, int count,
                        double *values)
{
    struct Axes
    {
        double cos, sin;
    };
    std::vector<Axes> axes;
    axes.reserve(ellipses.size());
    for (const Ellipse &e : ellipses)
        axes.push_back({std::cos(e.angle), std::sin(e.angle)});
    for (int x = 0; x < count; ++x) {
        double sum = 0.0;
        for (size_t i = 0; i < ellipses.size(); ++i) {
            const Ellipse &e = ellipses[i];
            const double dx = (x - c) - e.cx;
            const double dz = z - e.cz;
            const double along = dx * axes[i].cos + dz * axes[i].sin;
            const double across = -dx * axes[i].sin + dz * axes[i].cos;
            if ((along * along) / (e.a * e.a) + (across * across) / (e.b * e.b) <= 1.0)
                sum += e.mu;
        }
        values[x] = sum;
    }
}
