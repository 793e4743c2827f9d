// The single-precision parts of CtFbp (setPrecision(Single)): float transforms,
// filtered rows, back projection and result, and the result's access as doubles.

#include "CtFbp.h"

#include "BackProjection.h"
#include "BackProjectionSingle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
constexpr double twoPi = 6.283185307179586;
} // namespace

size_t CtFbp::filteredStrideSingle() const
{
    return (static_cast<size_t>(nFft) + BackProjectionSingle::rowPadding + 15) / 16 * 16;
}

bool CtFbp::setupSingle(int n, int count, int length)
{
    const size_t L = static_cast<size_t>(length);
    const size_t bins = L / 2 + 1;
    if (!realInSingle.allocate(L) || !forwardOutSingle.allocate(bins) ||
        !inverseInSingle.allocate(bins) || !realOutSingle.allocate(L))
        return false;
    forwardPlanSingle.reset(FftwPlanner::planDftR2c1d(length, realInSingle.data(),
                                                      forwardOutSingle.data(), FFTW_ESTIMATE));
    inversePlanSingle.reset(FftwPlanner::planDftC2r1d(length, inverseInSingle.data(),
                                                      realOutSingle.data(), FFTW_ESTIMATE));
    if (!forwardPlanSingle || !inversePlanSingle)
        return false;
    // A real row's spectrum is conjugate-symmetric, so the real part of the
    // complex path's filtered row is the real transform filtered by the mean of
    // the weights of bins m and L - m.
    binWeightsSingle.resize(bins);
    const double scale = twoPi / length / length;
    for (size_t m = 0; m < bins; ++m) {
        const size_t mirror = (L - m) % L;
        binWeightsSingle[m] =
            static_cast<float>(0.5 * (binWeights[m] + binWeights[mirror]) * scale);
    }
    // nFft is not yet set: the stride of n, as filteredStrideSingle gives it.
    const size_t stride =
        (static_cast<size_t>(n) + BackProjectionSingle::rowPadding + 15) / 16 * 16;
    filteredSingle.assign(stride * static_cast<size_t>(count) + 16, 0.0f);
    const auto address = reinterpret_cast<std::uintptr_t>(filteredSingle.data());
    filteredSingleBase = filteredSingle.data() + (64 - address % 64) % 64 / sizeof(float);
    return true;
}

template<typename Sample>
void CtFbp::forwardSingle(const Sample *samples)
{
    // Doubles are rounded here, floats taken as they are: a double row and the
    // same row stored as floats give the same transform.
    if (!scan.sampleWeights.empty()) {
        forwardSingle(weightedSamples(samples));
        return;
    }
    float *in = realInSingle.data();
    for (int k = 0; k < nFft; ++k)
        in[k] = static_cast<float>(samples[k]);
    const int tail = nFft + (nTransform - nFft) / 2;
    for (int k = nFft; k < nTransform; ++k)
        in[k] = static_cast<float>(k < tail ? samples[nFft - 1] : samples[0]);
    forwardPlanSingle.execute();
}

float *CtFbp::spectrumSingle(int i)
{
    const size_t size = 2 * binsSingle() * static_cast<size_t>(nProj);
    if (spectraSingle.size() != size)
        spectraSingle.assign(size, 0.0f);
    return spectraSingle.data() + 2 * binsSingle() * static_cast<size_t>(i);
}

void CtFbp::filterSpectrumSingle(const fftwf_complex *s, int i)
{
    const size_t bins = binsSingle();
    const float *w = binWeightsSingle.data();
    for (size_t m = 0; m < bins; ++m) {
        inverseInSingle[m][0] = s[m][0] * w[m];
        inverseInSingle[m][1] = s[m][1] * w[m];
    }
    inversePlanSingle.execute();
    float *f = filteredSingleBase + static_cast<size_t>(i) * filteredStrideSingle();
    std::copy(realOutSingle.data(), realOutSingle.data() + nFft, f);
    if (!scan.isDefault())
        weightFilteredRow(i);
}

void CtFbp::backProjectSingle(int i, double x0, double x1, double z0, double z1)
{
    // One projection, as the single-precision kernels compute its terms, added to
    // the float result.
    const int N = nFft;
    const double c = N * 0.5;
    const double cs = cosines[i];
    const double sn = sines[i];
    const float *f = filteredSingleBase + static_cast<size_t>(i) * filteredStrideSingle();
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, N, &xFrom, &xTo);
    pixelRange(z0, z1, N, &zFrom, &zTo);
    for (int z = zFrom; z < zTo; ++z) {
        int from, to;
        BackProjection::rowChord(N, z, xFrom, xTo, &from, &to);
        float *row = resultSingle.data() + static_cast<size_t>(z) * rn;
        for (int x = from; x < to; ++x) {
            // The position as the double path computes it, so that the same terms
            // are dropped at the last sample; the interpolation is float.
            const double t = (x - c) * cs - (z - c) * sn + c;
            const int k = static_cast<int>(std::floor(t));
            if (!(k >= 0 && k < N - 1))
                continue;
            const float frac = static_cast<float>(t - k);
            row[x] += f[k] + frac * (f[k + 1] - f[k]);
        }
    }
    valid = true;
}

