#include "XafsNormaliser.h"

#include <algorithm>
#include <cmath>

XafsNormaliser::XafsNormaliser(const std::vector<double> &energies, const XafsSettings &s)
    : grid(energies)
    , settings(s)
{
    if (grid.size() < 3) {
        why = QStringLiteral("fewer than 3 energies");
        return;
    }
    for (size_t k = 0; k + 1 < grid.size(); ++k) {
        if (!(grid[k + 1] > grid[k])) {
            why = QStringLiteral("energies are not strictly increasing");
            return;
        }
    }
    if (s.relativeGiven())
        mode = Mode::Relative;
    else if (s.absoluteGiven())
        mode = Mode::Absolute;
    else
        mode = Mode::Default;
    settings.nnorm = std::clamp(s.nnorm, -1, 3);
    // Absolute ranges with a straight post-edge and the slope's E0 are fitted with the
    // same weights for every voxel, in the arithmetic results have always had.
    legacy = mode == Mode::Absolute && (settings.nnorm < 0 || settings.nnorm == 1) &&
             s.e0Method == XafsE0Method::Slope;
    if (mode != Mode::Absolute) {
        // E0 is looked for over the whole scan but its two first and two last energies,
        // where no range could be fitted on one side of it.
        riseFirst = 2;
        riseEnd = grid.size() >= 3 ? grid.size() - 3 : 0;
        if (!std::isfinite(s.fixedE0) && riseFirst >= riseEnd)
            why = QStringLiteral("fewer than 6 energies to look for E0 in");
        return;
    }
    const double low = grid.front();
    const double high = grid.back();
    const double third = (high - low) / 3.0;
    const bool preGiven = std::isfinite(s.preEdge1) && std::isfinite(s.preEdge2);
    const bool postGiven = std::isfinite(s.postEdge1) && std::isfinite(s.postEdge2);
    pre1 = preGiven ? std::min(s.preEdge1, s.preEdge2) : low;
    pre2 = preGiven ? std::max(s.preEdge1, s.preEdge2) : low + third;
    post1 = postGiven ? std::min(s.postEdge1, s.postEdge2) : high - third;
    post2 = postGiven ? std::max(s.postEdge1, s.postEdge2) : high;
    preWeights = weightsFor(pre1, pre2);
    postWeights = weightsFor(post1, post2);
    if (preWeights.index.empty()) {
        why = QStringLiteral("no energy in the pre-edge range");
        return;
    }
    if (postWeights.index.empty()) {
        why = QStringLiteral("no energy in the post-edge range");
        return;
    }
    // The rise is looked for where µ, drawn as straight pieces between the measured
    // energies, runs between the end of the pre-edge and the start of the post-edge.
    riseFirst = grid.size();
    riseEnd = 0;
    for (size_t k = 0; k + 1 < grid.size(); ++k) {
        if (grid[k + 1] > pre2 && grid[k] < post1) {
            riseFirst = std::min(riseFirst, k);
            riseEnd = k + 1;
        }
    }
    if (!std::isfinite(s.fixedE0) && riseFirst >= riseEnd)
        why = QStringLiteral("no energies between the pre-edge and the post-edge");
}

XafsNormaliser::LineWeights XafsNormaliser::weightsFor(double from, double to) const
{
    LineWeights w;
    for (size_t k = 0; k < grid.size(); ++k) {
        if (grid[k] >= from && grid[k] <= to)
            w.index.push_back(k);
    }
    if (w.index.empty())
        return w;
    double mean = 0.0;
    for (size_t k : w.index)
        mean += grid[k];
    mean /= static_cast<double>(w.index.size());
    double spread = 0.0;
    for (size_t k : w.index)
        spread += (grid[k] - mean) * (grid[k] - mean);
    w.energyRef = mean;
    // One energy gives a level but no slope: the line is flat.
    for (size_t k : w.index)
        w.slopeWeight.push_back(spread > 0.0 ? (grid[k] - mean) / spread : 0.0);
    return w;
}

double XafsNormaliser::parabolaPeak(double x0, double y0, double x1, double y1, double x2,
                                    double y2)
{
    // Divided differences of the interpolating parabola y = y1 + b (x - x1) + c (x - x1)^2.
    const double d01 = (y1 - y0) / (x1 - x0);
    const double d12 = (y2 - y1) / (x2 - x1);
    const double c = (d12 - d01) / (x2 - x0);
    if (!(c < 0.0))
        return x1;
    const double b = d01 + c * (x1 - x0);
    const double peak = x1 - b / (2.0 * c);
    return std::clamp(peak, x0, x2);
}

