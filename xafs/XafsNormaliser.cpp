#include "XafsNormaliser.h"

#include <algorithm>

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
