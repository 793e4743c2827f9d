#pragma once

#include "CtFbp.h"

#include <cstddef>

// The fast back projection behind CtFbp::backProjectAll: up to maxSlices slices
// of one geometry in one pass. For a pixel and a projection the position t on
// the detector, its sample index and its interpolation weight are the same in
// every slice of a run; they are computed once and used for all slices, whose
// own work is then two sample loads, the picking of each pixel's pair and the
// interpolated sum. Every slice gets the sums of the straightforward loop bit for
// bit: the same terms, added in the order 0 ... P - 1.
namespace BackProjection {

constexpr int maxSlices = 4;

struct Slices
{
    int n = 0;                            // N; the centre is N / 2
    int count = 0;                        // P
    const double *cosines = nullptr;      // cos(i pi / P)
    const double *sines = nullptr;        // sin(i pi / P)
    const double *xOffsets = nullptr;     // x - N / 2 for x = 0 ... N - 1
    int slices = 0;                       // 1 ... maxSlices
    const double *tables[maxSlices] = {}; // filtered rows, row i at tables[s] + i * tableStride
    size_t tableStride = 0;               // at least N + 16, 64-byte aligned rows, zeros after N
    double *results[maxSlices] = {};      // N x N, result[z][x] at results[s] + z * N + x
};

// Adds every projection to every pixel of [xFrom, xTo) x [zFrom, zTo) (within 0 ... N)
// that lies strictly inside the circle of radius N / 2, with the given instruction set.
void run(const Slices &s, int xFrom, int xTo, int zFrom, int zTo, CtFbp::Simd level);

// The pixels [*from, *to) of row z inside both the circle and [xFrom, xTo): the
// pixels the straightforward loop gives a value.
void rowChord(int n, int z, int xFrom, int xTo, int *from, int *to);

} // namespace BackProjection
