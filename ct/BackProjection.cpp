#include "BackProjection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ORVO2_X86_KERNELS 1
#endif

namespace {

using BackProjection::maxSlices;

// Result tiles of rowsPerBlock rows and tileWidth pixels: the tiles of all slices
// stay in the second-level cache and the stretch of each projection's table that
// a tile needs in the first, while all projections pass over it.
constexpr int rowsPerBlock = 8;
constexpr int tileWidth = 2048;

// One pass of up to `width` projections over the pixels [from, to) of one result
// row in each slice.
struct RowPass
{
    static constexpr int width = 8;
    double *rows[maxSlices] = {};
    const double *xc = nullptr; // x - c for every x
    int from = 0;
    int to = 0;
    int count = 0;
    const double *table[width][maxSlices] = {};
    double cs[width] = {};
    double zs[width] = {}; // (z - c) sin(theta)
    double c = 0.0;
    double lastK = 0.0; // N - 1: no interpolation from the last sample on
};

using RowKernel = void (*)(const RowPass &);

// Inside the circle t lies in (0, N), so truncation is floor. The terms are those
// of the straightforward loop, bit for bit; a pixel whose k is N - 1 adds nothing
// there, and nothing here. k goes back to a double through the bits of 2^52 + k:
// an int-to-double conversion would tie every term to the one before through the
// register it only partly writes.
template<int S>
void rowScalar(const RowPass &p)
{
    for (int x = p.from; x < p.to; ++x) {
        double acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = p.rows[s][x];
        for (int j = 0; j < p.count; ++j) {
            const double t = p.xc[x] * p.cs[j] - p.zs[j] + p.c;
            const long long k = static_cast<long long>(t);
            double kf;
            const long long bits = 0x4330000000000000LL + k;
            std::memcpy(&kf, &bits, sizeof kf);
            kf -= 4503599627370496.0;
            if (!(kf < p.lastK))
                continue;
            const double frac = t - kf;
            for (int s = 0; s < S; ++s) {
                const double *f = p.table[j][s] + k;
                acc[s] += f[0] + frac * (f[1] - f[0]);
            }
        }
        for (int s = 0; s < S; ++s)
            p.rows[s][x] = acc[s];
    }
}

#ifdef ORVO2_X86_KERNELS

// The pixels of [p.from, p.to) where every projection of the pass surely has
// t < N - 1, so no term needs the test for the last sample. The margin is far
// above the rounding of t; pixels left out take the test.
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

// Whether the t values of neighbouring pixels, computed with rounding, surely
// step by less than one table bin: |cs| clearly below 1, or +-1 with t exact
// (zs = 0). Then the t of L pixels in a row span fewer than L bins.
inline bool stepBelowOneBin(double cs, double zs)
{
    return std::fabs(cs) < 1.0 - 1e-9 || (std::fabs(cs) == 1.0 && zs == 0.0);
}

bool passSpansAllowPermutes(const RowPass &p)
{
    for (int j = 0; j < p.count; ++j)
        if (!stepBelowOneBin(p.cs[j], p.zs[j]))
            return false;
    return true;
}

// ---- AVX2: four pixels per step -------------------------------------------------
// The four t of a step lie within four bins of the smallest, kMin, so every
// needed sample k and k + 1 is among the five from kMin on. The four from kMin
// and the four from kMin + 1 are loaded once each (unaligned), and each pixel's
// pair picked from them by a one-source permute indexed by k - kMin. No gathers:
// on AMD processors the in-register permutes are much the faster. No FMA: a fused
// multiply-add would round differently from the straightforward loop.
struct Avx2Pass
{
    __m256d cc, magic, lastK;
    __m256d cs[RowPass::width];
    __m256d zs[RowPass::width];
    __m256i lowest[RowPass::width]; // the low half of the lane of the smallest t
};

template<int S, bool LastSampleTest>
__attribute__((target("avx2"), always_inline)) inline void
addTerms256(const RowPass &p, const Avx2Pass &v, const __m256d xc, __m256d *acc)
{
    // A double is a pair of 32-bit lanes: (2d, 2d + 1) picks double d.
    const __m256i halves = _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1);
    for (int j = 0; j < p.count; ++j) {
        const __m256d t = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(xc, v.cs[j]), v.zs[j]), v.cc);
        const __m256d kf = _mm256_floor_pd(t);
        const __m256d frac = _mm256_sub_pd(t, kf);
        // The low 32 bits of 2^52 + k are k.
        const __m256i k = _mm256_castpd_si256(_mm256_add_pd(kf, v.magic));
        const __m256i kMinAll = _mm256_permutevar8x32_epi32(k, v.lowest[j]);
        const int kMin = _mm_cvtsi128_si32(_mm256_castsi256_si128(kMinAll));
        const __m256i d = _mm256_sub_epi32(_mm256_shuffle_epi32(k, 0xA0), kMinAll);
        const __m256i pick = _mm256_add_epi32(_mm256_add_epi32(d, d), halves);
        __m256d sampled = _mm256_setzero_pd();
        if (LastSampleTest)
            sampled = _mm256_cmp_pd(kf, v.lastK, _CMP_LT_OQ);
        for (int s = 0; s < S; ++s) {
            const double *f = p.table[j][s] + kMin;
            const __m256 here = _mm256_castpd_ps(_mm256_loadu_pd(f));
            const __m256 after = _mm256_castpd_ps(_mm256_loadu_pd(f + 1));
            const __m256d value = _mm256_castps_pd(_mm256_permutevar8x32_ps(here, pick));
            const __m256d next = _mm256_castps_pd(_mm256_permutevar8x32_ps(after, pick));
            __m256d term = _mm256_add_pd(value, _mm256_mul_pd(frac, _mm256_sub_pd(next, value)));
            // +0 where k is N - 1; a sum that starts at +0 is never -0, so
            // adding it leaves the sum as the loop that skips the term.
            if (LastSampleTest)
                term = _mm256_and_pd(term, sampled);
            acc[s] = _mm256_add_pd(acc[s], term);
        }
    }
}

