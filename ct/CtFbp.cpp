#include "CtFbp.h"

#include "BackProjection.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 6.283185307179586;
std::atomic<int> chosenSimd{static_cast<int>(CtFbp::Simd::Auto)};

CtFbp::Simd bestSimd()
{
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx512)
        return CtFbp::Simd::Avx512;
    if (avx2)
        return CtFbp::Simd::Avx2;
#endif
    return CtFbp::Simd::Scalar;
}

} // namespace

bool CtFbp::simdSupported(Simd level)
{
    return level == Simd::Auto || level <= bestSimd();
}

bool CtFbp::setSimd(Simd level)
{
    if (!simdSupported(level))
        return false;
    chosenSimd = static_cast<int>(level);
    return true;
}

CtFbp::Simd CtFbp::simd()
{
    const auto level = static_cast<Simd>(chosenSimd.load());
    return level == Simd::Auto ? bestSimd() : level;
}

const char *CtFbp::simdName(Simd level)
{
    switch (level) {
    case Simd::Scalar:
        return "scalar";
    case Simd::Avx2:
        return "AVX2";
    case Simd::Avx512:
        return "AVX-512";
    default:
        return "auto";
    }
}

void CtFbp::release()
{
    forwardPlan.reset();
    inversePlan.reset();
    forwardIn.release();
    forwardOut.release();
    inverseIn.release();
    inverseOut.release();
    spectra = {};
    filtered = {};
    filteredBase = nullptr;
    cosines = {};
    sines = {};
    xOffsets = {};
    binWeights = {};
    forwardPlanSingle.reset();
    inversePlanSingle.reset();
    realInSingle.release();
    forwardOutSingle.release();
    inverseInSingle.release();
    realOutSingle.release();
    binWeightsSingle = {};
    spectraSingle = {};
    filteredSingle = {};
    filteredSingleBase = nullptr;
    nFft = 0;
    nTransform = 0;
}

namespace {
const char *const precisionNameList[] = {"double", "single"};
}

QStringList CtFbp::precisionNames()
{
    QStringList list;
    for (const char *name : precisionNameList)
        list << QString::fromLatin1(name);
    return list;
}

bool CtFbp::precisionOf(const QString &name, Precision *value)
{
    const int index = precisionNames().indexOf(name);
    if (index < 0)
        return false;
    *value = static_cast<Precision>(index);
    return true;
}

QString CtFbp::nameOf(Precision value)
{
    return QString::fromLatin1(precisionNameList[static_cast<int>(value)]);
}

bool CtFbp::setPrecision(Precision newPrecision)
{
    if (newPrecision == arithmetic)
        return true;
    arithmetic = newPrecision;
    if (nFft < 2)
        return true;
    const int n = nFft;
    const int count = nProj;
    release();
    nProj = 0;
    return setup(n, count);
}

bool CtFbp::setFilter(CtFilter::Window newWindow, bool newPadded)
{
    if (newWindow == window && newPadded == padded)
        return true;
    window = newWindow;
    padded = newPadded;
    if (nFft < 2)
        return true;
    const int n = nFft;
    const int count = nProj;
    release();
    nProj = 0;
    return setup(n, count);
}

bool CtFbp::setup(int n, int count)
{
    const bool planned = arithmetic == Precision::Single ? forwardPlanSingle && inversePlanSingle
                                                         : forwardPlan && inversePlan;
    if (n == nFft && count == nProj && planned)
        return true;
    release();
    nProj = 0;
    // An FFT length below 2 has no ramp filter; FFTW has no plan below 1.
    if (n < 2 || count < 1) {
        qDebug() << "CT size is not usable (N, P)" << n << count;
        return false;
    }
    if (!scan.isDefault() && (scan.anglesDeg.size() != static_cast<size_t>(count) ||
                              scan.weights.size() != static_cast<size_t>(count))) {
        qDebug() << "Angle count" << scan.anglesDeg.size() << "differs from projections" << count;
        return false;
    }
    const size_t N = static_cast<size_t>(n);
    const int length = CtFilter::transformLength(n, padded);
    binWeights = CtFilter::weights(n, padded, window);
    if (length < n || binWeights.size() != static_cast<size_t>(length)) {
        qDebug() << "CT filter is not usable (N, transform length)" << n << length;
        release();
        return false;
    }
    const bool made = arithmetic == Precision::Single ? setupSingle(n, count, length)
                                                      : setupDouble(n, count, length);
    if (!made) {
        release();
        return false;
    }
    makeAngleTables(count);
    xOffsets.resize(N);
    for (int x = 0; x < n; ++x)
        xOffsets[x] = x - n * 0.5;
    nFft = n;
    nProj = count;
    nTransform = length;
    return true;
}

