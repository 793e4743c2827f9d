#include "CtFilter.h"

#include "FftwPlanner.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr double pi = 3.141592653589793;

const char *const windowNames[] = {"ramp", "shepp-logan", "cosine", "hamming", "hann"};

} // namespace

QStringList CtFilter::names()
{
    QStringList list;
    for (const char *name : windowNames)
        list << QString::fromLatin1(name);
    return list;
}

bool CtFilter::windowOf(const QString &name, Window *window)
{
    const int index = names().indexOf(name);
    if (index < 0)
        return false;
    *window = static_cast<Window>(index);
    return true;
}

QString CtFilter::nameOf(Window window)
{
    return QString::fromLatin1(windowNames[static_cast<int>(window)]);
}

double CtFilter::gain(Window window, double x)
{
    switch (window) {
    case Window::SheppLogan: {
        const double a = pi * x / 2;
        return a == 0.0 ? 1.0 : std::sin(a) / a;
    }
    case Window::Cosine:
        return std::cos(pi * x / 2);
    case Window::Hamming:
        return 0.54 + 0.46 * std::cos(pi * x);
    case Window::Hann:
        return 0.5 + 0.5 * std::cos(pi * x);
    case Window::Ramp:
        break;
    }
    return 1.0;
}

int CtFilter::transformLength(int n, bool padded)
{
    if (!padded)
        return n;
    long long length = 1;
    while (length < 2LL * n)
        length *= 2;
    return length > INT_MAX ? 0 : static_cast<int>(length);
}

std::vector<double> CtFilter::spatialRamp(int length)
{
    std::vector<double> h(static_cast<size_t>(std::max(length, 0)), 0.0);
    if (length < 1)
        return h;
    h[0] = 0.25;
    for (int k = 1; k <= length / 2; k += 2) {
        const double value = -1.0 / (pi * pi * double(k) * double(k));
        h[k] = value;
        h[length - k] = value;
    }
    return h;
}

std::vector<double> CtFilter::weights(int n, bool padded, Window window)
{
    const int length = transformLength(n, padded);
    if (n < 2 || length < 2)
        return {};
    std::vector<double> w(static_cast<size_t>(length));
    // |frequency| / Nyquist of bin m.
    auto relative = [length](int m) {
        return double(m < length / 2 ? m : length - m) / (length / 2);
    };
    if (!padded) {
        // Bin m weighs its own index, exactly as the plain filter has always done;
        // the ramp (gain 1) is not multiplied at all, so it stays bit for bit.
        for (int m = 0; m < n; ++m) {
            const double bin = m < n / 2 ? m : n - m;
            w[m] = window == Window::Ramp ? bin : bin * gain(window, relative(m));
        }
        return w;
    }
    // The transform of the spatial kernel is real (the kernel is even) and runs
    // from about 0 at frequency 0 to 1/2 at Nyquist, that is |frequency| in
    // cycles per sample; times L it is in units of bins.
    FftwBuffer<fftw_complex> in;
    FftwBuffer<fftw_complex> out;
    if (!in.allocate(static_cast<size_t>(length)) || !out.allocate(static_cast<size_t>(length)))
        return {};
    FftwPlan plan(
        FftwPlanner::planDft1d(length, in.data(), out.data(), FFTW_FORWARD, FFTW_ESTIMATE));
    if (!plan)
        return {};
    const std::vector<double> h = spatialRamp(length);
    for (int k = 0; k < length; ++k) {
        in[k][0] = h[k];
        in[k][1] = 0.0;
    }
    plan.execute();
    for (int m = 0; m < length; ++m)
        w[m] = out[m][0] * length * gain(window, relative(m));
    return w;
}

void CtFilter::padWithEdges(const double *row, int n, double *out, int length)
{
    if (n < 1 || length < n)
        return;
    std::copy(row, row + n, out);
    const int tail = n + (length - n) / 2;
    std::fill(out + n, out + tail, row[n - 1]);
    std::fill(out + tail, out + length, row[0]);
}
