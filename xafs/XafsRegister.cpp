#include "XafsRegister.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double whiteningFloor = 1e-2;
constexpr double twoPi = 6.283185307179586476925286766559;

// Tukey window: flat over the middle, a cosine fall to zero over the outer eighths.
// The edges of a region cut through the object would otherwise correlate at zero
// shift whatever the content does; the flat middle keeps the sample unweighted.
std::vector<double> tukey(int n)
{
    std::vector<double> t(static_cast<size_t>(n), 1.0);
    const int edge = n / 8;
    for (int i = 0; i < edge; ++i) {
        const double v = 0.5 * (1.0 - std::cos(M_PI * (i + 0.5) / edge));
        t[static_cast<size_t>(i)] = v;
        t[static_cast<size_t>(n - 1 - i)] = v;
    }
    return t;
}

} // namespace

XafsRegister::XafsRegister(int width, int height)
    : w(width)
    , h(height)
{
    if (w < 4 || h < 4)
        return;
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (!buffer.allocate(count))
        return;
    forwardPlan.reset(
        FftwPlanner::planDft2d(h, w, buffer.data(), buffer.data(), FFTW_FORWARD, FFTW_ESTIMATE));
    backwardPlan.reset(
        FftwPlanner::planDft2d(h, w, buffer.data(), buffer.data(), FFTW_BACKWARD, FFTW_ESTIMATE));
    reference.assign(count, {});
    crossPower.assign(count, {});
    taperX = tukey(w);
    taperZ = tukey(h);
    valid = forwardPlan && backwardPlan;
}

// Signed frequency of bin k; the Nyquist bin of an even length has no sign and is
// left out (0), so that shifted real images stay real.
double XafsRegister::frequency(int k, int n) const
{
    if (2 * k == n)
        return 0.0;
    return k < (n + 1) / 2 ? k : k - n;
}

void XafsRegister::forward(const float *image, bool taper)
{
    for (int z = 0; z < h; ++z) {
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(z) * w + x;
            const double v = std::isfinite(image[i]) ? image[i] : 0.0;
            buffer[i][0] = taper ? v * taperX[x] * taperZ[z] : v;
            buffer[i][1] = 0.0;
        }
    }
    forwardPlan.execute();
}

void XafsRegister::setReference(const float *image)
{
    if (!valid)
        return;
    forward(image, true);
    for (size_t i = 0; i < reference.size(); ++i)
        reference[i] = {buffer[i][0], buffer[i][1]};
}

// Looks for the largest correlation on a (2 half + 1)^2 grid of spacing `step` about
// (x, z), then places the peak by a parabola through the best point and its
// neighbours along each axis.
void XafsRegister::refine(double *x, double *z, double step, int half) const
{
    const int side = 2 * half + 1;
    // Separable: the sums along x are shared by every z of the grid.
    std::vector<std::complex<double>> phaseX(static_cast<size_t>(side) * w);
    for (int i = 0; i < side; ++i) {
        const double px = *x + (i - half) * step;
        for (int kx = 0; kx < w; ++kx)
            phaseX[static_cast<size_t>(i) * w + kx] =
                std::polar(1.0, twoPi * frequency(kx, w) * px / w);
    }
    std::vector<std::complex<double>> rows(static_cast<size_t>(side) * h);
    for (int kz = 0; kz < h; ++kz) {
        const std::complex<double> *r = &crossPower[static_cast<size_t>(kz) * w];
        for (int i = 0; i < side; ++i) {
            const std::complex<double> *p = &phaseX[static_cast<size_t>(i) * w];
            std::complex<double> sum;
            for (int kx = 0; kx < w; ++kx)
                sum += r[kx] * p[kx];
            rows[static_cast<size_t>(i) * h + kz] = sum;
        }
    }
    std::vector<double> surface(static_cast<size_t>(side) * side);
    for (int j = 0; j < side; ++j) {
        const double pz = *z + (j - half) * step;
        std::vector<std::complex<double>> phaseZ(static_cast<size_t>(h));
        for (int kz = 0; kz < h; ++kz)
            phaseZ[kz] = std::polar(1.0, twoPi * frequency(kz, h) * pz / h);
        for (int i = 0; i < side; ++i) {
            std::complex<double> sum;
            const std::complex<double> *row = &rows[static_cast<size_t>(i) * h];
            for (int kz = 0; kz < h; ++kz)
                sum += row[kz] * phaseZ[kz];
            surface[static_cast<size_t>(j) * side + i] = sum.real();
        }
    }
    int bi = half, bj = half;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            if (surface[static_cast<size_t>(j) * side + i] >
                surface[static_cast<size_t>(bj) * side + bi]) {
                bi = i;
                bj = j;
            }
        }
    }
    auto at = [&](int i, int j) { return surface[static_cast<size_t>(j) * side + i]; };
    auto offset = [](double a, double b, double c) {
        const double bend = a - 2.0 * b + c;
        return bend < 0.0 ? std::clamp(0.5 * (a - c) / bend, -0.5, 0.5) : 0.0;
    };
    double fx = bi, fz = bj;
    if (bi > 0 && bi < side - 1)
        fx += offset(at(bi - 1, bj), at(bi, bj), at(bi + 1, bj));
    if (bj > 0 && bj < side - 1)
        fz += offset(at(bi, bj - 1), at(bi, bj), at(bi, bj + 1));
    *x += (fx - half) * step;
    *z += (fz - half) * step;
}