void XafsNormaliser::complete(XafsFit *f) const
{
    f->jump = f->post.at(f->e0) - f->pre.at(f->e0);
    f->valid = std::isfinite(f->e0) && std::isfinite(f->jump) && f->jump != 0.0 &&
               f->jump >= settings.minJump;
    f->state = f->valid ? XafsVoxel::Valid : XafsVoxel::SmallJump;
    if (!f->valid)
        f->e0 = std::nan("");
}

namespace {

constexpr size_t lane = 64; // voxels worked in step: their running sums stay in registers/L1

} // namespace

void XafsNormaliser::fitMany(const float *mu, size_t stride, size_t count, XafsFit *fits) const
{
    if (!why.isEmpty()) {
        std::fill_n(fits, count, XafsFit());
        return;
    }
    if (!fixedWeights()) {
        fitEachOfMany(mu, stride, count, fits);
        return;
    }
    const bool searchE0 = !std::isfinite(settings.fixedE0);
    double preSum[lane], preSlope[lane], postSum[lane], postSlope[lane];
    double bestRise[lane], bestAt[lane];
    // Least-squares sums of one line for n voxels, term by term in the order line() adds them.
    auto sums = [&](const LineWeights &w, const float *m, size_t n, double *sum, double *slope) {
        std::fill_n(sum, n, 0.0);
        std::fill_n(slope, n, 0.0);
        for (size_t i = 0; i < w.index.size(); ++i) {
            const float *page = m + w.index[i] * stride;
            const double weight = w.slopeWeight[i];
            for (size_t j = 0; j < n; ++j) {
                const double v = static_cast<double>(page[j]);
                sum[j] += v;
                slope[j] += weight * v;
            }
        }
    };
    for (size_t from = 0; from < count; from += lane) {
        const size_t n = std::min(lane, count - from);
        const float *m = mu + from;
        sums(preWeights, m, n, preSum, preSlope);
        sums(postWeights, m, n, postSum, postSlope);
        if (searchE0) {
            std::fill_n(bestRise, n, -std::numeric_limits<double>::infinity());
            std::fill_n(bestAt, n, static_cast<double>(riseFirst));
            for (size_t k = riseFirst; k < riseEnd; ++k) {
                const float *low = m + k * stride;
                const float *high = low + stride;
                const double step = grid[k + 1] - grid[k];
                const double at = static_cast<double>(k);
                for (size_t j = 0; j < n; ++j) {
                    const double r =
                        (static_cast<double>(high[j]) - static_cast<double>(low[j])) / step;
                    const bool steeper = r > bestRise[j];
                    bestRise[j] = steeper ? r : bestRise[j];
                    bestAt[j] = steeper ? at : bestAt[j];
                }
            }
        }
        for (size_t j = 0; j < n; ++j) {
            XafsFit &f = fits[from + j];
            const double preCount = static_cast<double>(preWeights.index.size());
            const double postCount = static_cast<double>(postWeights.index.size());
            f.pre = {preWeights.energyRef, preSum[j] / preCount, preSlope[j]};
            f.post = {postWeights.energyRef, postSum[j] / postCount, postSlope[j]};
            f.e0 = searchE0
                       ? refinedEdge(m + j, stride, static_cast<size_t>(bestAt[j]), bestRise[j])
                       : settings.fixedE0;
            complete(&f);
        }
    }
}

void XafsNormaliser::fitEachOfMany(const float *mu, size_t stride, size_t count,
                                   XafsFit *fits) const
{
    // A lane of voxels is copied spectrum by spectrum first: read page by page, the
    // stack stays in order in memory, and each voxel's fit then reads its own values.
    const size_t energies = grid.size();
    std::vector<double> spectra(lane * energies);
    for (size_t from = 0; from < count; from += lane) {
        const size_t n = std::min(lane, count - from);
        for (size_t k = 0; k < energies; ++k) {
            const float *page = mu + k * stride + from;
            for (size_t j = 0; j < n; ++j)
                spectra[j * energies + k] = static_cast<double>(page[j]);
        }
        for (size_t j = 0; j < n; ++j)
            fits[from + j] = fitEach(spectra.data() + j * energies);
    }
}

