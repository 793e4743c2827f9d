// CorEstimate on 360-degree scans (declared in CorEstimate.h): mirrored pairs of
// projections half a turn apart.

#include "CorEstimate.h"

#include "imgdata/ImgDatas.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The pairs compared; more add little to a centre that 16 already fix.
constexpr int maxPairs = 16;

// The overlap of a line and its mirrored partner at t = 2 * centre, each pair
// about its own means: the beam may drift between a projection and its partner,
// which shifts one attenuation line by a constant.
struct Moments
{
    double va = 0, vb = 0, cov = 0;

    void add(const std::vector<double> &x, const std::vector<double> &y, int t)
    {
        const int len = static_cast<int>(x.size());
        const int from = std::max(0, t - (len - 1));
        const int to = std::min(len - 1, t);
        double n = 0, a = 0, b = 0, aa = 0, bb = 0, ab = 0;
        for (int i = from; i <= to; ++i) {
            const double u = x[i];
            const double v = y[t - i];
            n += 1;
            a += u;
            b += v;
            aa += u * u;
            bb += v * v;
            ab += u * v;
        }
        if (n < 2)
            return;
        va += aa - a * a / n;
        vb += bb - b * b / n;
        cov += ab - a * b / n;
    }
    // The correlation coefficient pooled over the pairs; -1 without structure.
    double coefficient() const
    {
        if (!(va > 0.0 && vb > 0.0))
            return -1.0;
        return cov / std::sqrt(va * vb);
    }
};

CorEstimate::Result refusedTurn(const QString &why)
{
    CorEstimate::Result r;
    r.reason = why;
    return r;
}

} // namespace

CorEstimate::Result CorEstimate::fromMirrorPairs(const std::vector<Pair> &pairs, int length,
                                                 Range range)
{
    if (pairs.empty())
        return refusedTurn(QStringLiteral("no detector lines"));
    if (length < 8)
        return refusedTurn(QStringLiteral("detector line too short"));
    for (const Pair &p : pairs)
        if (int(p.line.size()) != length || int(p.opposite.size()) != length)
            return refusedTurn(QStringLiteral("detector lines of unequal length"));
    // Overlaps of fewer samples than this match anything.
    const int minOverlap = std::max(6, length / 20);
    // t = 2 * centre; the overlap at t holds min(t, 2 (len - 1) - t) + 1 samples.
    int tLo = minOverlap - 1;
    int tHi = 2 * (length - 1) - (minOverlap - 1);
    if (std::isfinite(range.from))
        tLo = std::max(tLo, static_cast<int>(std::ceil(2.0 * std::max(range.from, -1e9))));
    if (std::isfinite(range.to))
        tHi = std::min(tHi, static_cast<int>(std::floor(2.0 * std::min(range.to, 1e9))));
    if (tLo > tHi)
        return refusedTurn(QStringLiteral("empty search range"));
    std::vector<double> score(static_cast<size_t>(tHi - tLo + 1));
    for (int t = tLo; t <= tHi; ++t) {
        Moments m;
        for (const Pair &p : pairs)
            m.add(p.line, p.opposite, t);
        score[t - tLo] = m.coefficient();
    }
    const size_t best = std::max_element(score.begin(), score.end()) - score.begin();
    if (!(score[best] > 0.0))
        return refusedTurn(QStringLiteral("flat sinogram"));
    if (best == 0 || best + 1 == score.size())
        return refusedTurn(QStringLiteral("the best match lies at the end of the search range"));
    double t = tLo + double(best);
    const double a = score[best - 1], b = score[best], c = score[best + 1];
    const double curvature = a - 2.0 * b + c;
    if (curvature < 0.0)
        t += 0.5 * (a - c) / curvature;
    // The confidence: the peak over the best value beyond its own slopes, both
    // above the lowest value searched.
    size_t left = best, right = best;
    while (left > 0 && score[left - 1] <= score[left])
        --left;
    while (right + 1 < score.size() && score[right + 1] <= score[right])
        ++right;
    const double floor = *std::min_element(score.begin(), score.end());
    double rival = floor;
    for (size_t k = 0; k < score.size(); ++k)
        if (k < left || k > right)
            rival = std::max(rival, score[k]);
    Result r;
    r.cor = 0.5 * t;
    r.confidence = rival - floor > (b - floor) / 100.0 ? (b - floor) / (rival - floor) : 100.0;
    r.ok = std::isfinite(r.cor);
    if (!r.ok)
        r.reason = QStringLiteral("no finite estimate");
    return r;
}

CorEstimate::Result CorEstimate::fromStackTurn(const ImgDatas &stack, bool rotAxIsV, int slice,
                                               Range range, const std::vector<double> &anglesDeg,
                                               int extraSlices)
{
    const int p = stack.count();
    if (p < 2)
        return refusedTurn(QStringLiteral("too few projections"));
    if (!anglesDeg.empty() && int(anglesDeg.size()) != p)
        return refusedTurn(QStringLiteral("Angle count %1 differs from projections %2")
                               .arg(anglesDeg.size())
                               .arg(p));
    const auto angleOf = [&](int i) {
        return anglesDeg.empty() ? i * 360.0 / p : anglesDeg[static_cast<size_t>(i)];
    };
    // Each frame's partner: the frame nearest its angle + 180 degrees.
    const auto partnerOf = [&](int i) {
        int best = -1;
        double bestGap = std::numeric_limits<double>::infinity();
        for (int j = 0; j < p; ++j) {
            double gap = std::fmod(std::fabs(angleOf(j) - angleOf(i) - 180.0), 360.0);
            gap = std::min(gap, 360.0 - gap);
            if (gap < bestGap) {
                bestGap = gap;
                best = j;
            }
        }
        return best;
    };
    std::vector<int> frames;
    for (int i = 0; i < p; ++i) {
        double a = std::fmod(angleOf(i) - angleOf(0), 360.0);
        if (a < 0)
            a += 360.0;
        if (a < 180.0)
            frames.push_back(i);
    }
    if (frames.empty())
        return refusedTurn(QStringLiteral("no projection in the first half turn"));
    const int lines = rotAxIsV ? stack.height() : stack.width();
    if (slice < 0 || slice >= lines)
        return refusedTurn(QStringLiteral("slice outside the image"));
    const int len = rotAxIsV ? stack.width() : stack.height();
    const int lo = std::max(0, slice - std::max(0, extraSlices));
    const int hi = std::min(lines - 1, slice + std::max(0, extraSlices));
    const int count = std::min<int>(maxPairs, static_cast<int>(frames.size()));
    std::vector<Pair> pairs;
    for (int k = 0; k < count; ++k) {
        const int i = frames[static_cast<size_t>(k) * frames.size() / count];
        const int j = partnerOf(i);
        if (j < 0 || j == i)
            continue;
        for (int s = lo; s <= hi; ++s)
            pairs.push_back(
                {attenuationLine(stack, rotAxIsV, i, s), attenuationLine(stack, rotAxIsV, j, s)});
    }
    return fromMirrorPairs(pairs, len, range);
}