// Pixels [from, to) of a row, four at a time, the last few under a mask; lanes
// beyond the row repeat its last pixel, so the smallest t is still one of the row.
template<int S, bool LastSampleTest>
__attribute__((target("avx2"), always_inline)) inline void
stretch256(const RowPass &p, const Avx2Pass &v, int from, int to)
{
    int x = from;
    for (; x + 4 <= to; x += 4) {
        __m256d acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm256_loadu_pd(p.rows[s] + x);
        addTerms256<S, LastSampleTest>(p, v, _mm256_loadu_pd(p.xc + x), acc);
        for (int s = 0; s < S; ++s)
            _mm256_storeu_pd(p.rows[s] + x, acc[s]);
    }
    if (x >= to)
        return;
    const __m256i m =
        _mm256_cmpgt_epi64(_mm256_set1_epi64x(to - x), _mm256_setr_epi64x(0, 1, 2, 3));
    const __m256d xc = _mm256_blendv_pd(_mm256_set1_pd(p.xc[to - 1]),
                                        _mm256_maskload_pd(p.xc + x, m), _mm256_castsi256_pd(m));
    __m256d acc[S];
    for (int s = 0; s < S; ++s)
        acc[s] = _mm256_maskload_pd(p.rows[s] + x, m);
    addTerms256<S, true>(p, v, xc, acc);
    for (int s = 0; s < S; ++s)
        _mm256_maskstore_pd(p.rows[s] + x, m, acc[s]);
}

template<int S>
__attribute__((target("avx2"))) void rowAvx2(const RowPass &p)
{
    if (!passSpansAllowPermutes(p)) {
        rowScalar<S>(p);
        return;
    }
    Avx2Pass v;
    v.cc = _mm256_set1_pd(p.c);
    v.magic = _mm256_set1_pd(4503599627370496.0);
    v.lastK = _mm256_set1_pd(p.lastK);
    for (int j = 0; j < p.count; ++j) {
        v.cs[j] = _mm256_set1_pd(p.cs[j]);
        v.zs[j] = _mm256_set1_pd(p.zs[j]);
        v.lowest[j] = _mm256_set1_epi32(p.cs[j] < 0.0 ? 6 : 0);
    }
    int a, b;
    interiorRange(p, &a, &b);
    stretch256<S, true>(p, v, p.from, a);
    stretch256<S, false>(p, v, a, b);
    stretch256<S, true>(p, v, b, p.to);
    // The compiler leaves the upper register halves dirty here, and every SSE
    // instruction after them would run several times slower.
    _mm256_zeroupper();
}