bool CtFbp::setupDouble(int n, int count, int length)
{
    const size_t L = static_cast<size_t>(length);
    if (!forwardIn.allocate(L) || !forwardOut.allocate(L) || !inverseIn.allocate(L) ||
        !inverseOut.allocate(L))
        return false;
    forwardPlan.reset(FftwPlanner::planDft1d(length, forwardIn.data(), forwardOut.data(),
                                             FFTW_FORWARD, FFTW_ESTIMATE));
    inversePlan.reset(FftwPlanner::planDft1d(length, inverseIn.data(), inverseOut.data(),
                                             FFTW_BACKWARD, FFTW_ESTIMATE));
    if (!forwardPlan || !inversePlan)
        return false;
    // The spectra of all rows are kept only for callers that transform and filter
    // in separate steps; reconstruct() filters each spectrum straight from the
    // FFT's output, so an engine never holds them.
    // Each filtered row starts on a 64-byte boundary and is followed by at
    // least 16 zeros, which the vector back projection may load (never use)
    // beyond the row's last sample.
    filtered.assign(nFftStride(n) * static_cast<size_t>(count) + 8, 0.0);
    const auto address = reinterpret_cast<std::uintptr_t>(filtered.data());
    filteredBase = filtered.data() + (64 - address % 64) % 64 / sizeof(double);
    return true;
}

void CtFbp::initResult(int n)
{
    rn = std::max(n, 0);
    const size_t size = static_cast<size_t>(rn) * static_cast<size_t>(rn);
    // Only the precision's own result is kept.
    singleResult = arithmetic == Precision::Single;
    if (singleResult) {
        result = {};
        resultSingle.assign(size, 0.0f);
    } else {
        resultSingle = {};
        result.assign(size, 0.0);
    }
    valid = false;
}

void CtFbp::forward(const double *row)
{
    if (!scan.sampleWeights.empty()) {
        forwardWeighted(row);
        return;
    }
    for (int k = 0; k < nFft; ++k) {
        forwardIn[k][0] = row[k];
        forwardIn[k][1] = 0.0;
    }
    // Padding continues the row with its edge values (CtFilter::padWithEdges).
    const int tail = nFft + (nTransform - nFft) / 2;
    for (int k = nFft; k < nTransform; ++k) {
        forwardIn[k][0] = k < tail ? row[nFft - 1] : row[0];
        forwardIn[k][1] = 0.0;
    }
    forwardPlan.execute();
}

void CtFbp::fftRow(const double *row, int i)
{
    if (!rowIndexOk(i))
        return;
    if (arithmetic == Precision::Single) {
        forwardSingle(row);
        const float *out = &forwardOutSingle[0][0];
        std::copy(out, out + 2 * binsSingle(), spectrumSingle(i));
        return;
    }
    forward(row);
    double *s = spectrum(i);
    for (int k = 0; k < nTransform; ++k) {
        s[2 * k] = forwardOut[k][0];
        s[2 * k + 1] = forwardOut[k][1];
    }
}

void CtFbp::filterRow(int i)
{
    if (!rowIndexOk(i))
        return;
    if (arithmetic == Precision::Single) {
        filterSpectrumSingle(reinterpret_cast<const fftwf_complex *>(spectrumSingle(i)), i);
        return;
    }
    filterSpectrum(spectrum(i), i);
}

void CtFbp::filterSpectrum(const double *s, int i)
{
    // The weights are in units of bins; 2 pi / L makes them angular frequency.
    // For the plain ramp bin m weighs m up to L/2, then L - m for the negative
    // frequencies. Only the row's own N samples are kept after padding.
    const int L = nTransform;
    const double b = twoPi / L;
    const double *w = binWeights.data();
    for (int m = 0; m < L; ++m) {
        inverseIn[m][0] = s[2 * m] * w[m] * b;
        inverseIn[m][1] = s[2 * m + 1] * w[m] * b;
    }
    inversePlan.execute();
    double *f = filteredBase + static_cast<size_t>(i) * filteredStride();
    for (int k = 0; k < nFft; ++k)
        f[k] = inverseOut[k][0] / L;
    if (!scan.isDefault())
        weightFilteredRow(i);
}

void CtFbp::pixelRange(double a0, double a1, int n, int *from, int *to)
{
    *from = 0;
    *to = 0;
    if (std::isnan(a0) || std::isnan(a1) || n < 1)
        return;
    const double top = static_cast<double>(n);
    // Pixels below 0 or from n on are all outside the circle, so clamping
    // keeps exactly the pixels that get a value.
    const double lo = std::clamp(a0, 0.0, top);
    const double hi = std::clamp(a1, 0.0, top);
    *from = static_cast<int>(std::trunc(lo));
    *to = static_cast<int>(std::ceil(hi));
}

