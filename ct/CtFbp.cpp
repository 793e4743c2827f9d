#include "CtFbp.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 6.283185307179586;
// Result tiles of rowsPerBlock rows and tileWidth pixels: the tile stays in the
// second-level cache and the stretch of each projection's table that the tile
// needs in the first, while all projections pass over it.
constexpr int rowsPerBlock = 8;
constexpr int tileWidth = 2048;

// One pass of up to four projections over the pixels [from, to) of a result row.
struct RowPass
{
    static constexpr int width = 8; // the most; kernels take passWidth()
    double *row = nullptr;
    const double *xc = nullptr; // x - c for every x
    int from = 0;
    int to = 0;
    int count = 0;
    const double *table[width] = {};
    double cs[width] = {};
    double zs[width] = {}; // (z - c) sin(theta)
    double c = 0.0;
    double lastK = 0.0; // N - 1: no interpolation from the last sample on
};
// A row kernel and the number of projections it takes per pass.
struct RowKernel
{
    void (*run)(const RowPass &) = nullptr;
    int passWidth = 4;
};

// Inside the circle t lies in (0, N), so truncation is floor. The terms are those
// of backProject, bit for bit. k goes back to a double through the bits of
// 2^52 + k: an int-to-double conversion would tie every term to the one before
// through the register it only partly writes.
inline double term(const RowPass &p, int j, int x)
{
    const double t = p.xc[x] * p.cs[j] - p.zs[j] + p.c;
    const long long k = static_cast<long long>(t);
    double kf;
    const long long bits = 0x4330000000000000LL + k;
    std::memcpy(&kf, &bits, sizeof kf);
    kf -= 4503599627370496.0;
    if (!(kf < p.lastK))
        return 0.0;
    const double *f = p.table[j] + k;
    return f[0] + (t - kf) * (f[1] - f[0]);
}

void rowScalar(const RowPass &p)
{
    for (int x = p.from; x < p.to; ++x) {
        double acc = p.row[x];
        for (int j = 0; j < p.count; ++j)
            acc += term(p, j, x);
        p.row[x] = acc;
    }
}

// The pixels of [p.from, p.to) where every projection of the pass surely has
// t < N - 1, so no term needs the test for the last sample. The margin is far
// above the rounding of t; pixels left out take the exact scalar path.
void interiorRange(const RowPass &p, int *from, int *to)
{
    const double margin = 1e-6;
    double lo = p.from;
    double hi = p.to;
    for (int j = 0; j < p.count; ++j) {
        // (x - c) cs < N - 1 - c + zs, the condition t < N - 1 solved for x.
        const double bound = p.lastK - margin - p.c + p.zs[j];
        if (p.cs[j] > 0.0)
            hi = std::min(hi, p.c + bound / p.cs[j]);
        else if (p.cs[j] < 0.0)
            lo = std::max(lo, p.c + bound / p.cs[j]);
        else if (!(bound > 0.0))
            hi = lo;
    }
    lo = std::clamp(std::floor(lo) + 1.0, double(p.from), double(p.to));
    hi = std::clamp(std::ceil(hi), lo, double(p.to));
    *from = static_cast<int>(lo);
    *to = static_cast<int>(hi);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four pixels per step with AVX2. No FMA: a fused multiply-add would round
// differently from the straightforward loop. The two neighbouring samples of each
// pixel are loaded as one 128-bit pair, and the four pairs transposed.
__attribute__((target("avx2"))) void rowAvx2(const RowPass &p)
{
    int a, b;
    interiorRange(p, &a, &b);
    if (p.count != 4 || b - a < 4) {
        rowScalar(p);
        return;
    }
    RowPass edge = p;
    edge.to = a;
    rowScalar(edge);

    const __m256d cc = _mm256_set1_pd(p.c);
    __m256d cs[4];
    __m256d zs[4];
    for (int j = 0; j < 4; ++j) {
        cs[j] = _mm256_set1_pd(p.cs[j]);
        zs[j] = _mm256_set1_pd(p.zs[j]);
    }
    int x = a;
    for (; x + 4 <= b; x += 4) {
        const __m256d xc = _mm256_loadu_pd(p.xc + x);
        __m256d acc = _mm256_loadu_pd(p.row + x);
        for (int j = 0; j < 4; ++j) {
            const __m256d t = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(xc, cs[j]), zs[j]), cc);
            const __m128i k = _mm256_cvttpd_epi32(t);
            const __m256d frac = _mm256_sub_pd(t, _mm256_cvtepi32_pd(k));
            const double *f = p.table[j];
            const __m128d p0 = _mm_loadu_pd(f + _mm_cvtsi128_si32(k));
            const __m128d p1 = _mm_loadu_pd(f + _mm_extract_epi32(k, 1));
            const __m128d p2 = _mm_loadu_pd(f + _mm_extract_epi32(k, 2));
            const __m128d p3 = _mm_loadu_pd(f + _mm_extract_epi32(k, 3));
            const __m256d lo = _mm256_set_m128d(p2, p0);
            const __m256d hi = _mm256_set_m128d(p3, p1);
            const __m256d value = _mm256_unpacklo_pd(lo, hi);
            const __m256d next = _mm256_unpackhi_pd(lo, hi);
            const __m256d slope = _mm256_sub_pd(next, value);
            acc = _mm256_add_pd(acc, _mm256_add_pd(value, _mm256_mul_pd(frac, slope)));
        }
        _mm256_storeu_pd(p.row + x, acc);
    }
    // The compiler leaves the upper register halves dirty here, and every SSE
    // instruction after them would run several times slower.
    _mm256_zeroupper();
    edge = p;
    edge.from = x;
    rowScalar(edge);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// Whether the eight t values of a step, computed with rounding, surely span less
