#include "RingRemoval.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// How far below its neighbours' fluctuation a column's must fall to count as dead.
constexpr double deadFraction = 0.1;
// Large stripes: how many noise levels a column's mean must stand out.
constexpr double stripeSnr = 8.0;
// Offsets below this (in attenuation, ln units: a gain error of 0.2 %) are no
// stripes worth treating; it keeps noise-free data, whose noise level is 0, as is.
constexpr double offsetFloor = 0.002;
// Large stripes: the share of each end of the sorted column left out of its mean.
constexpr double trimmedShare = 0.1;
// Small stripes: offsets up to this many noise levels are taken as noise.
constexpr double shrinkSnr = 5.0;
// Stripes rank by rank: the baseline is the median of this many columns (at most the
// window), a departure is averaged over rows / rankShare ranks (at least minRankSpan),
// and an average is taken off beyond this many times its noise.
constexpr int narrowWindow = 7;
constexpr int rankShare = 12;
constexpr int minRankSpan = 5;
constexpr double rankSnr = 4.0;

double medianOf(std::vector<double> *values)
{
    const size_t mid = values->size() / 2;
    std::nth_element(values->begin(), values->begin() + mid, values->end());
    double m = (*values)[mid];
    if (values->size() % 2 == 0) {
        const double lower = *std::max_element(values->begin(), values->begin() + mid);
        m = 0.5 * (m + lower);
    }
    return m;
}

// Running median of `window` samples, centred: near the ends the window shrinks to
// the same reach on both sides (down to the end sample alone), since a window cut
// on one side follows a sloped profile late and turns the slope into an offset
// there (an object wider than the field of view would read as stripes at both
// ends of every sinogram). The window's values are kept sorted as it slides: one value leaves and
// one enters per step, so a step costs a binary search and a short move instead of a fresh
// selection; the median is taken as medianOf takes it.
std::vector<double> runningMedian(const std::vector<double> &v, int window)
{
    const int n = static_cast<int>(v.size());
    const int half = window / 2;
    std::vector<double> out(v.size());
    std::vector<double> part;
    part.reserve(static_cast<size_t>(window) + 1);
    int lo = 0;
    int hi = -1; // the window holds v[lo..hi]
    for (int j = 0; j < n; ++j) {
        const int reach = std::min({half, j, n - 1 - j});
        const int wantLo = j - reach;
        const int wantHi = j + reach;
        while (hi < wantHi) {
            const double x = v[++hi];
            part.insert(std::upper_bound(part.begin(), part.end(), x), x);
        }
        while (lo < wantLo) {
            const double x = v[lo++];
            auto it = std::lower_bound(part.begin(), part.end(), x);
            if (it == part.end() || !(*it == x)) // a NaN has no place in the order
                it = std::find_if(part.begin(), part.end(), [x](double y) {
                    return y == x || (std::isnan(y) && std::isnan(x));
                });
            part.erase(it == part.end() ? part.begin() : it);
        }
        const size_t mid = part.size() / 2;
        out[j] = part.size() % 2 == 0 ? 0.5 * (part[mid] + part[mid - 1]) : part[mid];
    }
    return out;
}

// The sinogram with each column sorted along the angles, and where each sorted
// value came from, so that the order can be restored. Samples of type T (double,
// or float for a sinogram kept in float) are sorted and corrected as they are
// stored; the measures taken from them are doubles either way.
template<typename T>
struct Sorted
{
    int width = 0;
    int rows = 0;
    std::vector<T> values;  // [rank][column]
    std::vector<int> rowOf; // [rank][column]: the row the value came from

