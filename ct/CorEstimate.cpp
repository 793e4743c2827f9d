#include "CorEstimate.h"

#include "FftwPlanner.h"
#include "HSgm.h"
#include "RingRemoval.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace {

constexpr double pi = 3.141592653589793;
using Spectrum = std::vector<std::complex<double>>;

// Lines shorter than this hold too little to compare.
constexpr int minimumLength = 8;
// The confidence reported when no rival peak comes near (or none is above 0).
constexpr double maxConfidence = 100.0;
// The stripe window of the defect rules. A defect is a column or two wide; a narrow
// median follows the object's own shape across columns, so that its curvature is
// not taken for offsets (a typical ring-removal window of 21 moves the centre of
// a 40-column scan by a tenth of a pixel).
constexpr int defectWindow = 5;
// The most angles the defect rules look at.
constexpr int defectRows = 128;

// A detector line made ready for correlation: the background under the object
// (a straight line through the mean levels of both ends) is taken off and both
// ends are tapered, so that an object cut by the field of view does not correlate
// through its hard edges. The treatment is symmetric, so a mirrored line gets the
// same treatment as the line it mirrors.
std::vector<double> prepared(const std::vector<double> &line)
{
    const int n = static_cast<int>(line.size());
    const int endLength = std::max(1, n / 32);
    double left = 0.0;
    double right = 0.0;
    for (int i = 0; i < endLength; ++i) {
        left += line[i];
        right += line[n - 1 - i];
    }
    left /= endLength;
    right /= endLength;
    const int taper = std::max(1, n / 16);
    std::vector<double> out(line.size());
    for (int i = 0; i < n; ++i) {
        const double background = left + (right - left) * i / std::max(1, n - 1);
        double weight = 1.0;
        const int fromEnd = std::min(i, n - 1 - i);
        if (fromEnd < taper)
            weight = 0.5 - 0.5 * std::cos(pi * (fromEnd + 0.5) / taper);
        out[i] = (line[i] - background) * weight;
    }
    return out;
}

// The FFT length: a power of two at least twice the line, so that the circular
// correlation never wraps one end of a line onto the other.
int fftLength(int length)
{
    int m = 16;
    while (m < 2 * length)
        m *= 2;
    return m;
}

class Correlator
{
public:
    explicit Correlator(int length)
        : len(length)
        , m(fftLength(length))
        , real(static_cast<size_t>(m))
        , spectrum(static_cast<size_t>(m / 2 + 1))
    {
        forwardPlan.reset(
            FftwPlanner::planDftR2c1d(m, real.data(), spectrum.data(), FFTW_ESTIMATE));
        inversePlan.reset(
            FftwPlanner::planDftC2r1d(m, spectrum.data(), real.data(), FFTW_ESTIMATE));
    }
    bool ok() const { return forwardPlan && inversePlan && real.data() && spectrum.data(); }
    int size() const { return m; }

    // The spectrum of a line of `len` samples, zero-padded to m; mirrored when asked.
    Spectrum transform(const std::vector<double> &line, bool mirrored)
    {
        for (int i = 0; i < m; ++i)
            real[i] = 0.0;
        for (int i = 0; i < len; ++i)
            real[i] = mirrored ? line[len - 1 - i] : line[i];
        forwardPlan.execute();
        Spectrum s(static_cast<size_t>(m / 2 + 1));
        for (size_t k = 0; k < s.size(); ++k)
            s[k] = {spectrum[k][0], spectrum[k][1]};
        return s;
    }

