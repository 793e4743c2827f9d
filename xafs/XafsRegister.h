#pragma once

#include "ct/FftwPlanner.h"

#include <complex>
#include <vector>

// Translation between two slices of the same size by phase correlation: the
// normalised cross-power spectrum of two shifted images is a pure phase ramp whose
// inverse transform peaks at the shift. The peak is first found on the pixel grid
// and then refined on a finer grid around it by evaluating the inverse transform
// there directly (a local upsampled DFT), which gives the shift to a small fraction
// of a pixel without transforming an enlarged array.
class XafsRegister
{
public:
    // Plans are made once per size through the program's planner lock.
    XafsRegister(int width, int height);

    bool isValid() const { return valid; }
    void setReference(const float *image);
    // Shift (dx, dz) in pixels such that moving(x, z) ~ reference(x - dx, z - dz).
    void shiftOf(const float *moving, double *dx, double *dz);
    // Moves the image by (dx, dz) pixels (Fourier shift: no blurring by interpolation).
    void applyShift(float *image, double dx, double dz);

private:
    void forward(const float *image, bool taper);
    double frequency(int k, int n) const;
    void refine(double *x, double *z, double step, int half) const;

    int w;
    int h;
    bool valid = false;
    FftwBuffer<fftw_complex> buffer;
    FftwPlan forwardPlan;
    FftwPlan backwardPlan;
    std::vector<std::complex<double>> reference;
    std::vector<std::complex<double>> crossPower;
    std::vector<double> taperX;
    std::vector<double> taperZ;
};