    Sorted(const T *sgm, int w, int r)
        : width(w)
        , rows(r)
        , values(static_cast<size_t>(w) * r)
        , rowOf(static_cast<size_t>(w) * r)
    {
        // Each column is gathered into (value, row) pairs and sorted by value, ties by
        // row: the order a stable sort by value gives, read from contiguous memory
        // rather than one sample per sinogram row. NaNs (from a float image) go last,
        // so that the order stays a strict one.
        std::vector<std::pair<T, int>> column(static_cast<size_t>(r));
        const auto before = [](const std::pair<T, int> &a, const std::pair<T, int> &b) {
            const bool aNan = std::isnan(a.first);
            const bool bNan = std::isnan(b.first);
            if (aNan || bNan)
                return aNan == bNan ? a.second < b.second : bNan;
            return a.first < b.first || (!(b.first < a.first) && a.second < b.second);
        };
        for (int j = 0; j < w; ++j) {
            for (int i = 0; i < r; ++i)
                column[i] = {sgm[size_t(i) * w + j], i};
            std::sort(column.begin(), column.end(), before);
            for (int k = 0; k < r; ++k) {
                values[at(k, j)] = column[k].first;
                rowOf[at(k, j)] = column[k].second;
            }
        }
    }
    size_t at(int rank, int column) const { return size_t(rank) * width + column; }
    void restore(T *sgm) const
    {
        for (int k = 0; k < rows; ++k)
            for (int j = 0; j < width; ++j)
                sgm[size_t(rowOf[at(k, j)]) * width + j] = values[at(k, j)];
    }
};

// Nearest column at or beyond j, stepping by `dir`, that is not marked; -1 if none.
int nearestGood(const std::vector<char> &marked, int j, int dir)
{
    for (int k = j; k >= 0 && k < static_cast<int>(marked.size()); k += dir)
        if (!marked[k])
            return k;
    return -1;
}

// For each marked column: the two good columns to interpolate from and the weight
// of the right one. A run at an edge takes its one good neighbour.
struct Span
{
    int left;
    int right;
    double weight;
};

bool spanOf(const std::vector<char> &marked, int j, Span *s)
{
    const int l = nearestGood(marked, j, -1);
    const int r = nearestGood(marked, j, +1);
    if (l < 0 && r < 0)
        return false;
    if (l < 0)
        *s = {r, r, 0.0};
    else if (r < 0)
        *s = {l, l, 0.0};
    else
        *s = {l, r, double(j - l) / double(r - l)};
    return true;
}

std::vector<int> markedColumns(const std::vector<char> &marked)
{
    std::vector<int> out;
    for (int j = 0; j < static_cast<int>(marked.size()); ++j)
        if (marked[j])
            out.push_back(j);
    return out;
}

// Columns that barely change along the angles while their neighbours do.
template<typename T>
std::vector<char> deadColumns(const T *sgm, int width, int rows, int window)
{
    std::vector<double> fluctuation(static_cast<size_t>(width), 0.0);
    for (int i = 1; i < rows; ++i)
        for (int j = 0; j < width; ++j)
            fluctuation[j] += std::abs(sgm[size_t(i) * width + j] - sgm[size_t(i - 1) * width + j]);
    const std::vector<double> around = runningMedian(fluctuation, window);
    std::vector<char> dead(static_cast<size_t>(width), 0);
    for (int j = 0; j < width; ++j)
        dead[j] = around[j] > 0.0 && fluctuation[j] < deadFraction * around[j];
    return dead;
}

template<typename T>
void interpolateColumns(T *sgm, int width, int rows, const std::vector<char> &marked)
{
    for (int j = 0; j < width; ++j) {
        Span s;
        if (!marked[j] || !spanOf(marked, j, &s))
            continue;
        for (int i = 0; i < rows; ++i) {
            T *row = sgm + size_t(i) * width;
            row[j] = row[s.left] + s.weight * (row[s.right] - row[s.left]);
        }
    }
}

