#include "XafsEdgeMaps.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double notFound = std::numeric_limits<double>::quiet_NaN();

} // namespace

double XafsEdgeMaps::edge50(const double *e, const double *mu, size_t count)
{
    if (!usableSpectrum(mu, count))
        return notFound;
    for (size_t k = 1; k < count; ++k) {
        if (mu[k - 1] < 0.5 && mu[k] >= 0.5)
            return e[k - 1] + (0.5 - mu[k - 1]) / (mu[k] - mu[k - 1]) * (e[k] - e[k - 1]);
    }
    return notFound;
}

void XafsEdgeMaps::vertex(double x0, double y0, double x1, double y1, double x2, double y2,
                          double *x, double *y)
{
    // y = y1 + b (x - x1) + c (x - x1)^2 from divided differences.
    const double d01 = (y1 - y0) / (x1 - x0);
    const double d12 = (y2 - y1) / (x2 - x1);
    const double c = (d12 - d01) / (x2 - x0);
    const double b = d01 + c * (x1 - x0);
    if (!(c < 0.0)) {
        *x = x1;
        *y = y1;
        return;
    }
    const double dx = std::clamp(-b / (2.0 * c), x0 - x1, x2 - x1);
    *x = x1 + dx;
    *y = y1 + b * dx + c * dx * dx;
}

void XafsEdgeMaps::whiteLine(const double *e, const double *mu, size_t count, double e0,
                             double window, double *energy, double *height)
{
    *energy = notFound;
    *height = notFound;
    if (!std::isfinite(e0) || !usableSpectrum(mu, count))
        return;
    size_t first = count, last = 0, best = count;
    for (size_t k = 0; k < count; ++k) {
        if (!(e[k] >= e0 && e[k] <= e0 + window))
            continue;
        first = std::min(first, k);
        last = k;
        if (best == count || mu[k] > mu[best])
            best = k;
    }
    if (best == count || best == first || best == last)
        return;
    vertex(e[best - 1], mu[best - 1], e[best], mu[best], e[best + 1], mu[best + 1], energy, height);
}

void XafsEdgeMaps::slice(const XafsStackView &stack, const std::vector<double> &energies,
                         const float *e0, double window, std::vector<float> *edge,
                         std::vector<float> *wlEnergy, std::vector<float> *wlHeight)
{
    edge->resize(stack.pixels);
    wlEnergy->resize(stack.pixels);
    wlHeight->resize(stack.pixels);
    std::vector<size_t> all(energies.size());
    for (size_t k = 0; k < all.size(); ++k)
        all[k] = k;
    const size_t count = energies.size();
    constexpr size_t block = 64;
    std::vector<double> spectra(block * count);
    for (size_t from = 0; from < stack.pixels; from += block) {
        const size_t n = std::min(block, stack.pixels - from);
        stack.gather(all, from, n, spectra.data());
        for (size_t j = 0; j < n; ++j) {
            const double *mu = spectra.data() + j * count;
            double energy = 0.0, height = 0.0;
            whiteLine(energies.data(), mu, count, e0[from + j], window, &energy, &height);
            (*edge)[from + j] = static_cast<float>(edge50(energies.data(), mu, count));
            (*wlEnergy)[from + j] = static_cast<float>(energy);
            (*wlHeight)[from + j] = static_cast<float>(height);
        }
    }
}
