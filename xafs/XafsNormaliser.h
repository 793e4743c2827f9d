#pragma once

#include <QString>

#include <cmath>
#include <limits>
#include <vector>

// How E0 is defined: at the steepest rise of µ, or where the normalised µ first rises
// through one half.
enum class XafsE0Method { Slope, Half };

// How spectra are normalised. Unset energies (NaN) take the defaults. With absolute
// ranges the pre-edge line and the post-edge line are fitted over them (a range not
// given is the lowest or highest third of the energy span, as it always was). With
// relative ranges (eV from each voxel's E0), or with no ranges at all, the ranges
// follow each voxel's E0 and the post-edge curve is a polynomial.
struct XafsSettings
{
    static constexpr double unset = std::numeric_limits<double>::quiet_NaN();
    double preEdge1 = unset;
    double preEdge2 = unset;
    double postEdge1 = unset;
    double postEdge2 = unset;
    double fixedE0 = unset; // a finite value fixes E0 for every voxel
    double minJump = 0.0;   // µ per pixel, whatever unit the outputs are in
    // A percentage of the slice's largest jump below which voxels are left out; used in
    // place of minJump when above 0.
    double minJumpPercent = 0.0;
    bool registerEnergies = false;
    // Relative ranges, used when all four are finite: PRE1 < PRE2 < 0 < NORM1 < NORM2.
    double preRelative1 = unset;
    double preRelative2 = unset;
    double normRelative1 = unset;
    double normRelative2 = unset;
    int nnorm = -1; // degree of the post-edge polynomial, 0..3; -1: the rule of the ranges
    bool flatten = false;
    // xafs_h5: the build also writes <name>-xafs.h5 (XafsBuilder).
    bool writeH5 = false;
    XafsE0Method e0Method = XafsE0Method::Slope;
    double energyShift = 0.0; // eV added to every energy before anything else
    double pixelSizeUm = 0.0; // 0: unknown, results stay in µ per pixel
    QString elementSymbol;
    QString elementEdge;

    bool relativeGiven() const
    {
        return std::isfinite(preRelative1) && std::isfinite(preRelative2) &&
               std::isfinite(normRelative1) && std::isfinite(normRelative2);
    }
    bool absoluteGiven() const
    {
        return (std::isfinite(preEdge1) && std::isfinite(preEdge2)) ||
               (std::isfinite(postEdge1) && std::isfinite(postEdge2));
    }
    // µ per pixel times this is µ in the unit of the outputs (1/cm with a pixel size).
    double unitFactor() const { return pixelSizeUm > 0.0 ? 1.0 / (pixelSizeUm * 1e-4) : 1.0; }
    QString unitName() const
    {
        return pixelSizeUm > 0.0 ? QStringLiteral("1/cm") : QStringLiteral("1/pixel");
    }
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

// Why a voxel is left NaN (or, for Unsettled, kept but counted).
enum class XafsVoxel : unsigned char { Valid, SmallJump, FewPoints, NoCrossing, Unsettled };

// The ranges one voxel's fit used, in eV, and the degree of its post-edge polynomial.
struct XafsRanges
{
    double pre1 = 0.0;
    double pre2 = 0.0;
    double post1 = 0.0;
    double post2 = 0.0;
    int nnorm = 1;
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
    XafsVoxel state = XafsVoxel::SmallJump;
    // With a polynomial post-edge: µ - pre(E) = sum curve[j] (E - curveRef)^j.
    bool polynomial = false;
    double curveRef = 0.0;
    double curveScale = 1.0; // the curve's variable is (E - curveRef) / curveScale
    double curve[4] = {0.0, 0.0, 0.0, 0.0};
    int nnorm = 1;
    // post(E) - pre(E) of the polynomial post-edge.
    double curveAt(double energy) const
    {
        const double t = (energy - curveRef) / curveScale;
        return curve[0] + t * (curve[1] + t * (curve[2] + t * curve[3]));
    }
    // (post(E) - pre(E)) / jump, what flattening takes off above E0 (less one).
    double postOverJump(double energy) const
    {
        return (polynomial ? curveAt(energy) : post.at(energy) - pre.at(energy)) / jump;
    }
};

// Normalises µ(E) as XAFS spectra are normalised: a straight line fitted by least
// squares to the pre-edge range, a line or polynomial to the post-edge range, E0 at the
// steepest rise (or where the normalised µ crosses one half), the edge step
// post(E0) - pre(E0), and (µ - pre(E)) / step. With absolute ranges, a straight
// post-edge and the slope's E0, the least-squares weights are the same for every voxel
// and are worked out once here; otherwise each voxel's ranges follow its own E0.
class XafsNormaliser
{
public:
    XafsNormaliser(const std::vector<double> &energies, const XafsSettings &settings);

