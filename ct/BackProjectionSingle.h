#pragma once

#include "CtFbp.h"

#include <cstddef>

// The single-precision back projection behind CtFbp::backProjectAll when a core
// is set to CtFbp::Precision::Single: the same pixels, projections and slices
// per pass as BackProjection, but the detector position, the interpolation and
// the sums in float32, with fused multiply-adds where the processor has them,
// sixteen pixels per step with AVX-512 and eight with AVX2. A tile of rows is
// summed in float and added to the float results once, after all projections.
// The same input gives the same bits on one instruction set whatever the number
// of slices per pass.
namespace BackProjectionSingle {

constexpr int maxSlices = 4;
// Samples after a row's N that the vector kernels may load (never use): two
// blocks of sixteen from the block of sample N.
constexpr size_t rowPadding = 48;

struct Slices
{
    int n = 0;                           // N; the centre is N / 2
    int count = 0;                       // P
    const double *cosines = nullptr;     // cos(i pi / P)
    const double *sines = nullptr;       // sin(i pi / P)
    int slices = 0;                      // 1 ... maxSlices
    const float *tables[maxSlices] = {}; // filtered rows, row i at tables[s] + i * tableStride
    size_t tableStride = 0;         // at least N + rowPadding, 64-byte aligned rows, zeros after N
    float *results[maxSlices] = {}; // N x N, result[z][x] at results[s] + z * N + x
};

// Adds every projection to every pixel of [xFrom, xTo) x [zFrom, zTo) (within 0 ... N)
// that lies strictly inside the circle of radius N / 2, with the given instruction set.
void run(const Slices &s, int xFrom, int xTo, int zFrom, int zTo, CtFbp::Simd level);

} // namespace BackProjectionSingle