    // The integer lag in [lo, hi] where the correlation of the cross spectrum peaks.
    // With `confidence`: the peak's height over the highest point outside the peak's
    // own slopes, both above the range's lowest value (at most maxConfidence).
    int coarsePeak(const Spectrum &cross, int lo, int hi, double *confidence = nullptr)
    {
        for (size_t k = 0; k < cross.size(); ++k) {
            spectrum[k][0] = cross[k].real();
            spectrum[k][1] = cross[k].imag();
        }
        inversePlan.execute();
        const auto value = [this](int t) { return real[static_cast<size_t>(((t % m) + m) % m)]; };
        int best = lo;
        double bestValue = -std::numeric_limits<double>::infinity();
        for (int t = lo; t <= hi; ++t) {
            const double v = value(t);
            if (v > bestValue) {
                bestValue = v;
                best = t;
            }
        }
        if (confidence) {
            // The peak's slopes run down to the first rise on either side; a rival
            // is the best value beyond them.
            int left = best;
            while (left > lo && value(left - 1) <= value(left))
                --left;
            int right = best;
            while (right < hi && value(right + 1) <= value(right))
                ++right;
            // Heights are taken above the lowest value of the range: the correlation
            // of lines with their background taken off dips below 0 beside the peak.
            double floor = bestValue;
            for (int t = lo; t <= hi; ++t)
                floor = std::min(floor, value(t));
            double rival = floor;
            for (int t = lo; t < left; ++t)
                rival = std::max(rival, value(t));
            for (int t = right + 1; t <= hi; ++t)
                rival = std::max(rival, value(t));
            const double height = bestValue - floor;
            *confidence = maxConfidence;
            if (rival - floor > height / maxConfidence)
                *confidence = height / (rival - floor);
        }
        return best;
    }

    // The correlation at a real lag t, interpolated by its own band-limited series
    // (the Nyquist term left out so that the series stays real).
    double at(const Spectrum &cross, double t) const
    {
        const double w = 2.0 * pi * t / m;
        const std::complex<double> step(std::cos(w), std::sin(w));
        std::complex<double> phase = step;
        double sum = 0.5 * cross[0].real();
        for (int k = 1; k < m / 2; ++k) {
            sum += (cross[k] * phase).real();
            phase *= step;
            // Renormalise now and then so that rounding cannot grow the phasor.
            if ((k & 255) == 0)
                phase /= std::abs(phase);
        }
        return sum;
    }

    // The real lag in [lo, hi] near the integer peak where the interpolated
    // correlation is largest: a grid of 1/64 pixel, then a parabola through the
    // best grid point and its neighbours.
    // atEnd: the best grid point is an end of [lo, hi], so the peak may lie beyond.
    double finePeak(const Spectrum &cross, int coarse, double lo, double hi,
                    bool *atEnd = nullptr) const
    {
        const double from = std::max(lo, coarse - 1.0);
        const double to = std::min(hi, coarse + 1.0);
        const double h = 1.0 / 64.0;
        const int steps = std::max(0, static_cast<int>(std::floor((to - from) / h)));
        std::vector<double> values(static_cast<size_t>(steps) + 1);
        int best = 0;
        for (int i = 0; i <= steps; ++i) {
            values[i] = at(cross, from + i * h);
            if (values[i] > values[best])
                best = i;
        }
        if (atEnd)
            *atEnd = (best == 0 && from == lo) || (best == steps && to == hi);
        double t = from + best * h;
        if (best > 0 && best < steps) {
            const double a = values[best - 1];
            const double b = values[best];
            const double c = values[best + 1];
            const double curvature = a - 2.0 * b + c;
            if (curvature < 0.0)
                t += 0.5 * h * (a - c) / curvature;
        }
        return std::clamp(t, lo, hi);
    }

private:
    int len;
    int m;
    FftwBuffer<double> real;
    FftwBuffer<fftw_complex> spectrum;
    FftwPlan forwardPlan;
    FftwPlan inversePlan;
};

// a times the conjugate of b, added to sum.
void addCross(Spectrum *sum, const Spectrum &a, const Spectrum &b)
{
    for (size_t k = 0; k < sum->size(); ++k)
        (*sum)[k] += a[k] * std::conj(b[k]);
}

double energy(const std::vector<double> &line)
{
    double e = 0.0;
    for (double v : line)
        e += v * v;
    return e;
}

CorEstimate::Result refused(const QString &why)
{
    CorEstimate::Result r;
    r.reason = why;
    return r;
}

} // namespace

CorEstimate::Range CorEstimate::wholeLine()
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    return {none, none};
}