void XafsRegister::shiftOf(const float *moving, double *dx, double *dz)
{
    *dx = 0.0;
    *dz = 0.0;
    if (!valid)
        return;
    forward(moving, true);
    double largest = 0.0;
    for (size_t i = 0; i < crossPower.size(); ++i) {
        crossPower[i] = std::complex<double>(buffer[i][0], buffer[i][1]) * std::conj(reference[i]);
        largest = std::max(largest, std::abs(crossPower[i]));
    }
    // Whitening makes every frequency count alike; where the slices hold nothing but
    // noise or rounding (high frequencies of smooth objects) it would count noise
    // alike too. A floor on the divisor whitens only the frequencies carrying signal.
    const double floor = whiteningFloor * largest;
    for (int kz = 0; kz < h; ++kz) {
        for (int kx = 0; kx < w; ++kx) {
            const size_t i = static_cast<size_t>(kz) * w + kx;
            const bool nyquist = 2 * kx == w || 2 * kz == h;
            const double size = std::abs(crossPower[i]) + floor;
            crossPower[i] = size > 0.0 && !nyquist ? crossPower[i] / size : std::complex<double>();
            buffer[i][0] = crossPower[i].real();
            buffer[i][1] = crossPower[i].imag();
        }
    }
    backwardPlan.execute();
    size_t best = 0;
    for (size_t i = 1; i < crossPower.size(); ++i) {
        if (buffer[i][0] > buffer[best][0])
            best = i;
    }
    double x = static_cast<double>(best % w);
    double z = static_cast<double>(best / w);
    if (x > w / 2)
        x -= w;
    if (z > h / 2)
        z -= h;
    // Two passes: a tenth of a pixel, then a hundredth, each finished by a parabola.
    refine(&x, &z, 0.1, 6);
    refine(&x, &z, 0.01, 6);
    *dx = x;
    *dz = z;
}

void XafsRegister::applyShift(float *image, double dx, double dz)
{
    if (!valid || (dx == 0.0 && dz == 0.0))
        return;
    forward(image, false);
    const double scale = 1.0 / (static_cast<double>(w) * h);
    for (int kz = 0; kz < h; ++kz) {
        const double fz = frequency(kz, h) * dz / h;
        for (int kx = 0; kx < w; ++kx) {
            const size_t i = static_cast<size_t>(kz) * w + kx;
            const std::complex<double> v =
                std::complex<double>(buffer[i][0], buffer[i][1]) *
                std::polar(scale, -twoPi * (frequency(kx, w) * dx / w + fz));
            buffer[i][0] = v.real();
            buffer[i][1] = v.imag();
        }
    }
    backwardPlan.execute();
    const size_t count = static_cast<size_t>(w) * h;
    for (size_t i = 0; i < count; ++i)
        image[i] = static_cast<float>(buffer[i][0]);
}