// The part of a profile across columns that is a stripe: what stands out of the
// running median of `window` columns, less the smooth remainder that the median
// leaves where the profile curves (the object's own shape, not a stripe).
std::vector<double> stripeProfile(const std::vector<double> &v, int window)
{
    const std::vector<double> smooth = runningMedian(v, window);
    std::vector<double> residual(v.size());
    for (size_t j = 0; j < v.size(); ++j)
        residual[j] = v[j] - smooth[j];
    // A median again, so that a strong stripe does not leak into its neighbours.
    const std::vector<double> curve = runningMedian(residual, window);
    for (size_t j = 0; j < v.size(); ++j)
        residual[j] -= curve[j];
    return residual;
}

// The standard deviation of normal noise with the same median absolute deviation.
double robustSigma(const std::vector<double> &v)
{
    std::vector<double> work = v;
    const double centre = medianOf(&work);
    for (size_t j = 0; j < v.size(); ++j)
        work[j] = std::abs(v[j] - centre);
    return 1.4826 * medianOf(&work);
}

// Columns whose trimmed mean (the extreme ranks left out) stands out from its
// neighbours' by more than the noise of such means allows.
template<typename T>
std::vector<char> largeStripes(const Sorted<T> &sorted, int window)
{
    const int width = sorted.width;
    const int rows = sorted.rows;
    const int drop = static_cast<int>(trimmedShare * rows);
    std::vector<double> mean(static_cast<size_t>(width), 0.0);
    for (int j = 0; j < width; ++j) {
        double sum = 0.0;
        for (int k = drop; k < rows - drop; ++k)
            sum += sorted.values[sorted.at(k, j)];
        mean[j] = sum / std::max(1, rows - 2 * drop);
    }
    const std::vector<double> deviation = stripeProfile(mean, window);
    const double threshold = std::max(stripeSnr * robustSigma(deviation), offsetFloor);
    std::vector<char> marked(static_cast<size_t>(width), 0);
    for (int j = 0; j < width; ++j)
        marked[j] = std::abs(deviation[j]) > threshold;
    return marked;
}

template<typename T>
void replaceSortedColumns(Sorted<T> *sorted, const std::vector<char> &marked)
{
    for (int j = 0; j < sorted->width; ++j) {
        Span s;
        if (!marked[j] || !spanOf(marked, j, &s))
            continue;
        for (int k = 0; k < sorted->rows; ++k) {
            const T l = sorted->values[sorted->at(k, s.left)];
            const T r = sorted->values[sorted->at(k, s.right)];
            sorted->values[sorted->at(k, j)] = l + s.weight * (r - l);
        }
    }
}

// Each column's small-stripe correction: what step 3 takes off every rank of it
// (0 for a column within the noise).
template<typename T>
std::vector<double> smallStripeCorrections(const Sorted<T> &sorted, int window)
{
    const int width = sorted.width;
    const int rows = sorted.rows;
    // offsets[j]: column j's departure from the median of its neighbours, rank by rank.
    std::vector<std::vector<double>> offsets(static_cast<size_t>(width),
                                             std::vector<double>(static_cast<size_t>(rows)));
    std::vector<double> rank(static_cast<size_t>(width));
    for (int k = 0; k < rows; ++k) {
        const T *values = sorted.values.data() + sorted.at(k, 0);
        rank.assign(values, values + width);
        const std::vector<double> smooth = runningMedian(rank, window);
        for (int j = 0; j < width; ++j)
            offsets[j][k] = rank[j] - smooth[j];
    }
    // A gain error shifts a column at every rank; an edge of the object makes a
    // column depart at a few ranks only. The median over the ranks keeps the first.
    std::vector<double> offset(static_cast<size_t>(width));
    for (int j = 0; j < width; ++j)
        offset[j] = medianOf(&offsets[j]);
    // What remains smooth across columns is the object's curvature, not a stripe.
    const std::vector<double> curve = runningMedian(offset, window);
    for (int j = 0; j < width; ++j)
        offset[j] -= curve[j];
    // Offsets within the noise of such medians are left alone; larger ones are taken
    // off nearly whole (a non-negative garrote: shrunk by threshold^2 / offset).
    const double threshold = std::max(shrinkSnr * robustSigma(offset), offsetFloor);
    std::vector<double> correction(static_cast<size_t>(width), 0.0);
    for (int j = 0; j < width; ++j) {
        const double o = offset[j];
        if (std::abs(o) > threshold)
            correction[j] = o - threshold * threshold / o;
    }
    return correction;
}