// ---- AVX-512: eight pixels per step ----------------------------------------------
// The eight t of a step lie within eight bins of the smallest, so their samples
// k and k + 1 all sit in the two aligned 8-sample blocks from that bin's block
// on; both blocks are loaded once and each pixel's pair picked from them by a
// two-source permute. The permute picks by the low four bits of k, so the block
// with bit 3 of the index clear goes first. Floor(t) comes as the low bits of
// t + 2^52 rounded down, frac as the exact t - floor(t). Inside the circle t < N,
// so k <= N - 1 and the blocks stay within the row's zero padding; a pixel whose
// k is N - 1 takes no term, as in the straightforward loop, by a mask on the sum.

// GCC's own AVX-512 headers trip its uninitialised-value warning
// (_mm512_undefined_*), so it is off for these kernels.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

struct Avx512Pass
{
    static constexpr int lanes = 8;
    __m512d cc, magic;
    __m512i one;
    __m512i lastK; // (N - 1) + 2^52 as the bits of a double
    __m512d cs[RowPass::width];
    __m512d zs[RowPass::width];
    __m512i lowest[RowPass::width]; // the lane of the smallest t, in every lane
};

// acc[s] plus the terms of all projections of the pass for the pixels at xc.
template<int S>
__attribute__((target("avx512f,avx512dq"), always_inline)) inline void
addTerms512(const RowPass &p, const Avx512Pass &v, const __m512d xc, __m512d *acc)
{
    constexpr long long magicBits = 0x4330000000000000LL; // 2^52
    for (int j = 0; j < p.count; ++j) {
        const __m512d t = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(xc, v.cs[j]), v.zs[j]), v.cc);
        const __m512d frac = _mm512_reduce_pd(t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512i k = _mm512_castpd_si512(
            _mm512_add_round_pd(t, v.magic, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
        const long long kMin =
            _mm_cvtsi128_si64(_mm512_castsi512_si128(_mm512_permutexvar_epi64(v.lowest[j], k))) -
            magicBits;
        const long long block = kMin >> 3;
        const long long even = 8 * ((block + 1) & ~1LL);
        const long long odd = 8 * (block | 1);
        const __m512i kNext = _mm512_add_epi64(k, v.one);
        const __mmask8 sampled = _mm512_cmplt_epi64_mask(k, v.lastK);
        for (int s = 0; s < S; ++s) {
            const double *f = p.table[j][s];
            const __m512d lo = _mm512_load_pd(f + even);
            const __m512d hi = _mm512_load_pd(f + odd);
            const __m512d value = _mm512_permutex2var_pd(lo, k, hi);
            const __m512d next = _mm512_permutex2var_pd(lo, kNext, hi);
            const __m512d slope = _mm512_sub_pd(next, value);
            acc[s] = _mm512_mask_add_pd(acc[s], sampled, acc[s],
                                        _mm512_add_pd(value, _mm512_mul_pd(frac, slope)));
        }
    }
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

template<int S>
__attribute__((target("avx512f,avx512dq"))) void rowAvx512(const RowPass &p)
{
    constexpr int lanes = Avx512Pass::lanes;
    if (!passSpansAllowPermutes(p)) {
        rowScalar<S>(p);
        return;
    }
    Avx512Pass v;
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
    for (; x + lanes <= b; x += lanes) {
        __m512d acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm512_loadu_pd(p.rows[s] + x);
        addTerms512<S>(p, v, _mm512_loadu_pd(p.xc + x), acc);
        for (int s = 0; s < S; ++s)
            _mm512_storeu_pd(p.rows[s] + x, acc[s]);
    }
    if (x < b) {
        // The last few pixels under a mask; the lanes beyond them repeat the last
        // pixel, so the smallest t is still that of a pixel of the row.
        const __mmask8 m = static_cast<__mmask8>((1u << (b - x)) - 1);
        const __m512d xc = _mm512_mask_loadu_pd(_mm512_set1_pd(p.xc[b - 1]), m, p.xc + x);
        __m512d acc[S];
        for (int s = 0; s < S; ++s)
            acc[s] = _mm512_maskz_loadu_pd(m, p.rows[s] + x);
        addTerms512<S>(p, v, xc, acc);
        for (int s = 0; s < S; ++s)
            _mm512_mask_storeu_pd(p.rows[s] + x, m, acc[s]);
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
template<int S>
struct Avx2Kernel
{
    static void run(const RowPass &p) { rowAvx2<S>(p); }
};
template<int S>
struct Avx512Kernel
{
    static void run(const RowPass &p) { rowAvx512<S>(p); }
};
#endif

RowKernel rowKernel(CtFbp::Simd level, int slices)
{
    switch (level) {
#ifdef ORVO2_X86_KERNELS
    case CtFbp::Simd::Avx512:
        return bySlices<Avx512Kernel>(slices);
    case CtFbp::Simd::Avx2:
        return bySlices<Avx2Kernel>(slices);
#endif
    default:
        return bySlices<ScalarKernel>(slices);
    }
}

} // namespace

void BackProjection::run(const Slices &s, int xFrom, int xTo, int zFrom, int zTo, CtFbp::Simd level)
{
    const int N = s.n;
    const int P = s.count;
    if (N < 2 || P < 1 || s.slices < 1 || s.slices > maxSlices)
        return;
    const double c = N * 0.5;
    const RowKernel kernel = rowKernel(level, s.slices);
    constexpr int passWidth = RowPass::width;

    // Tile by tile; every pixel still adds its projections in the order 0 ... P - 1.
    int from[rowsPerBlock];
    int to[rowsPerBlock];
    RowPass pass;
    pass.xc = s.xOffsets;
    pass.c = c;
    pass.lastK = N - 1;
    for (int zb = zFrom; zb < zTo; zb += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, zTo - zb);
        for (int r = 0; r < rows; ++r)
            rowChord(N, zb + r, xFrom, xTo, &from[r], &to[r]);
        for (int tx = xFrom; tx < xTo; tx += tileWidth) {
            const int txEnd = std::min(tx + tileWidth, xTo);
            for (int i = 0; i < P; i += passWidth) {
                pass.count = std::min(passWidth, P - i);
                for (int j = 0; j < pass.count; ++j) {
                    for (int k = 0; k < s.slices; ++k)
                        pass.table[j][k] = s.tables[k] + static_cast<size_t>(i + j) * s.tableStride;
                    pass.cs[j] = s.cosines[i + j];
                }
                for (int r = 0; r < rows; ++r) {
                    pass.from = std::max(from[r], tx);
                    pass.to = std::min(to[r], txEnd);
                    if (pass.from >= pass.to)
                        continue;
                    const double zc = zb + r - c;
                    for (int j = 0; j < pass.count; ++j)
                        pass.zs[j] = zc * s.sines[i + j];
                    for (int k = 0; k < s.slices; ++k)
                        pass.rows[k] = s.results[k] + static_cast<size_t>(zb + r) * N;
                    kernel(pass);
                }
            }
        }
    }
}

void BackProjection::rowChord(int n, int z, int xFrom, int xTo, int *from, int *to)
{
    const double c = n * 0.5;
    const double zc = z - c;
    *from = 0;
    *to = 0;
    if (std::fabs(zc) >= c)
        return;
    auto inside = [&](int x) { return std::sqrt((x - c) * (x - c) + zc * zc) < c; };
    // The chord of the circle on this row, corrected at both ends by the very test
    // the straightforward loop makes per pixel, so both compute the same pixels.
    const double half = std::sqrt(c * c - zc * zc);
    int a = std::clamp(static_cast<int>(c - half), 0, n - 1);
    int e = std::clamp(static_cast<int>(c + half), 0, n - 1);
    while (a > 0 && inside(a - 1))
        --a;
    while (a <= e && !inside(a))
        ++a;
    while (e + 1 < n && inside(e + 1))
        ++e;
    while (e >= a && !inside(e))
        --e;
    *from = std::max(a, xFrom);
    *to = std::max(*from, std::min(e + 1, xTo));
}
