#pragma once

#include <QString>

#include <cmath>
#include <limits>
#include <vector>

// How spectra are normalised. Unset energies (NaN) take the defaults: the pre-edge
// line is fitted over the lowest third of the energy span, the post-edge line over
// the highest third.
struct XafsSettings
{
    static constexpr double unset = std::numeric_limits<double>::quiet_NaN();
    double preEdge1 = unset;
    double preEdge2 = unset;
    double postEdge1 = unset;
    double postEdge2 = unset;
    double fixedE0 = unset; // a finite value fixes E0 for every voxel
    double minJump = 0.0;
    bool registerEnergies = false;
};

// A straight line kept about a reference energy: energies are thousands of eV and a
// line written as a + bE would lose most of its digits to the intercept.
struct XafsLine
{
    double energyRef = 0.0;
    double level = 0.0;
    double slope = 0.0;
    double at(double energy) const { return level + slope * (energy - energyRef); }
};

struct XafsFit
{
    XafsLine pre;
    XafsLine post;
    double e0 = std::numeric_limits<double>::quiet_NaN();
    double jump = 0.0;
    // False when the jump is below the minimum (or not usable): the normalised values
    // and E0 of this voxel are NaN.
    bool valid = false;
};

// Normalises µ(E) as XANES is normalised: straight lines fitted by least squares to
// the pre-edge and post-edge ranges, E0 at the steepest rise between them, the jump
// post(E0) - pre(E0), and (µ - pre(E)) / jump. The energies are the same for every
// voxel of a stack, so the least-squares weights are worked out once here.
class XafsNormaliser
{
public:
    XafsNormaliser(const std::vector<double> &energies, const XafsSettings &settings);

    // Empty when spectra on these energies can be normalised, otherwise the reason.
    const QString &problem() const { return why; }
    const std::vector<double> &energies() const { return grid; }
    // The ranges in effect (after the defaults).
    double preEdge1() const { return pre1; }
    double preEdge2() const { return pre2; }
    double postEdge1() const { return post1; }
    double postEdge2() const { return post2; }

    // mu[k * stride] is µ at energies()[k].
    template<typename T>
    XafsFit fit(const T *mu, size_t stride = 1) const;
    // The fits of `count` voxels whose pages lie `stride` values apart: mu[k * stride + j]
    // is µ of voxel j at energies()[k]. The same arithmetic in the same order as fit()
    // voxel by voxel, so the same bits, but run energy by energy across the voxels: the
    // inner loops then read contiguous memory and vectorise.
    void fitMany(const float *mu, size_t stride, size_t count, XafsFit *fits) const;
    double normalised(const XafsFit &f, size_t k, double mu) const
    {
        return f.valid ? (mu - f.pre.at(grid[k])) / f.jump : std::nan("");
    }

    // Vertex of the parabola through three points, limited to [x0, x2]; x1 when the
    // points do not bend down (no maximum between them).
    static double parabolaPeak(double x0, double y0, double x1, double y1, double x2, double y2);

private:
    struct LineWeights
    {
        std::vector<size_t> index;
        std::vector<double> slopeWeight; // slope = sum w_k µ_k
        double energyRef = 0.0;          // mean energy of the range
    };
    LineWeights weightsFor(double from, double to) const;
    template<typename T>
    XafsLine line(const LineWeights &w, const T *mu, size_t stride) const;
    template<typename T>
    double steepestRise(const T *mu, size_t stride) const;
    // Slope of µ between energies k and k+1.
    template<typename T>
    double rise(const T *mu, size_t stride, size_t k) const
    {
        return (static_cast<double>(mu[(k + 1) * stride]) - static_cast<double>(mu[k * stride])) /
               (grid[k + 1] - grid[k]);
    }
    double middle(size_t k) const { return 0.5 * (grid[k] + grid[k + 1]); }
    // E0 from the steepest slope found between energies best and best+1.
    template<typename T>
    double refinedEdge(const T *mu, size_t stride, size_t best, double bestRise) const;
    // The jump at E0 and whether the voxel counts, once the lines and E0 are known.
    void complete(XafsFit *f) const;

    std::vector<double> grid;
    XafsSettings settings;
    double pre1 = 0.0, pre2 = 0.0, post1 = 0.0, post2 = 0.0;
    LineWeights preWeights;
    LineWeights postWeights;
    size_t riseFirst = 0; // derivatives between energies k and k+1 for k in [riseFirst, riseEnd)
    size_t riseEnd = 0;
    QString why;
};

template<typename T>
XafsLine XafsNormaliser::line(const LineWeights &w, const T *mu, size_t stride) const
{
    XafsLine l;
    l.energyRef = w.energyRef;
    double sum = 0.0, slope = 0.0;
    for (size_t i = 0; i < w.index.size(); ++i) {
        const double v = static_cast<double>(mu[w.index[i] * stride]);
        sum += v;
        slope += w.slopeWeight[i] * v;
    }
    l.level = w.index.empty() ? 0.0 : sum / static_cast<double>(w.index.size());
    l.slope = slope;
    return l;
}

template<typename T>
double XafsNormaliser::steepestRise(const T *mu, size_t stride) const
{
    // Slopes of µ between neighbouring energies, each at the mid energy of its pair.
    size_t best = riseFirst;
    double bestRise = -std::numeric_limits<double>::infinity();
    for (size_t k = riseFirst; k < riseEnd; ++k) {
        const double r = rise(mu, stride, k);
        if (r > bestRise) {
            bestRise = r;
            best = k;
        }
    }
    return refinedEdge(mu, stride, best, bestRise);
}

template<typename T>
double XafsNormaliser::refinedEdge(const T *mu, size_t stride, size_t best, double bestRise) const
{
    if (!std::isfinite(bestRise))
        return std::nan("");
    // The neighbours may lie just outside the search range: they still describe the
    // shape of the peak.
    if (best == 0 || best + 2 >= grid.size())
        return middle(best);
    return parabolaPeak(middle(best - 1), rise(mu, stride, best - 1), middle(best), bestRise,
                        middle(best + 1), rise(mu, stride, best + 1));
}

template<typename T>
XafsFit XafsNormaliser::fit(const T *mu, size_t stride) const
{
    XafsFit f;
    if (!why.isEmpty())
        return f;
    f.pre = line(preWeights, mu, stride);
    f.post = line(postWeights, mu, stride);
    f.e0 = std::isfinite(settings.fixedE0) ? settings.fixedE0 : steepestRise(mu, stride);
    complete(&f);
    return f;
}