template<typename T>
void removeSmallStripes(Sorted<T> *sorted, int window)
{
    const std::vector<double> correction = smallStripeCorrections(*sorted, window);
    for (int j = 0; j < sorted->width; ++j) {
        if (correction[j] == 0.0)
            continue;
        for (int k = 0; k < sorted->rows; ++k)
            sorted->values[sorted->at(k, j)] -= correction[j];
    }
}

// Narrow stripes whose size changes with the rank, i.e. with the attenuation (a dark
// level or flat field that does not quite match the projections gives an offset that
// grows with the attenuation), and small gain errors on nearly every column, which
// the steps above cannot tell from the spread of all columns. In the sorted domain
// each rank's departure from the median of a few neighbouring columns (few, so that
// the baseline follows the object's own change across columns) is averaged over the
// neighbouring ranks: the average leaves the noise out but follows a stripe's slow
// change with the attenuation. Averages beyond their own noise are taken off with the
// same garrote as the small stripes. Where the object is steep across columns, the
// median follows the samples themselves and a stripe there goes unseen.
template<typename T>
void removeRankStripes(Sorted<T> *sorted, int window)
{
    const int width = sorted->width;
    const int rows = sorted->rows;
    const size_t w = static_cast<size_t>(width);
    const int narrow = std::min(window, narrowWindow);
    const int span = std::max(minRankSpan, rows / rankShare) | 1; // odd: centred on the rank
    const int half = span / 2;

    // departure[k][j]: column j's departure from its neighbours' median at rank k.
    std::vector<double> departure(w * rows);
    std::vector<double> rank(w);
    for (int k = 0; k < rows; ++k) {
        const T *values = sorted->values.data() + sorted->at(k, 0);
        rank.assign(values, values + width);
        const std::vector<double> smooth = runningMedian(rank, narrow);
        for (int j = 0; j < width; ++j)
            departure[sorted->at(k, j)] = rank[j] - smooth[j];
    }

    // The mean of the `span` ranks around each rank (fewer near the first and last
    // rank), for all columns at once: a running sum that adds the rank entering the
    // window and drops the one leaving it.
    std::vector<double> mean(departure.size());
    std::vector<double> sum(w, 0.0);
    int lo = 0;
    int hi = -1; // the sum holds ranks lo..hi
    for (int k = 0; k < rows; ++k) {
        for (; hi < std::min(rows - 1, k + half); ++hi) {
            const double *entering = departure.data() + sorted->at(hi + 1, 0);
            for (size_t j = 0; j < w; ++j)
                sum[j] += entering[j];
        }
        for (; lo < std::max(0, k - half); ++lo) {
            const double *leaving = departure.data() + sorted->at(lo, 0);
            for (size_t j = 0; j < w; ++j)
                sum[j] -= leaving[j];
        }
        const double count = hi - lo + 1;
        double *out = mean.data() + sorted->at(k, 0);
        for (size_t j = 0; j < w; ++j)
            out[j] = sum[j] / count;
    }

    // What the averages leave out is the noise of single departures; an average's
    // noise is that over the square root of the span.
    for (size_t i = 0; i < departure.size(); ++i)
        departure[i] -= mean[i];
    const double threshold = rankSnr * robustSigma(departure) / std::sqrt(double(span));
    for (size_t i = 0; i < mean.size(); ++i) {
        const double o = mean[i];
        if (std::abs(o) > threshold)
            sorted->values[i] -= o - threshold * threshold / o;
    }
}

