#include "XafsVoxelFits.h"

#include "xafs/XafsHelperThread.h"
#include "xafs/XafsStack.h"

#include <QDebug>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

XafsFlatCurve flatCurveOf(const XafsFit &f)
{
    XafsFlatCurve c;
    c.e0 = f.e0;
    if (f.polynomial) {
        c.ref = f.curveRef;
        c.scale = f.curveScale;
        std::copy(f.curve, f.curve + 4, c.c);
    } else {
        // Two straight lines: their difference is a line through the jump at E0.
        c.ref = f.e0;
        c.c[0] = f.jump;
        c.c[1] = f.post.slope - f.pre.slope;
    }
    return c;
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

void XafsVoxelFits::fitRange(const XafsStack &mu, const XafsNormaliser &normaliser, size_t first,
                             size_t end)
{
    constexpr size_t block = 1024;
    std::vector<XafsFit> fitted(block);
    for (size_t from = first; from < end; from += block) {
        const size_t n = std::min(block, end - from);
        normaliser.fitMany(mu.page(0) + from, mu.pixels(), n, fitted.data());
        for (size_t j = 0; j < n; ++j) {
            const XafsFit &f = fitted[j];
            preRef[from + j] = f.pre.energyRef;
            state[from + j] = f.state;
            nnorm[from + j] = static_cast<unsigned char>(f.nnorm);
            if (!curves.empty())
                curves[from + j] = flatCurveOf(f);
            preLevel[from + j] = f.pre.level;
            preSlope[from + j] = f.pre.slope;
            jump[from + j] = f.jump;
            valid[from + j] = f.valid ? 1 : 0;
            jumpMap[from + j] = static_cast<float>(f.jump);
            e0Map[from + j] = static_cast<float>(f.e0);
        }
    }
}

void XafsVoxelFits::fit(const XafsStack &mu, const XafsNormaliser &normaliser, bool flatten)
{
    const size_t count = mu.pixels();
    preRef.resize(count);
    state.resize(count);
    nnorm.resize(count);
    curves.resize(flatten ? count : 0);
    preLevel.resize(count);
    preSlope.resize(count);
    jump.resize(count);
    valid.resize(count);
    jumpMap.resize(count);
    e0Map.resize(count);
    const size_t half = count / 2;
    XafsHelperThread::share([&] { fitRange(mu, normaliser, half, count); },
                            [&] { fitRange(mu, normaliser, 0, half); });
    const double percent = normaliser.settingsUsed().minJumpPercent;
    if (percent > 0.0)
        leaveOutBelow(percent);
}

void XafsVoxelFits::leaveOutBelow(double percent)
{
    // A share of the largest jump, so that one setting fits slices and samples whose
    // absorbers differ in strength; a few voxels of rounding far off would not move it
    // much, as the jump is an average over the post-edge range.
    double largest = 0.0;
    for (size_t i = 0; i < valid.size(); ++i) {
        if (valid[i] && std::isfinite(jump[i]))
            largest = std::max(largest, jump[i]);
    }
    const double least = percent / 100.0 * largest;
    for (size_t i = 0; i < valid.size(); ++i) {
        if (valid[i] && jump[i] < least) {
            valid[i] = 0;
            state[i] = XafsVoxel::SmallJump;
            e0Map[i] = std::numeric_limits<float>::quiet_NaN();
        }
    }
}

void XafsVoxelFits::normalisedPage(const float *mu, double energy, float *out) const
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (size_t i = 0; i < valid.size(); ++i) {
        const double offset = energy - preRef[i];
        const double pre = preLevel[i] + preSlope[i] * offset;
        out[i] = valid[i] ? static_cast<float>((static_cast<double>(mu[i]) - pre) / jump[i]) : nan;
    }
}

void XafsVoxelFits::flatPage(const float *normalised, double energy, float *out) const
{
    for (size_t i = 0; i < valid.size(); ++i) {
        const XafsFlatCurve &c = curves[i];
        if (!(energy > c.e0) || !valid[i]) {
            out[i] = normalised[i];
            continue;
        }
        const double t = (energy - c.ref) / c.scale;
        const double curve = c.c[0] + t * (c.c[1] + t * (c.c[2] + t * c.c[3]));
        out[i] = static_cast<float>(normalised[i] - (curve / jump[i] - 1.0));
    }
}

QJsonObject XafsVoxelFits::record(int slice, const XafsNormaliser &normaliser) const
{
    QJsonObject o{{"slice", slice}, {"voxels", static_cast<qint64>(valid.size())}};
    qint64 counts[5] = {0, 0, 0, 0, 0};
    qint64 degrees[4] = {0, 0, 0, 0};
    std::vector<double> e0s;
    for (size_t i = 0; i < valid.size(); ++i) {
        ++counts[static_cast<int>(state[i])];
        if (valid[i]) {
            ++degrees[std::min<int>(nnorm[i], 3)];
            e0s.push_back(e0Map[i]);
        }
    }
    o.insert("valid", counts[0] + counts[4]);
    o.insert("nan", QJsonObject{{"jump_below_minimum", counts[1]},
                                {"too_few_points_in_a_range", counts[2]},
                                {"never_crosses_half", counts[3]}});
    o.insert("e0_not_settled_after_10_rounds", counts[4]);
    if (normaliser.followsE0()) {
        const double median = medianOf(e0s);
        o.insert("median_e0_eV", std::isfinite(median) ? QJsonValue(median) : QJsonValue());
        if (std::isfinite(median)) {
            const XafsRanges r = normaliser.rangesAt(median);
            o.insert("at_median_e0", QJsonObject{{"pre_edge_eV", QJsonArray{r.pre1, r.pre2}},
                                                 {"post_edge_eV", QJsonArray{r.post1, r.post2}},
                                                 {"nnorm", r.nnorm}});
        }
        o.insert("voxels_per_nnorm",
                 QJsonObject{
                     {"0", degrees[0]}, {"1", degrees[1]}, {"2", degrees[2]}, {"3", degrees[3]}});
    }
    if (counts[1] + counts[2] + counts[3] > 0 || counts[4] > 0)
        qDebug() << "XAFS: voxels left NaN in slice" << slice << "jump below minimum" << counts[1]
                 << "too few points in a range" << counts[2] << "never crossing one half"
                 << counts[3] << "E0 not settled" << counts[4];
    return o;
}