// than eight table bins: |cs| clearly below 1, or +-1 with t exact (zs = 0).
inline bool spanBelowEight(double cs, double zs)
{
    return std::fabs(cs) < 1.0 - 1e-9 || (std::fabs(cs) == 1.0 && zs == 0.0);
}

// GCC's own AVX-512 headers trip its uninitialised-value warning
// (_mm512_undefined_*), so it is off for this kernel.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Eight pixels per step with AVX-512, the same operations as the straightforward
// loop. The eight t of a step lie within eight bins of the smallest, so their
// samples k and k + 1 all sit in the two aligned 8-sample blocks from that bin's
// block on; both blocks are loaded once and each pixel's pair picked from them by
// a two-source permute. The permute picks by the low four bits of k, so the
// block with bit 3 of the index clear goes first. Floor(t) comes as the low bits
// of t + 2^52 rounded down, frac as the exact t - floor(t). Inside the circle
// t < N, so k <= N - 1 and the blocks stay within the row's zero padding; a
// pixel whose k is N - 1 takes no term, as in the straightforward loop, by a
// mask on the sum.
struct Avx512Pass
{
    static constexpr int lanes = 8;
    const RowPass *p = nullptr;
    __m512d cc, magic;
    __m512i one;
    __m512i lastK; // (N - 1) + 2^52 as the bits of a double
    __m512d cs[RowPass::width];
    __m512d zs[RowPass::width];
    __m512i lowest[RowPass::width]; // the lane of the smallest t, in every lane
};