CorEstimate::Result CorEstimate::fromLines(const std::vector<Lines> &slices, int length,
                                           Range range)
{
    if (slices.empty())
        return refused(QStringLiteral("no detector lines"));
    if (length < minimumLength)
        return refused(QStringLiteral("detector line too short"));
    for (const Lines &l : slices)
        if (int(l.first.size()) != length || int(l.second.size()) != length ||
            int(l.beforeLast.size()) != length || int(l.last.size()) != length)
            return refused(QStringLiteral("detector lines of unequal length"));

    // Every centre that leaves a sinogram of at least 3 samples: halfWidth >= 2.
    double from = 2.0;
    double to = length - 3.0;
    if (std::isfinite(range.from))
        from = std::max(from, range.from);
    if (std::isfinite(range.to))
        to = std::min(to, range.to);
    if (!(from <= to))
        return refused(QStringLiteral("empty search range"));

    Correlator correlator(length);
    if (!correlator.ok())
        return refused(QStringLiteral("no memory for the correlation"));
    const size_t bins = static_cast<size_t>(correlator.size() / 2 + 1);
    Spectrum mirrorCross(bins);
    Spectrum firstDrift(bins);
    Spectrum lastDrift(bins);
    double structure = 0.0;
    for (const Lines &l : slices) {
        const std::vector<double> first = prepared(l.first);
        const std::vector<double> last = prepared(l.last);
        structure += std::min(energy(first), energy(last));
        const Spectrum f0 = correlator.transform(first, false);
        addCross(&mirrorCross, f0, correlator.transform(last, true));
        addCross(&firstDrift, correlator.transform(prepared(l.second), false), f0);
        addCross(&lastDrift, correlator.transform(last, false),
                 correlator.transform(prepared(l.beforeLast), false));
    }
    // Nothing but noise-free background: no feature to align.
    if (!(structure > 1e-12 * length * double(slices.size())))
        return refused(QStringLiteral("flat sinogram"));

    // Sideways drift of the object over one angle step at either end of the scan.
    const int driftReach = std::max(2, length / 8);
    const double b0 =
        correlator.finePeak(firstDrift, correlator.coarsePeak(firstDrift, -driftReach, driftReach),
                            -driftReach, driftReach);
    const double d =
        correlator.finePeak(lastDrift, correlator.coarsePeak(lastDrift, -driftReach, driftReach),
                            -driftReach, driftReach);
    // Mirrored, the last projection is the one at -1 step, and its drift to the
    // first (at 0) is the mean of the drifts into and out of that gap.
    const double drift = 0.5 * (b0 - d);

    // first(x) = mirrored last(x - t) with t = 2 cor - (length - 1) + drift.
    const double tLo = 2.0 * from - (length - 1) + drift;
    const double tHi = 2.0 * to - (length - 1) + drift;
    const int lo = static_cast<int>(std::ceil(tLo));
    const int hi = static_cast<int>(std::floor(tHi));
    double confidence = maxConfidence;
    const int coarse = lo <= hi ? correlator.coarsePeak(mirrorCross, lo, hi, &confidence)
                                : static_cast<int>(std::lround(0.5 * (tLo + tHi)));
    bool atEnd = false;
    const double t = correlator.finePeak(mirrorCross, coarse, tLo, tHi, &atEnd);
    // A best match at the range's end is where the correlation still rises, not a
    // peak: the centre lies beyond, or there is none.
    if (atEnd)
        return refused(QStringLiteral("the best match lies at the end of the search range"));
    Result r;
    r.cor = std::clamp(0.5 * (t - drift + length - 1), from, to);
    r.confidence = confidence;
    r.ok = std::isfinite(r.cor);
    if (!r.ok)
        r.reason = QStringLiteral("no finite estimate");
    return r;
}

namespace {

// Line `slice` of an image: a row with the axis vertical, a column otherwise.
void readLine(const ImgData &img, bool rotAxIsV, int slice, double *buf)
{
    if (rotAxIsV)
        img.getLine(slice, buf);
    else
        img.getColumn(slice, buf);
}

bool sameSize(const ImgData *img, const ImgDatas &stack)
{
    return !img || (img->width == stack.width() && img->height == stack.height());
}

} // namespace