void CtFbp::backProjectGroups(const std::vector<CtFbp *> &alike, double x0, double x1, double z0,
                              double z1)
{
    const CtFbp &first = *alike[0];
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, first.nFft, &xFrom, &xTo);
    pixelRange(z0, z1, first.nFft, &zFrom, &zTo);
    const Simd level = simd();
    for (size_t at = 0; at < alike.size(); at += BackProjectionSingle::maxSlices) {
        BackProjectionSingle::Slices group;
        group.n = first.nFft;
        group.count = first.nProj;
        group.cosines = first.cosines.data();
        group.sines = first.sines.data();
        group.tableStride = first.filteredStrideSingle();
        group.slices = static_cast<int>(
            std::min(alike.size() - at, static_cast<size_t>(BackProjectionSingle::maxSlices)));
        for (int s = 0; s < group.slices; ++s) {
            group.tables[s] = alike[at + s]->filteredSingleBase;
            group.results[s] = alike[at + s]->resultSingle.data();
        }
        BackProjectionSingle::run(group, xFrom, xTo, zFrom, zTo, level);
    }
    for (CtFbp *core : alike)
        core->valid = true;
}

template<typename Sample>
bool CtFbp::filterSinogramSingle(const Sample *sgm, int sgmWidth, int rows)
{
    for (int i = 0; i < rows; ++i) {
        forwardSingle(sgm + static_cast<size_t>(i) * sgmWidth);
        filterSpectrumSingle(forwardOutSingle.data(), i);
    }
    return true;
}

bool CtFbp::filterSinogram(const float *sgm, int sgmWidth, int rows)
{
    if (nFft < 2 || rows != nProj || sgmWidth < nFft)
        return false;
    if (arithmetic == Precision::Single) {
        initResult(nFft);
        return filterSinogramSingle(sgm, sgmWidth, rows);
    }
    // The double path takes the floats exactly, a row at a time.
    std::vector<double> row(static_cast<size_t>(sgmWidth));
    initResult(nFft);
    for (int i = 0; i < rows; ++i) {
        const float *samples = sgm + static_cast<size_t>(i) * sgmWidth;
        std::copy(samples, samples + sgmWidth, row.begin());
        forward(row.data());
        filterSpectrum(reinterpret_cast<const double *>(forwardOut.data()), i);
    }
    return true;
}

bool CtFbp::reconstruct(const float *sgm, int sgmWidth, int rows, double x0, double x1, double z0,
                        double z1)
{
    if (!filterSinogram(sgm, sgmWidth, rows))
        return false;
    backProjectAll(x0, x1, z0, z1);
    return true;
}

template bool CtFbp::filterSinogramSingle(const double *, int, int);
template void CtFbp::forwardSingle(const double *);

CtFbp::Rows::Rows(const CtFbp &c)
    : core(&c)
    , buffer(c.singleResult ? static_cast<size_t>(c.rn) : 0)
{
}

const double *CtFbp::resultRow(int z, double *buffer) const
{
    if (!singleResult)
        return resultRow(z);
    const float *row = resultRowSingle(z);
    std::copy(row, row + rn, buffer);
    return buffer;
}

double CtFbp::resultAt(int x, int z) const
{
    const size_t at = static_cast<size_t>(z) * rn + x;
    return singleResult ? resultSingle[at] : result[at];
}

void CtFbp::copyResult(double *out) const
{
    if (singleResult)
        std::copy(resultSingle.cbegin(), resultSingle.cend(), out);
    else
        std::copy(result.cbegin(), result.cend(), out);
}

namespace {

template<typename T>
size_t bytesOf(const std::vector<T> &v)
{
    return v.capacity() * sizeof(T);
}

template<typename T>
size_t bytesOf(const FftwBuffer<T> &b)
{
    return b.size() * sizeof(T);
}

} // namespace

size_t CtFbp::bufferBytes() const
{
    return bytesOf(forwardIn) + bytesOf(forwardOut) + bytesOf(inverseIn) + bytesOf(inverseOut) +
           bytesOf(realInSingle) + bytesOf(forwardOutSingle) + bytesOf(inverseInSingle) +
           bytesOf(realOutSingle) + bytesOf(binWeights) + bytesOf(binWeightsSingle) +
           bytesOf(spectra) + bytesOf(spectraSingle) + bytesOf(filtered) + bytesOf(filteredSingle) +
           bytesOf(cosines) + bytesOf(sines) + bytesOf(xOffsets) + bytesOf(weighted) +
           bytesOf(result) + bytesOf(resultSingle);
}
