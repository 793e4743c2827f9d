#pragma once

#include <cmath>
#include <vector>

class ImgDatas;

// Attenuation of one detector sample, ln((I0 - BG) / (I - BG)). A beam at or below
// the dark level carries no information; 1 keeps the logarithm finite (ln of the
// other term alone).
inline double attenuationOf(double open, double raw, double dark)
{
    double a = open - dark;
    double b = raw - dark;
    if (a <= 0.0)
        a = 1.0;
    if (b <= 0.0)
        b = 1.0;
    return std::log(a / b);
}

// The sinogram of one slice: row i holds projection i, resampled so that the
// centre of rotation is on sample (width - 1) / 2.
struct HSgm
{
    // Attenuation ln((I0 - BG) / (I - BG)), height rows of width samples.
    std::vector<double> sgm;
    // With singleSamples set the same values, computed in double, are stored as
    // floats in sgmSingle instead, and sgm stays empty: a single-precision engine
    // rounds them to float anyway, at half the memory.
    bool singleSamples = false;
    std::vector<float> sgmSingle;
    // The resampled raw intensities before normalisation, same shape; only
    // while keepRaw is set (a viewer that shows them), otherwise empty.
    std::vector<double> raw;
    int width = 0;
    int height = 0;
    int slice = 0;
    // The engines reconstruct from sgm alone; keeping raw would cost as much
    // again (11 MiB at N = 2048 and P = 720) for nothing.
    bool keepRaw = true;

    void resize(int w, int h);
    // A sinogram narrower than 3 samples gives an FFT length below 2, for
    // which no ramp filter exists.
    bool isUsable() const
    {
        return (singleSamples ? !sgmSingle.empty() : !sgm.empty()) && width >= 3 && height > 0;
    }
    const double *sgmRow(int i) const { return sgm.data() + static_cast<long>(i) * width; }
    const float *sgmRowSingle(int i) const
    {
        return sgmSingle.data() + static_cast<long>(i) * width;
    }
    // The bytes of the sample buffers.
    size_t bytes() const
    {
        return sgm.capacity() * sizeof(double) + raw.capacity() * sizeof(double) +
               sgmSingle.capacity() * sizeof(float);
    }
    const double *rawRow(int i) const { return raw.data() + static_cast<long>(i) * width; }
};

// Builds the sinogram of `slice` from the stack and its I0 and BG images.
// With the rotation axis vertical the slice is image row `slice`, otherwise
// column `slice`. Whenever it refuses (CoR off the line, slice outside the image,
// I0 or BG of another size, too narrow) it leaves *hSgm empty, so a sinogram of an
// earlier slice can never pass for this one. Reads the stack only: any number of
// threads may call it at once, each with its own HSgm.
// `sharp`: rows resampled from six samples (SgmGeom::sharp).
bool genSinogram0(HSgm *hSgm, const ImgDatas &stack, bool rotAxIsV, double cor, int slice,
                  int fixedHalfWidth = 0, bool sharp = false);