namespace {

// The degree of the post-edge polynomial a span of post-edge energies carries: a
// curve needs hundreds of eV of EXAFS to be told from noise, a slope tens of eV.
int degreeForSpan(double span)
{
    if (span > 300.0)
        return 2;
    if (span > 30.0)
        return 1;
    return 0;
}

// Least squares of y over the polynomial of degree `degree` in t (|t| <= 1), by
// modified Gram-Schmidt on the columns t^j with y carried along, which keeps the
// accuracy of a QR solution. False when the columns are dependent.
// y is used up. Buffers are kept per thread: a stack fits a million voxels this way.
bool polynomialFit(const std::vector<double> &t, std::vector<double> &y, int degree,
                   double *coefficients)
{
    const size_t m = t.size();
    const int columns = degree + 1;
    thread_local std::vector<double> q;
    q.resize(m * static_cast<size_t>(columns));
    double r[4][4] = {};
    double qy[4] = {};
    for (int j = 0; j < columns; ++j) {
        double *qj = q.data() + static_cast<size_t>(j) * m;
        for (size_t i = 0; i < m; ++i)
            qj[i] = std::pow(t[i], j);
        for (int l = 0; l < j; ++l) {
            const double *ql = q.data() + static_cast<size_t>(l) * m;
            double dot = 0.0;
            for (size_t i = 0; i < m; ++i)
                dot += ql[i] * qj[i];
            r[l][j] = dot;
            for (size_t i = 0; i < m; ++i)
                qj[i] -= dot * ql[i];
        }
        double norm = 0.0;
        for (size_t i = 0; i < m; ++i)
            norm += qj[i] * qj[i];
        norm = std::sqrt(norm);
        if (!(norm > 0.0))
            return false;
        r[j][j] = norm;
        for (size_t i = 0; i < m; ++i)
            qj[i] /= norm;
        double dot = 0.0;
        for (size_t i = 0; i < m; ++i)
            dot += qj[i] * y[i];
        qy[j] = dot;
        for (size_t i = 0; i < m; ++i)
            y[i] -= dot * qj[i];
    }
    for (int j = columns - 1; j >= 0; --j) {
        double v = qy[j];
        for (int l = j + 1; l < columns; ++l)
            v -= r[j][l] * coefficients[l];
        coefficients[j] = v / r[j][j];
    }
    for (int j = columns; j < 4; ++j)
        coefficients[j] = 0.0;
    return true;
}

} // namespace

double XafsNormaliser::flattened(const XafsFit &f, size_t k, double mu) const
{
    const double n = normalised(f, k, mu);
    if (!f.valid || !(grid[k] > f.e0))
        return n;
    return n - (f.postOverJump(grid[k]) - 1.0);
}

XafsRanges XafsNormaliser::rangesAt(double e0) const
{
    const double first = grid.front();
    const double last = grid.back();
    XafsRanges r;
    switch (mode) {
    case Mode::Absolute:
        r = {pre1, pre2, post1, post2, settings.nnorm >= 0 ? settings.nnorm : 1};
        return r;
    case Mode::Relative:
        r.pre1 = std::max(first, e0 + settings.preRelative1);
        r.pre2 = std::min(last, e0 + settings.preRelative2);
        r.post1 = std::max(first, e0 + settings.normRelative1);
        r.post2 = std::min(last, e0 + settings.normRelative2);
        break;
    case Mode::Default:
        // The half of the pre-edge nearest the edge is left out, and the post-edge starts
        // 25 eV above E0 or a third of the way to the end, whichever is nearer.
        r.pre1 = first;
        r.pre2 = e0 + 0.5 * (first - e0);
        r.post1 = e0 + std::min(25.0, (last - e0) / 3.0);
        r.post2 = last;
        break;
    }
    r.nnorm = settings.nnorm >= 0 ? settings.nnorm : degreeForSpan(r.post2 - r.post1);
    return r;
}