std::vector<double> CorEstimate::attenuationLine(const ImgDatas &stack, bool rotAxIsV, int frame,
                                                 int slice)
{
    const int len = rotAxIsV ? stack.width() : stack.height();
    const int lines = rotAxIsV ? stack.height() : stack.width();
    const ImgData *img = stack.frame(frame);
    const ImgData *i0 = stack.i0Image();
    const ImgData *bg = stack.bgImage();
    if (!img || len < 1 || slice < 0 || slice >= lines || !sameSize(i0, stack) ||
        !sameSize(bg, stack))
        return {};
    const size_t n = static_cast<size_t>(len);
    std::vector<double> raw(n);
    std::vector<double> open(n, 1.0);
    std::vector<double> dark(n, 0.0);
    readLine(*img, rotAxIsV, slice, raw.data());
    if (i0)
        readLine(*i0, rotAxIsV, slice, open.data());
    if (bg)
        readLine(*bg, rotAxIsV, slice, dark.data());
    std::vector<double> out(n);
    // The sinogram's own rule, on the raw (not resampled) row.
    for (size_t j = 0; j < n; ++j)
        out[j] = attenuationOf(open[j], raw[j], dark[j]);
    return out;
}

CorEstimate::Lines CorEstimate::cleanLines(const ImgDatas &stack, bool rotAxIsV, int slice)
{
    const int p = stack.count();
    const int len = rotAxIsV ? stack.width() : stack.height();
    // The sinogram, unresampled, on at most defectRows angles spread over the scan:
    // only along the angles does a defect show as one (a dead column is the same at
    // every angle, so its own mirror image about a centre on it; a gain error is a
    // constant offset), and a few hundred angles show it as well as thousands.
    const int rows = std::min(p, defectRows);
    std::vector<double> sgm;
    sgm.reserve(size_t(rows) * size_t(std::max(0, len)));
    for (int k = 0; k < rows; ++k) {
        const int frame = rows > 1 ? int((long long)k * (p - 1) / (rows - 1)) : 0;
        const std::vector<double> line = attenuationLine(stack, rotAxIsV, frame, slice);
        if (int(line.size()) != len)
            return {};
        sgm.insert(sgm.end(), line.begin(), line.end());
    }
    const RingRemoval::ColumnDefects defects =
        RingRemoval::columnDefects(sgm.data(), len, rows, defectWindow);
    const auto corrected = [&](int frame) {
        std::vector<double> r = attenuationLine(stack, rotAxIsV, frame, slice);
        RingRemoval::correct(r.data(), int(r.size()), defects);
        return r;
    };
    return {corrected(0), corrected(1), corrected(p - 2), corrected(p - 1)};
}

CorEstimate::Result CorEstimate::fromStack(const ImgDatas &stack, bool rotAxIsV, int slice,
                                           Range range, int extraSlices)
{
    const int p = stack.count();
    if (p == 0)
        return refused(QStringLiteral("no images"));
    // Two neighbours at each end of the scan are needed.
    if (p < 4)
        return refused(QStringLiteral("too few projections"));
    const int len = rotAxIsV ? stack.width() : stack.height();
    const int lines = rotAxIsV ? stack.height() : stack.width();
    if (slice < 0 || slice >= lines)
        return refused(QStringLiteral("slice outside the image"));
    if (!sameSize(stack.i0Image(), stack) || !sameSize(stack.bgImage(), stack))
        return refused(QStringLiteral("I0 or BG image of another size"));
    const int lo = std::max(0, slice - std::max(0, extraSlices));
    const int hi = std::min(lines - 1, slice + std::max(0, extraSlices));
    std::vector<Lines> slices;
    for (int s = lo; s <= hi; ++s)
        slices.push_back(cleanLines(stack, rotAxIsV, s));
    return fromLines(slices, len, range);
}
