#include "BackProjectionSingle.h"

#include "BackProjection.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ORVO2_X86_KERNELS 1
#endif

namespace {

using BackProjectionSingle::maxSlices;

// Result tiles of rowsPerBlock rows and tileWidth pixels, as in the double
// kernels: the float sums of all slices of a tile stay in the second-level cache.
constexpr int rowsPerBlock = 8;
constexpr int tileWidth = 2048;

// One pass of up to `width` projections over the pixels [from, to) of one row
// of the float sums in each slice.
struct RowPass
{
    static constexpr int width = 8;
    float *rows[maxSlices] = {};
    const float *xc = nullptr; // x - c for every x, exact in float
    int from = 0;
    int to = 0;
    int count = 0;
    int lastK = 0; // N - 1: no interpolation from the last sample on
    // Twice the largest rounding of a position t: the most the rounded t of two
    // pixels can step beyond their exact distance.
    float positionSlack = 0.0f;
    const float *table[width][maxSlices] = {};
    float cs[width] = {};
    // c - (z - c) sin(theta), computed in double and rounded once: t = (x - c) cs + d.
    float d[width] = {};
    // t is exact for every pixel: |cs| = 1 and d = c, so t steps by exactly one bin.
    bool exactStep[width] = {};
    // The double path's own position terms, for the pixels near the rim.
    double csExact[width] = {};
    double zsExact[width] = {};
    double c = 0.0;
};

using RowKernel = void (*)(const RowPass &);
using RimKernel = void (*)(const RowPass &, int, int);

// The position of pixel x in projection j, never below 0: for a pixel on the
// circle's rim the rounded t may fall just below the first sample, which would
// be read before the row.
inline float clampedPosition(float t)
{
    return t > 0.0f ? t : 0.0f;
}

template<int S>
void rowScalar(const RowPass &p)
{
    for (int x = p.from; x < p.to; ++x) {
        float acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = p.rows[s][x];
        for (int j = 0; j < p.count; ++j) {
            const float t = clampedPosition(p.xc[x] * p.cs[j] + p.d[j]);
            const int k = static_cast<int>(t);
            if (!(k < p.lastK))
                continue;
            const float frac = t - static_cast<float>(k);
            for (int s = 0; s < S; ++s) {
                const float *f = p.table[j][s] + k;
                acc[s] += f[0] + frac * (f[1] - f[0]);
            }
        }
        for (int s = 0; s < S; ++s)
            p.rows[s][x] = acc[s];
    }
}

// Pixels near the rim, where a projection's t may lie at N - 1: there the double
// path drops the term (no sample after the last) and a rounding of t in float
// could keep it, or the other way round, a whole term apart. These pixels take
// t, and so that choice, exactly as the double path computes them; only the
// interpolation and the sum are float.
template<int S>
void rowRim(const RowPass &p, int from, int to)
{
    for (int x = from; x < to; ++x) {
        float acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = p.rows[s][x];
        const double xc = p.xc[x];
        for (int j = 0; j < p.count; ++j) {
            const double t = xc * p.csExact[j] - p.zsExact[j] + p.c;
            const int k = static_cast<int>(std::floor(t));
            if (!(k >= 0 && k < p.lastK))
                continue;
            const float frac = static_cast<float>(t - k);
            for (int s = 0; s < S; ++s) {
                const float *f = p.table[j][s] + k;
                acc[s] += f[0] + frac * (f[1] - f[0]);
            }
        }
        for (int s = 0; s < S; ++s)
            p.rows[s][x] = acc[s];
    }
}

#ifdef ORVO2_X86_KERNELS

// The vector kernels see only the pixels away from the rim (interiorOf), whose t
// lies in [1, N - 2) however it is rounded: every projection adds a term to each
// of them, with no clamp at 0 and no mask at N - 1. They interpolate as
// (1 - frac) f[k] + frac f[k + 1], the two products summed by fused multiply-adds
// into accumulators of their own over a pass and added at its end: two operations
// per slice and projection, none of them waiting on the other.

// Whether the rounded t of `lanes` neighbouring pixels surely lie in fewer than
// `lanes` bins from the smallest one's, so that every sample a step needs lies in
// the window the kernel loads. Their exact span is (lanes - 1) |cs|.
bool passFitsWindow(const RowPass &p, int lanes)
{
    for (int j = 0; j < p.count; ++j) {
        if (p.exactStep[j])
            continue;
        const float span = (lanes - 1) * std::fabs(p.cs[j]) + p.positionSlack;
        if (!(span < lanes - 1))
            return false;
    }
    return true;
}

// ---- AVX2 with FMA: eight pixels per step ----------------------------------------
// The eight samples from kMin and the eight from kMin + 1 are loaded once each
// and every pixel's pair picked from them by a permute indexed by k - kMin.
struct Avx2Pass
{
    __m256 cs[RowPass::width];
    __m256 d[RowPass::width];
    __m256i lowest[RowPass::width]; // the lane of the smallest t, in every lane
};

// Wide: for passes whose t may span eight bins or more (|cos| near 1), the sixteen
// samples from kMin are loaded and each pixel's pair picked from either half;
// the same samples, so the same sums, at twice the permutes.
template<int S, bool Wide>
__attribute__((target("avx2,fma"), always_inline)) inline void
addTerms256(const RowPass &p, const Avx2Pass &v, const __m256 xc, __m256 *acc)
{
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256 unit = _mm256_set1_ps(1.0f);
    __m256 accNext[S];
    for (int s = 0; s < S; ++s)
        accNext[s] = _mm256_setzero_ps();
    for (int j = 0; j < p.count; ++j) {
        const __m256 t = _mm256_fmadd_ps(xc, v.cs[j], v.d[j]);
        const __m256 kf = _mm256_floor_ps(t);
        const __m256 frac = _mm256_sub_ps(t, kf);
        const __m256 rest = _mm256_sub_ps(unit, frac);
        const __m256i k = _mm256_cvttps_epi32(kf);
        const __m256i kMinAll = _mm256_permutevar8x32_epi32(k, v.lowest[j]);
        const int kMin = _mm_cvtsi128_si32(_mm256_castsi256_si128(kMinAll));
        const __m256i pick = _mm256_sub_epi32(k, kMinAll);
        if (Wide) {
            const __m256i pickNext = _mm256_add_epi32(pick, one);
            const __m256 high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(pick, seven));
            const __m256 highNext = _mm256_castsi256_ps(_mm256_cmpgt_epi32(pickNext, seven));
            for (int s = 0; s < S; ++s) {
                const float *f = p.table[j][s] + kMin;
                const __m256 lo = _mm256_loadu_ps(f);
                const __m256 hi = _mm256_loadu_ps(f + 8);
                const __m256 value = _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, pick),
                                                      _mm256_permutevar8x32_ps(hi, pick), high);
                const __m256 next =
                    _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, pickNext),
                                     _mm256_permutevar8x32_ps(hi, pickNext), highNext);
                acc[s] = _mm256_fmadd_ps(rest, value, acc[s]);
                accNext[s] = _mm256_fmadd_ps(frac, next, accNext[s]);
            }
            continue;
        }
        for (int s = 0; s < S; ++s) {
            const float *f = p.table[j][s] + kMin;
            const __m256 value = _mm256_permutevar8x32_ps(_mm256_loadu_ps(f), pick);
            const __m256 next = _mm256_permutevar8x32_ps(_mm256_loadu_ps(f + 1), pick);
            acc[s] = _mm256_fmadd_ps(rest, value, acc[s]);
            accNext[s] = _mm256_fmadd_ps(frac, next, accNext[s]);
        }
    }
    for (int s = 0; s < S; ++s)
        acc[s] = _mm256_add_ps(acc[s], accNext[s]);
}