    // Empty when spectra on these energies can be normalised, otherwise the reason.
    const QString &problem() const { return why; }
    const std::vector<double> &energies() const { return grid; }
    const XafsSettings &settingsUsed() const { return settings; }
    // The absolute ranges in effect (after the thirds), when ranges are absolute.
    double preEdge1() const { return pre1; }
    double preEdge2() const { return pre2; }
    double postEdge1() const { return post1; }
    double postEdge2() const { return post2; }
    // Whether each voxel's ranges follow its E0 (relative ranges or the default rule).
    bool followsE0() const { return mode != Mode::Absolute; }
    bool defaultRule() const { return mode == Mode::Default; }
    // The ranges and degree a voxel whose E0 is e0 is fitted with (clipped to the scan).
    XafsRanges rangesAt(double e0) const;

    // mu[k * stride] is µ at energies()[k].
    template<typename T>
    XafsFit fit(const T *mu, size_t stride = 1) const;
    // The fits of `count` voxels whose pages lie `stride` values apart: mu[k * stride + j]
    // is µ of voxel j at energies()[k]. With fixed weights, the same arithmetic in the
    // same order as fit() voxel by voxel, so the same bits, but run energy by energy
    // across the voxels: the inner loops then read contiguous memory and vectorise.
    void fitMany(const float *mu, size_t stride, size_t count, XafsFit *fits) const;
    double normalised(const XafsFit &f, size_t k, double mu) const
    {
        return f.valid ? (mu - f.pre.at(grid[k])) / f.jump : std::nan("");
    }
    // The normalised value with the post-edge curve's departure from a constant taken
    // off above E0, so that the post-edge oscillates about 1.
    double flattened(const XafsFit &f, size_t k, double mu) const;

    // Vertex of the parabola through three points, limited to [x0, x2]; x1 when the
    // points do not bend down (no maximum between them).
    static double parabolaPeak(double x0, double y0, double x1, double y1, double x2, double y2);

private:
    enum class Mode { Absolute, Relative, Default };
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
    // A voxel's fit when its ranges follow E0, the post-edge is a polynomial or E0 is
    // where the normalised µ crosses one half; mu holds one value per energy.
    XafsFit fitEach(const double *mu) const;
    void fitEachOfMany(const float *mu, size_t stride, size_t count, XafsFit *fits) const;
    // The fit with E0 given; false state when a range holds too few energies.
    void fitAt(const double *mu, double e0, XafsFit *f) const;
    // Where the normalised µ first rises through 0.5; NaN when it never does.
    double halfCrossing(const double *mu, const XafsFit &f) const;
    bool fixedWeights() const { return legacy; }

    std::vector<double> grid;
    XafsSettings settings;
    Mode mode = Mode::Absolute;
    bool legacy = true;
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
    if (!fixedWeights()) {
        std::vector<double> values(grid.size());
        for (size_t k = 0; k < grid.size(); ++k)
            values[k] = static_cast<double>(mu[k * stride]);
        return fitEach(values.data());
    }
    f.pre = line(preWeights, mu, stride);
    f.post = line(postWeights, mu, stride);
    f.e0 = std::isfinite(settings.fixedE0) ? settings.fixedE0 : steepestRise(mu, stride);
    complete(&f);
    return f;
}