// acc plus the terms of all projections of the pass for the pixels at xc.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __m512d
addTerms512(const Avx512Pass &v, const __m512d xc, __m512d acc)
{
    constexpr long long magicBits = 0x4330000000000000LL; // 2^52
    for (int j = 0; j < v.p->count; ++j) {
        const __m512d t = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(xc, v.cs[j]), v.zs[j]), v.cc);
        const __m512d frac = _mm512_reduce_pd(t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512i k = _mm512_castpd_si512(
            _mm512_add_round_pd(t, v.magic, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
        const long long kMin =
            _mm_cvtsi128_si64(_mm512_castsi512_si128(_mm512_permutexvar_epi64(v.lowest[j], k))) -
            magicBits;
        const long long block = kMin >> 3;
        const double *f = v.p->table[j];
        const __m512d even = _mm512_load_pd(f + 8 * ((block + 1) & ~1LL));
        const __m512d odd = _mm512_load_pd(f + 8 * (block | 1));
        const __m512d value = _mm512_permutex2var_pd(even, k, odd);
        const __m512d next = _mm512_permutex2var_pd(even, _mm512_add_epi64(k, v.one), odd);
        const __m512d slope = _mm512_sub_pd(next, value);
        const __mmask8 sampled = _mm512_cmplt_epi64_mask(k, v.lastK);
        acc =
            _mm512_mask_add_pd(acc, sampled, acc, _mm512_add_pd(value, _mm512_mul_pd(frac, slope)));
    }
    return acc;
}

// vzeroupper, which the compiler puts before every return, leaves the upper
// halves of registers 16 to 31 alone; while they hold anything, every SSE
// instruction after the kernel, here or anywhere on the thread, runs several
// times slower. Writing their low 128 bits clears the rest.
__attribute__((target("avx512f"))) inline void clearHighVectorRegisters()
{
    asm volatile("vpxord %%xmm16, %%xmm16, %%xmm16\n\tvpxord %%xmm17, %%xmm17, %%xmm17\n\t"
                 "vpxord %%xmm18, %%xmm18, %%xmm18\n\tvpxord %%xmm19, %%xmm19, %%xmm19\n\t"
                 "vpxord %%xmm20, %%xmm20, %%xmm20\n\tvpxord %%xmm21, %%xmm21, %%xmm21\n\t"
                 "vpxord %%xmm22, %%xmm22, %%xmm22\n\tvpxord %%xmm23, %%xmm23, %%xmm23\n\t"
                 "vpxord %%xmm24, %%xmm24, %%xmm24\n\tvpxord %%xmm25, %%xmm25, %%xmm25\n\t"
                 "vpxord %%xmm26, %%xmm26, %%xmm26\n\tvpxord %%xmm27, %%xmm27, %%xmm27\n\t"
                 "vpxord %%xmm28, %%xmm28, %%xmm28\n\tvpxord %%xmm29, %%xmm29, %%xmm29\n\t"
                 "vpxord %%xmm30, %%xmm30, %%xmm30\n\tvpxord %%xmm31, %%xmm31, %%xmm31" ::
                     : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23",
                       "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

__attribute__((target("avx512f,avx512dq"))) void rowAvx512(const RowPass &p)
{
    constexpr int lanes = Avx512Pass::lanes;
    bool usable = true;
    for (int j = 0; j < p.count && usable; ++j)
        usable = spanBelowEight(p.cs[j], p.zs[j]);
    if (!usable) {
        rowScalar(p);
        return;
    }

    Avx512Pass v;
    v.p = &p;
    v.cc = _mm512_set1_pd(p.c);
    v.magic = _mm512_set1_pd(4503599627370496.0);
    v.one = _mm512_set1_epi64(1);
    v.lastK = _mm512_set1_epi64(0x4330000000000000LL + static_cast<long long>(p.lastK));
    for (int j = 0; j < p.count; ++j) {
        v.cs[j] = _mm512_set1_pd(p.cs[j]);
        v.zs[j] = _mm512_set1_pd(p.zs[j]);
        v.lowest[j] = _mm512_set1_epi64(p.cs[j] < 0.0 ? lanes - 1 : 0);
    }
    const int b = p.to;
    int x = p.from;
    for (; x + lanes <= b; x += lanes)
        _mm512_storeu_pd(p.row + x,
                         addTerms512(v, _mm512_loadu_pd(p.xc + x), _mm512_loadu_pd(p.row + x)));
    if (x < b) {
        // The last few pixels under a mask; the lanes beyond them repeat the last
        // pixel, so the smallest t is still that of a pixel of the row.
        const __mmask8 m = static_cast<__mmask8>((1u << (b - x)) - 1);
        const __m512d xc = _mm512_mask_loadu_pd(_mm512_set1_pd(p.xc[b - 1]), m, p.xc + x);
        _mm512_mask_storeu_pd(p.row + x, m,
                              addTerms512(v, xc, _mm512_maskz_loadu_pd(m, p.row + x)));
    }
    clearHighVectorRegisters();
}
#pragma GCC diagnostic pop
#endif

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

RowKernel rowKernel()
{
    switch (CtFbp::simd()) {
#if defined(__x86_64__) && defined(__GNUC__)
    case CtFbp::Simd::Avx512:
        return {&rowAvx512, 8};
    case CtFbp::Simd::Avx2:
        return {&rowAvx2, 4};
#endif
    default:
        return {&rowScalar, 4};
    }
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
    nFft = 0;
    nTransform = 0;
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
    if (n == nFft && count == nProj && forwardPlan && inversePlan)
        return true;
    release();
    nProj = 0;
    // An FFT length below 2 has no ramp filter; FFTW has no plan below 1.
    if (n < 2 || count < 1) {
        qDebug() << "CT size is not usable (N, P)" << n << count;
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
    const size_t L = static_cast<size_t>(length);
    if (!forwardIn.allocate(L) || !forwardOut.allocate(L) || !inverseIn.allocate(L) ||
        !inverseOut.allocate(L)) {
        release();
        return false;
    }
    forwardPlan.reset(FftwPlanner::planDft1d(length, forwardIn.data(), forwardOut.data(),
                                             FFTW_FORWARD, FFTW_ESTIMATE));
    inversePlan.reset(FftwPlanner::planDft1d(length, inverseIn.data(), inverseOut.data(),
                                             FFTW_BACKWARD, FFTW_ESTIMATE));
    if (!forwardPlan || !inversePlan) {
        release();
        return false;
    }
    const size_t P = static_cast<size_t>(count);
    // The spectra of all rows are kept only for callers that transform and filter
    // in separate steps; reconstruct() filters each spectrum straight from the
    // FFT's output, so an engine never holds them.
    // Each filtered row starts on a 64-byte boundary and is followed by at
    // least 16 zeros, which the vector back projection may load (never use)
    // beyond the row's last sample.
    filtered.assign(nFftStride(n) * P + 8, 0.0);
    const auto address = reinterpret_cast<std::uintptr_t>(filtered.data());
    filteredBase = filtered.data() + (64 - address % 64) % 64 / sizeof(double);
    // The angles and offsets of the fast back projection, computed as
    // backProject computes them.
    cosines.resize(P);
    sines.resize(P);
    for (int i = 0; i < count; ++i) {
        const double theta = i * pi / count;
        cosines[i] = std::cos(theta);
        sines[i] = std::sin(theta);
    }
    xOffsets.resize(N);
    for (int x = 0; x < n; ++x)
        xOffsets[x] = x - n * 0.5;
    nFft = n;
    nProj = count;
    nTransform = length;
    return true;
}

void CtFbp::initResult(int n)
{
    rn = std::max(n, 0);
    result.assign(static_cast<size_t>(rn) * static_cast<size_t>(rn), 0.0);
    valid = false;
}

void CtFbp::forward(const double *row)
{
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

double *CtFbp::spectrum(int i)
{
    // Zeros until fftRow fills them, so that filtering a row never transformed
    // gives zeros.
    const size_t size = 2 * static_cast<size_t>(nTransform) * static_cast<size_t>(nProj);
    if (spectra.size() != size)
        spectra.assign(size, 0.0);
    return spectra.data() + 2 * static_cast<size_t>(i) * nTransform;
}

void CtFbp::fftRow(const double *row, int i)
{
    if (!rowIndexOk(i))
        return;
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
    if (!rowIndexOk(i) || rn != nFft)
        return;
    const int N = nFft;
    const double theta = i * pi / nProj;
    const double c = N * 0.5;
    const double cs = std::cos(theta);
    const double sn = std::sin(theta);
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

void CtFbp::rowChord(int z, int xFrom, int xTo, int *from, int *to) const
{
    const int N = nFft;
    const double c = N * 0.5;
    const double zc = z - c;
    *from = 0;
    *to = 0;
    if (std::fabs(zc) >= c)
        return;
    auto inside = [&](int x) { return std::sqrt((x - c) * (x - c) + zc * zc) < c; };
    // The chord of the circle on this row, corrected at both ends by the very test
    // backProject makes per pixel, so both compute the same pixels.
    const double half = std::sqrt(c * c - zc * zc);
    int a = std::clamp(static_cast<int>(c - half), 0, N - 1);
    int e = std::clamp(static_cast<int>(c + half), 0, N - 1);
    while (a > 0 && inside(a - 1))
        --a;
    while (a <= e && !inside(a))
        ++a;
    while (e + 1 < N && inside(e + 1))
        ++e;
    while (e >= a && !inside(e))
        --e;
    *from = std::max(a, xFrom);
    *to = std::max(*from, std::min(e + 1, xTo));
}

void CtFbp::backProjectAll(double x0, double x1, double z0, double z1)
{
    if (nFft < 2 || nProj < 1 || rn != nFft)
        return;
    const int N = nFft;
    const int P = nProj;
    const double c = N * 0.5;
    const std::vector<double> &cs = cosines;
    const std::vector<double> &sn = sines;
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, N, &xFrom, &xTo);
    pixelRange(z0, z1, N, &zFrom, &zTo);
    const RowKernel kernel = rowKernel();

    // Tile by tile; every pixel still adds its projections in the order
    // 0 ... P - 1, as backProject does.
    int from[rowsPerBlock];
    int to[rowsPerBlock];
    RowPass pass;
    pass.xc = xOffsets.data();
    pass.c = c;
    pass.lastK = N - 1;
    for (int zb = zFrom; zb < zTo; zb += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, zTo - zb);
        for (int r = 0; r < rows; ++r)
            rowChord(zb + r, xFrom, xTo, &from[r], &to[r]);
        for (int tx = xFrom; tx < xTo; tx += tileWidth) {
            const int txEnd = std::min(tx + tileWidth, xTo);
            for (int i = 0; i < P; i += kernel.passWidth) {
                pass.count = std::min(kernel.passWidth, P - i);
                for (int j = 0; j < pass.count; ++j) {
                    pass.table[j] = filteredRow(i + j);
                    pass.cs[j] = cs[i + j];
                }
                for (int r = 0; r < rows; ++r) {
                    pass.from = std::max(from[r], tx);
                    pass.to = std::min(to[r], txEnd);
                    if (pass.from >= pass.to)
                        continue;
                    const double zc = zb + r - c;
                    for (int j = 0; j < pass.count; ++j)
                        pass.zs[j] = zc * sn[i + j];
                    pass.row = resultRow(zb + r);
                    kernel.run(pass);
                }
            }
        }
    }
    valid = true;
}

void CtFbp::calcMinMax()
{
    if (!valid || rn < 1 || result.size() != static_cast<size_t>(rn) * rn)
        return;
    minValue = DBL_MAX;
    maxValue = -DBL_MAX;
    for (const double v : result) {
        if (v < minValue)
            minValue = v;
        if (v > maxValue)
            maxValue = v;
    }
}

bool CtFbp::reconstruct(const double *sgm, int sgmWidth, int rows, double x0, double x1, double z0,
                        double z1)
{
    if (nFft < 2 || rows != nProj || sgmWidth < nFft)
        return false;
    initResult(nFft);
    // The same values as fftRow then filterRow for every row: the forward
    // output is read in place of its copy.
    for (int i = 0; i < rows; ++i) {
        forward(sgm + static_cast<size_t>(i) * sgmWidth);
        filterSpectrum(reinterpret_cast<const double *>(forwardOut.data()), i);
    }
    backProjectAll(x0, x1, z0, z1);
    return true;
}