template<int S, bool Wide>
__attribute__((target("avx2,fma"))) void rowAvx2(const RowPass &p)
{
    constexpr int lanes = 8;
    Avx2Pass v;
    for (int j = 0; j < p.count; ++j) {
        v.cs[j] = _mm256_set1_ps(p.cs[j]);
        v.d[j] = _mm256_set1_ps(p.d[j]);
        v.lowest[j] = _mm256_set1_epi32(p.cs[j] < 0.0f ? lanes - 1 : 0);
    }
    int x = p.from;
    for (; x + lanes <= p.to; x += lanes) {
        __m256 acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm256_loadu_ps(p.rows[s] + x);
        addTerms256<S, Wide>(p, v, _mm256_loadu_ps(p.xc + x), acc);
        for (int s = 0; s < S; ++s)
            _mm256_storeu_ps(p.rows[s] + x, acc[s]);
    }
    if (x < p.to) {
        // The last few pixels under a mask; the lanes beyond them repeat the last
        // pixel, so the smallest t is still that of a pixel of the row.
        const __m256i m = _mm256_cmpgt_epi32(_mm256_set1_epi32(p.to - x),
                                             _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        const __m256 xc = _mm256_blendv_ps(_mm256_set1_ps(p.xc[p.to - 1]),
                                           _mm256_maskload_ps(p.xc + x, m), _mm256_castsi256_ps(m));
        __m256 acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm256_maskload_ps(p.rows[s] + x, m);
        addTerms256<S, Wide>(p, v, xc, acc);
        for (int s = 0; s < S; ++s)
            _mm256_maskstore_ps(p.rows[s] + x, m, acc[s]);
    }
    _mm256_zeroupper();
}

// ---- AVX-512: sixteen pixels per step ----------------------------------------------
// The sixteen t of a step lie within sixteen bins of the smallest, so their samples
// k and k + 1 all sit in the two aligned 16-sample blocks from that bin's block on;
// both are loaded once and each pixel's pair picked by a two-source permute, which
// picks by the low five bits of k: the block with bit 4 of its index clear goes
// first.

// GCC's own AVX-512 headers trip its uninitialised-value warning
// (_mm512_undefined_*), so it is off for these kernels.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

struct Avx512Pass
{
    __m512 cs[RowPass::width];
    __m512 d[RowPass::width];
    __m512i lowest[RowPass::width];
    __m512i one;
};

// Wide: for passes whose t may span sixteen bins or more, the 32 samples from kMin
// itself (unaligned) and the pair picked by k - kMin; the same samples, the same sums.
template<int S, bool Wide>
__attribute__((target("avx512f,avx512dq"), always_inline)) inline void
addTerms512(const RowPass &p, const Avx512Pass &v, const __m512 xc, __m512 *acc)
{
    const __m512 unit = _mm512_set1_ps(1.0f);
    __m512 accNext[S];
    for (int s = 0; s < S; ++s)
        accNext[s] = _mm512_setzero_ps();
    for (int j = 0; j < p.count; ++j) {
        const __m512 t = _mm512_fmadd_ps(xc, v.cs[j], v.d[j]);
        const __m512 frac = _mm512_reduce_ps(t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512 rest = _mm512_sub_ps(unit, frac);
        const __m512i k = _mm512_cvttps_epi32(t);
        const __m512i kMinAll = _mm512_permutexvar_epi32(v.lowest[j], k);
        const int kMin = _mm_cvtsi128_si32(_mm512_castsi512_si128(kMinAll));
        if (Wide) {
            const __m512i pick = _mm512_sub_epi32(k, kMinAll);
            const __m512i pickNext = _mm512_add_epi32(pick, v.one);
            for (int s = 0; s < S; ++s) {
                const float *f = p.table[j][s] + kMin;
                const __m512 lo = _mm512_loadu_ps(f);
                const __m512 hi = _mm512_loadu_ps(f + 16);
                const __m512 value = _mm512_permutex2var_ps(lo, pick, hi);
                const __m512 next = _mm512_permutex2var_ps(lo, pickNext, hi);
                acc[s] = _mm512_fmadd_ps(rest, value, acc[s]);
                accNext[s] = _mm512_fmadd_ps(frac, next, accNext[s]);
            }
            continue;
        }
        const int block = kMin >> 4;
        const int even = 16 * ((block + 1) & ~1);
        const int odd = 16 * (block | 1);
        const __m512i kNext = _mm512_add_epi32(k, v.one);
        for (int s = 0; s < S; ++s) {
            const float *f = p.table[j][s];
            const __m512 lo = _mm512_load_ps(f + even);
            const __m512 hi = _mm512_load_ps(f + odd);
            const __m512 value = _mm512_permutex2var_ps(lo, k, hi);
            const __m512 next = _mm512_permutex2var_ps(lo, kNext, hi);
            acc[s] = _mm512_fmadd_ps(rest, value, acc[s]);
            accNext[s] = _mm512_fmadd_ps(frac, next, accNext[s]);
        }
    }
    for (int s = 0; s < S; ++s)
        acc[s] = _mm512_add_ps(acc[s], accNext[s]);
}

// As in the double kernels: registers 16 to 31 are cleared after use, or every
// SSE instruction after the kernel on this thread runs several times slower.
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

template<int S, bool Wide>
__attribute__((target("avx512f,avx512dq"))) void rowAvx512(const RowPass &p)
{
    constexpr int lanes = 16;
    Avx512Pass v;
    v.one = _mm512_set1_epi32(1);
    for (int j = 0; j < p.count; ++j) {
        v.cs[j] = _mm512_set1_ps(p.cs[j]);
        v.d[j] = _mm512_set1_ps(p.d[j]);
        v.lowest[j] = _mm512_set1_epi32(p.cs[j] < 0.0f ? lanes - 1 : 0);
    }
    int x = p.from;
    for (; x + lanes <= p.to; x += lanes) {
        __m512 acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm512_loadu_ps(p.rows[s] + x);
        addTerms512<S, Wide>(p, v, _mm512_loadu_ps(p.xc + x), acc);
        for (int s = 0; s < S; ++s)
            _mm512_storeu_ps(p.rows[s] + x, acc[s]);
    }
    if (x < p.to) {
        const __mmask16 m = static_cast<__mmask16>((1u << (p.to - x)) - 1);
        const __m512 xc = _mm512_mask_loadu_ps(_mm512_set1_ps(p.xc[p.to - 1]), m, p.xc + x);
        __m512 acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm512_maskz_loadu_ps(m, p.rows[s] + x);
        addTerms512<S, Wide>(p, v, xc, acc);
        for (int s = 0; s < S; ++s)
            _mm512_mask_storeu_ps(p.rows[s] + x, m, acc[s]);
    }
    clearHighVectorRegisters();
}
#pragma GCC diagnostic pop

#endif // ORVO2_X86_KERNELS

template<template<int> class Kernel>
RowKernel bySlices(int slices)
{
    switch (slices) {
    case 1:
        return Kernel<1>::run;
    case 2:
        return Kernel<2>::run;
    case 3:
        return Kernel<3>::run;
    default:
        return Kernel<4>::run;
    }
}

template<int S>
struct ScalarKernel
{
    static void run(const RowPass &p) { rowScalar<S>(p); }
};
#ifdef ORVO2_X86_KERNELS
// A pass whose samples may not lie in the narrow window takes the wide kernel.
template<int S>
struct Avx2Kernel
{
    static void run(const RowPass &p)
    {
        if (passFitsWindow(p, 8))
            rowAvx2<S, false>(p);
        else
            rowAvx2<S, true>(p);
    }
};
template<int S>
struct Avx512Kernel
{
    static void run(const RowPass &p)
    {
        if (passFitsWindow(p, 16))
            rowAvx512<S, false>(p);
        else
            rowAvx512<S, true>(p);
    }
};
#endif

RimKernel rimKernel(int slices)
{
    switch (slices) {
    case 1:
        return rowRim<1>;
    case 2:
        return rowRim<2>;
    case 3:
        return rowRim<3>;
    default:
        return rowRim<4>;
    }
}

// The pixels of [from, to) in row zc (from the centre) surely away from the rim:
// their distance from the centre is below c - 1 by more than any rounding of t.
void interiorOf(double c, double zc, int from, int to, int *inFrom, int *inTo)
{
    const double inner = c - 1.0 - (1e-3 + 2.0 * c * 0x1p-20);
    *inFrom = from;
    *inTo = from;
    if (!(inner > 0.0) || std::fabs(zc) >= inner)
        return;
    const double half = std::sqrt(inner * inner - zc * zc);
    const int a = static_cast<int>(std::ceil(c - half + 1e-9));
    const int e = static_cast<int>(std::floor(c + half - 1e-9)); // last inside
    *inFrom = std::clamp(a, from, to);
    *inTo = std::clamp(e + 1, *inFrom, to);
}

RowKernel rowKernel(CtFbp::Simd level, int slices)
{
    switch (level) {
#ifdef ORVO2_X86_KERNELS
    case CtFbp::Simd::Avx512:
        return bySlices<Avx512Kernel>(slices);
    case CtFbp::Simd::Avx2:
        // Every processor with AVX2 the program meets has FMA too; one without
        // it takes the plain loop rather than an illegal instruction.
        if (__builtin_cpu_supports("fma"))
            return bySlices<Avx2Kernel>(slices);
        break;
#endif
    default:
        break;
    }
    return bySlices<ScalarKernel>(slices);
}

} // namespace

void BackProjectionSingle::run(const Slices &s, int xFrom, int xTo, int zFrom, int zTo,
                               CtFbp::Simd level)
{
    const int N = s.n;
    const int P = s.count;
    if (N < 2 || P < 1 || s.slices < 1 || s.slices > maxSlices ||
        s.tableStride < static_cast<size_t>(N) + rowPadding)
        return;
    xFrom = std::clamp(xFrom, 0, N);
    xTo = std::clamp(xTo, xFrom, N);
    zFrom = std::clamp(zFrom, 0, N);
    zTo = std::clamp(zTo, zFrom, N);
    const double c = N * 0.5;
    const RowKernel kernel = rowKernel(level, s.slices);
    const RimKernel rim = rimKernel(s.slices);
    constexpr int passWidth = RowPass::width;

    std::vector<float> xc(static_cast<size_t>(N));
    for (int x = 0; x < N; ++x)
        xc[x] = static_cast<float>(x - c);
    // The float sums of one block of rows of every slice, full rows wide.
    const size_t rowLength = static_cast<size_t>(N);
    std::vector<float> sums(static_cast<size_t>(s.slices) * rowsPerBlock * rowLength);
    auto sumRow = [&](int slice, int r) {
        return sums.data() + (static_cast<size_t>(slice) * rowsPerBlock + r) * rowLength;
    };

    int from[rowsPerBlock];
    int to[rowsPerBlock];
    RowPass pass;
    pass.xc = xc.data();
    pass.lastK = N - 1;
    pass.c = c;
    // t is at most about N; each of the two roundings of t (the product's and the
    // sum's, or the one of a fused multiply-add) is below half a unit in the last
    // place there, and d's rounding is shared by all pixels of the row.
    pass.positionSlack = 4.0f * static_cast<float>(N + 1) * 0x1p-24f;
    for (int zb = zFrom; zb < zTo; zb += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, zTo - zb);
        for (int r = 0; r < rows; ++r) {
            BackProjection::rowChord(N, zb + r, xFrom, xTo, &from[r], &to[r]);
            for (int k = 0; k < s.slices; ++k)
                std::fill(sumRow(k, r) + from[r], sumRow(k, r) + to[r], 0.0f);
        }
        for (int tx = xFrom; tx < xTo; tx += tileWidth) {
            const int txEnd = std::min(tx + tileWidth, xTo);
            for (int i = 0; i < P; i += passWidth) {
                pass.count = std::min(passWidth, P - i);
                for (int j = 0; j < pass.count; ++j) {
                    for (int k = 0; k < s.slices; ++k)
                        pass.table[j][k] = s.tables[k] + static_cast<size_t>(i + j) * s.tableStride;
                    pass.cs[j] = static_cast<float>(s.cosines[i + j]);
                    pass.csExact[j] = s.cosines[i + j];
                }
                for (int r = 0; r < rows; ++r) {
                    pass.from = std::max(from[r], tx);
                    pass.to = std::min(to[r], txEnd);
                    if (pass.from >= pass.to)
                        continue;
                    const double zc = zb + r - c;
                    for (int j = 0; j < pass.count; ++j) {
                        const double zs = zc * s.sines[i + j];
                        pass.d[j] = static_cast<float>(c - zs);
                        pass.exactStep[j] = zs == 0.0 && std::fabs(pass.cs[j]) == 1.0f;
                        pass.zsExact[j] = zs;
                    }
                    for (int k = 0; k < s.slices; ++k)
                        pass.rows[k] = sumRow(k, r);
                    const int from = pass.from;
                    const int to = pass.to;
                    int inFrom, inTo;
                    interiorOf(c, zc, from, to, &inFrom, &inTo);
                    rim(pass, from, inFrom);
                    rim(pass, inTo, to);
                    if (inFrom < inTo) {
                        pass.from = inFrom;
                        pass.to = inTo;
                        kernel(pass);
                    }
                }
            }
        }
        // The sums reach the results here, once per tile of rows.
        for (int r = 0; r < rows; ++r)
            for (int k = 0; k < s.slices; ++k) {
                const float *sum = sumRow(k, r);
                float *result = s.results[k] + static_cast<size_t>(zb + r) * rowLength;
                for (int x = from[r]; x < to[r]; ++x)
                    result[x] += sum[x];
            }
    }
}
