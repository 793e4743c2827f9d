#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The filter of the filtered back projection: the ramp |frequency| times an
// optional window, applied to each sinogram row through an FFT.
//
// Unpadded (the default), the row's own N samples are transformed and the ramp
// is sampled at the bins' frequencies: bin m weighs min(m, N - m). That ramp
// has no weight at frequency 0, so every row loses its mean and the slice comes
// out too low by about half the slice's mean attenuation (a bowl, deepest at
// the rim).
//
// Padded, the row is extended to a power of two L >= 2N with its first and last
// samples (zeros would put a step at the row's ends where real scans do not fall
// to zero, and a bright rim into the slice) and the ramp is the transform of the
// band-limited spatial kernel h(0) = 1/4, h(k) = -1/(pi^2 k^2) for odd k, 0 for
// even k. Its transform keeps a small weight at frequency 0 and matches the
// continuous ramp for objects of finite extent, which removes the offset.
//
// Either way the weights are given in units of bins (the plain ramp's bin m
// weighs m) so that the FBP core scales them by 2 pi / L alike, and the plain
// sum over P projections divided by 2P stays the attenuation per pixel.
class CtFilter
{
public:
    enum class Window { Ramp, SheppLogan, Cosine, Hamming, Hann };

    // "ramp", "shepp-logan", "cosine", "hamming", "hann", in the order of Window.
    static QStringList names();
    // False for a name not in names() (matched exactly).
    static bool windowOf(const QString &name, Window *window);
    static QString nameOf(Window window);

    // The window's gain at x = |frequency| / Nyquist, x in [0, 1]; cut-off at
    // Nyquist.
    static double gain(Window window, double x);

    // The transform length for rows of n samples: n, or when padded the
    // smallest power of two >= 2n (0 when that does not fit an int).
    static int transformLength(int n, bool padded);

    // h(k) for k = 0 ... length - 1 of a periodic transform of this length:
    // h(0) = 1/4, h(k) = h(length - k) = -1/(pi^2 k^2) for odd k, 0 for even k.
    static std::vector<double> spatialRamp(int length);

    // The weight of each of the transformLength(n, padded) bins, in units of
    // bins. Empty when n < 2 or the length does not fit.
    static std::vector<double> weights(int n, bool padded, Window window);

    // Row of n samples into out[0 ... length - 1]: the samples, then the last
    // sample repeated over the first half of the extension and the first sample
    // over the second half, which the periodic transform sees before sample 0.
    static void padWithEdges(const double *row, int n, double *out, int length);
};