void CtFbp::backProject(int i, double x0, double x1, double z0, double z1)
{
    if (!rowIndexOk(i) || !resultFits())
        return;
    if (arithmetic == Precision::Single) {
        backProjectSingle(i, x0, x1, z0, z1);
        return;
    }
    const int N = nFft;
    const double theta = i * pi / nProj;
    const double c = N * 0.5;
    const double cs = scan.isDefault() ? std::cos(theta) : cosines[i];
    const double sn = scan.isDefault() ? std::sin(theta) : sines[i];
    const double *f = filteredRow(i);
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, N, &xFrom, &xTo);
    pixelRange(z0, z1, N, &zFrom, &zTo);
    for (int z = zFrom; z < zTo; ++z) {
        double *row = resultRow(z);
        for (int x = xFrom; x < xTo; ++x) {
            if (!(std::sqrt((x - c) * (x - c) + (z - c) * (z - c)) < c))
                continue;
            const double t = (x - c) * cs - (z - c) * sn + c;
            const double kf = std::floor(t);
            if (!(kf >= 0.0 && kf < N - 1))
                continue;
            const int k = static_cast<int>(kf);
            row[x] += f[k] + (t - k) * (f[k + 1] - f[k]);
        }
    }
    valid = true;
}

void CtFbp::backProjectAll(double x0, double x1, double z0, double z1)
{
    CtFbp *self = this;
    backProjectAll(&self, 1, x0, x1, z0, z1);
}

void CtFbp::backProjectAll(CtFbp *const *cores, int count, double x0, double x1, double z0,
                           double z1)
{
    // Cores of other sizes than the first, or without a result of their size,
    // are left out of the shared pass.
    std::vector<CtFbp *> alike;
    for (int i = 0; i < count; ++i) {
        CtFbp *core = cores[i];
        if (!core || core->nFft < 2 || core->nProj < 1 || !core->resultFits())
            continue;
        if (!alike.empty() && (core->nFft != alike[0]->nFft || core->nProj != alike[0]->nProj ||
                               core->arithmetic != alike[0]->arithmetic ||
                               core->scan.anglesDeg != alike[0]->scan.anglesDeg)) {
            core->backProjectAll(x0, x1, z0, z1);
            continue;
        }
        alike.push_back(core);
    }
    if (alike.empty())
        return;
    if (alike[0]->arithmetic == Precision::Single) {
        backProjectGroups(alike, x0, x1, z0, z1);
        return;
    }
    const CtFbp &first = *alike[0];
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, first.nFft, &xFrom, &xTo);
    pixelRange(z0, z1, first.nFft, &zFrom, &zTo);
    const Simd level = simd();
    for (size_t at = 0; at < alike.size(); at += BackProjection::maxSlices) {
        BackProjection::Slices group;
        group.n = first.nFft;
        group.count = first.nProj;
        group.cosines = first.cosines.data();
        group.sines = first.sines.data();
        group.xOffsets = first.xOffsets.data();
        group.tableStride = first.filteredStride();
        group.slices = static_cast<int>(
            std::min(alike.size() - at, static_cast<size_t>(BackProjection::maxSlices)));
        for (int s = 0; s < group.slices; ++s) {
            group.tables[s] = alike[at + s]->filteredBase;
            group.results[s] = alike[at + s]->result.data();
        }
        BackProjection::run(group, xFrom, xTo, zFrom, zTo, level);
    }
    for (CtFbp *core : alike)
        core->valid = true;
}

void CtFbp::calcMinMax()
{
    const size_t size = static_cast<size_t>(rn) * rn;
    if (!valid || rn < 1 || (singleResult ? resultSingle.size() : result.size()) != size)
        return;
    minValue = DBL_MAX;
    maxValue = -DBL_MAX;
    if (singleResult) {
        for (const float f : resultSingle) {
            const double v = f;
            if (v < minValue)
                minValue = v;
            if (v > maxValue)
                maxValue = v;
        }
        return;
    }
    for (const double v : result) {
        if (v < minValue)
            minValue = v;
        if (v > maxValue)
            maxValue = v;
    }
}

bool CtFbp::filterSinogram(const double *sgm, int sgmWidth, int rows)
{
    if (nFft < 2 || rows != nProj || sgmWidth < nFft)
        return false;
    initResult(nFft);
    if (arithmetic == Precision::Single)
        return filterSinogramSingle(sgm, sgmWidth, rows);
    // The same values as fftRow then filterRow for every row: the forward
    // output is read in place of its copy.
    for (int i = 0; i < rows; ++i) {
        forward(sgm + static_cast<size_t>(i) * sgmWidth);
        filterSpectrum(reinterpret_cast<const double *>(forwardOut.data()), i);
    }
    return true;
}

bool CtFbp::reconstruct(const double *sgm, int sgmWidth, int rows, double x0, double x1, double z0,
                        double z1)
{
    if (!filterSinogram(sgm, sgmWidth, rows))
        return false;
    backProjectAll(x0, x1, z0, z1);
    return true;
}