template<typename T>
RingRemoval::Report applyTo(T *sgm, int width, int rows, int window)
{
    RingRemoval::Report report;
    if (!sgm || window < 3 || width < 3 || rows < 3)
        return report;
    window = std::min(window | 1, width | 1);

    const std::vector<char> dead = deadColumns(sgm, width, rows, window);
    report.deadColumns = markedColumns(dead);
    interpolateColumns(sgm, width, rows, dead);

    Sorted<T> sorted(sgm, width, rows);
    const std::vector<char> large = largeStripes(sorted, window);
    report.largeStripeColumns = markedColumns(large);
    replaceSortedColumns(&sorted, large);
    removeSmallStripes(&sorted, window);
    removeRankStripes(&sorted, window);
    sorted.restore(sgm);
    return report;
}

template<typename T>
std::vector<double> columnCorrectionOf(const T *sgm, int width, int rows, int window)
{
    if (!sgm || window < 3 || width < 3 || rows < 3)
        return {};
    std::vector<T> removed(sgm, sgm + size_t(width) * rows);
    const RingRemoval::Report report = applyTo(removed.data(), width, rows, window);
    std::vector<double> correction(static_cast<size_t>(width), 0.0);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < width; ++j)
            correction[j] += removed[size_t(i) * width + j] - sgm[size_t(i) * width + j];
    for (double &c : correction)
        c /= rows;
    for (const int j : report.deadColumns)
        correction[j] = 0.0;
    return correction;
}

template<typename T>
void applyColumnCorrectionTo(T *sgm, int width, int rows, int window,
                             const std::vector<double> &correction)
{
    if (int(correction.size()) != width) {
        applyTo(sgm, width, rows, window);
        return;
    }
    if (!sgm || window < 3 || width < 3 || rows < 3)
        return;
    window = std::min(window | 1, width | 1);
    interpolateColumns(sgm, width, rows, deadColumns(sgm, width, rows, window));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < width; ++j)
            sgm[size_t(i) * width + j] += correction[j];
}

} // namespace

RingRemoval::Report RingRemoval::apply(double *sgm, int width, int rows, int window)
{
    return applyTo(sgm, width, rows, window);
}

RingRemoval::Report RingRemoval::apply(float *sgm, int width, int rows, int window)
{
    return applyTo(sgm, width, rows, window);
}

RingRemoval::ColumnDefects RingRemoval::columnDefects(const double *sgm, int width, int rows,
                                                      int window)
{
    ColumnDefects d;
    if (!sgm || window < 3 || width < 3 || rows < 3)
        return d;
    window = std::min(window | 1, width | 1);
    d.dead = deadColumns(sgm, width, rows, window);
    std::vector<double> filled(sgm, sgm + size_t(width) * rows);
    interpolateColumns(filled.data(), width, rows, d.dead);
    d.offset = smallStripeCorrections(Sorted<double>(filled.data(), width, rows), window);
    return d;
}

void RingRemoval::correct(double *row, int width, const ColumnDefects &d)
{
    if (!row || int(d.dead.size()) != width || int(d.offset.size()) != width)
        return;
    interpolateColumns(row, width, 1, d.dead);
    for (int j = 0; j < width; ++j)
        row[j] -= d.offset[j];
}

std::vector<double> RingRemoval::columnCorrection(const double *sgm, int width, int rows,
                                                  int window)
{
    return columnCorrectionOf(sgm, width, rows, window);
}

std::vector<double> RingRemoval::columnCorrection(const float *sgm, int width, int rows, int window)
{
    return columnCorrectionOf(sgm, width, rows, window);
}

void RingRemoval::applyColumnCorrection(double *sgm, int width, int rows, int window,
                                        const std::vector<double> &correction)
{
    applyColumnCorrectionTo(sgm, width, rows, window, correction);
}

void RingRemoval::applyColumnCorrection(float *sgm, int width, int rows, int window,
                                        const std::vector<double> &correction)
{
    applyColumnCorrectionTo(sgm, width, rows, window, correction);
}