void XafsNormaliser::fitAt(const double *mu, double e0, XafsFit *f) const
{
    const XafsRanges r = rangesAt(e0);
    f->e0 = e0;
    f->nnorm = r.nnorm;
    f->polynomial = true;
    f->valid = false;
    f->jump = std::nan("");
    f->state = XafsVoxel::FewPoints;
    // The measured energies in a range, ends included.
    auto range = [this](double from, double to) {
        const size_t a =
            static_cast<size_t>(std::lower_bound(grid.begin(), grid.end(), from) - grid.begin());
        const size_t b =
            static_cast<size_t>(std::upper_bound(grid.begin(), grid.end(), to) - grid.begin());
        return std::make_pair(a, std::max(a, b));
    };
    const auto [preFrom, preEnd] = range(r.pre1, r.pre2);
    const auto [postFrom, postEnd] = range(r.post1, r.post2);
    if (preEnd - preFrom < 2 || postEnd - postFrom < static_cast<size_t>(r.nnorm) + 1)
        return;
    double meanE = 0.0, meanMu = 0.0;
    for (size_t k = preFrom; k < preEnd; ++k) {
        meanE += grid[k];
        meanMu += mu[k];
    }
    const double preCount = static_cast<double>(preEnd - preFrom);
    meanE /= preCount;
    meanMu /= preCount;
    double spread = 0.0, slope = 0.0;
    for (size_t k = preFrom; k < preEnd; ++k) {
        spread += (grid[k] - meanE) * (grid[k] - meanE);
        slope += (grid[k] - meanE) * mu[k];
    }
    f->pre = {meanE, meanMu, slope / spread};
    // The post-edge curve is fitted to µ - pre(E) in a variable running over [-1, 1]
    // across the range: energies of thousands of eV, raised to the third power, would
    // otherwise leave the fit a few significant digits.
    const double centre = 0.5 * (grid[postFrom] + grid[postEnd - 1]);
    const double half = 0.5 * (grid[postEnd - 1] - grid[postFrom]);
    f->curveRef = centre;
    f->curveScale = half > 0.0 ? half : 1.0;
    thread_local std::vector<double> t, y;
    t.clear();
    y.clear();
    for (size_t k = postFrom; k < postEnd; ++k) {
        t.push_back((grid[k] - centre) / f->curveScale);
        y.push_back(mu[k] - f->pre.at(grid[k]));
    }
    if (!polynomialFit(t, y, r.nnorm, f->curve))
        return;
    f->jump = f->curveAt(e0);
    // The straight line through post(E) at E0 with its slope there, for whoever draws it.
    const double delta = 1e-3 * f->curveScale;
    const double ahead = f->curveAt(e0 + delta);
    f->post = {e0, f->pre.at(e0) + f->jump, f->pre.slope + (ahead - f->jump) / delta};
    f->valid = std::isfinite(f->jump) && f->jump != 0.0 && f->jump >= settings.minJump;
    f->state = f->valid ? XafsVoxel::Valid : XafsVoxel::SmallJump;
}

double XafsNormaliser::halfCrossing(const double *mu, const XafsFit &f) const
{
    if (!std::isfinite(f.jump) || f.jump == 0.0)
        return std::nan("");
    double below = (mu[0] - f.pre.at(grid[0])) / f.jump;
    for (size_t k = 0; k + 1 < grid.size(); ++k) {
        const double above = (mu[k + 1] - f.pre.at(grid[k + 1])) / f.jump;
        if (below < 0.5 && above >= 0.5)
            return grid[k] + (0.5 - below) / (above - below) * (grid[k + 1] - grid[k]);
        below = above;
    }
    return std::nan("");
}

XafsFit XafsNormaliser::fitEach(const double *mu) const
{
    XafsFit f;
    const bool fixed = std::isfinite(settings.fixedE0);
    const double e0 = fixed ? settings.fixedE0 : steepestRise(mu, 1);
    if (!std::isfinite(e0)) {
        f.state = XafsVoxel::FewPoints;
        f.jump = std::nan("");
        return f;
    }
    fitAt(mu, e0, &f);
    if (!fixed && settings.e0Method == XafsE0Method::Half) {
        // E0 moves the ranges and the step, which move the half-height crossing: the two
        // are iterated until E0 stands still.
        bool settled = false;
        for (int round = 0; round < 10 && f.state != XafsVoxel::FewPoints; ++round) {
            const double next = halfCrossing(mu, f);
            if (!std::isfinite(next)) {
                f.valid = false;
                f.state = XafsVoxel::NoCrossing;
                f.jump = std::nan("");
                break;
            }
            const double moved = std::abs(next - f.e0);
            fitAt(mu, next, &f);
            if (moved < 0.01) {
                settled = true;
                break;
            }
        }
        if (!settled && f.valid)
            f.state = XafsVoxel::Unsettled;
    }
    if (!f.valid)
        f.e0 = std::nan("");
    return f;
}
