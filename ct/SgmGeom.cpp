#include "SgmGeom.h"

#include "util/Numbers.h"

#include <algorithm>
#include <cmath>

SgmGeom setGeom(bool rotAxIsV, int len, double cor, int fixedHalfWidth)
{
    SgmGeom g;
    g.rotAxIsV = rotAxIsV;
    g.cor = cor;
    g.len = len;
    if (!std::isfinite(cor) || cor < 1.0 || cor >= static_cast<double>(len) - 1.0)
        return g;
    g.corInt = Numbers::floorToInt(cor);
    g.frac = cor - std::floor(cor);
    g.halfWidth = Numbers::floorToInt(std::min(cor, static_cast<double>(len) - cor - 1.0));
    if (fixedHalfWidth > 0) {
        // Samples from corInt - (h - 1) to corInt + h are read.
        g.carried = g.corInt - (fixedHalfWidth - 1) < 0 || g.corInt + fixedHalfWidth > len - 1;
        g.halfWidth = fixedHalfWidth;
    }
    g.width = g.halfWidth >= 1 ? 2 * g.halfWidth - 1 : 0;
    return g;
}

namespace {

// Lanczos-3: six samples around the position, sinc(d) sinc(d / 3), the weights
// normalised to sum 1 so that a constant line stays constant.
void resampleSharp(const double *line, double *out, const SgmGeom &g)
{
    constexpr double pi = 3.141592653589793;
    const int h = g.halfWidth - 1;
    double w[6];
    double sum = 0.0;
    for (int k = 0; k < 6; ++k) {
        const double d = (k - 2) - g.frac;
        w[k] = std::fabs(d) < 1e-12
                   ? 1.0
                   : 3.0 * std::sin(pi * d) * std::sin(pi * d / 3.0) / (pi * pi * d * d);
        sum += w[k];
    }
    for (double &x : w)
        x /= sum;
    const auto at = [&g, line](int i) { return line[std::clamp(i, 0, g.len - 1)]; };
    for (int m = -h; m <= h; ++m) {
        const int i = m + g.corInt;
        double v = 0.0;
        for (int k = 0; k < 6; ++k)
            v += w[k] * at(i - 2 + k);
        out[m + h] = v;
    }
}

} // namespace

void resampleLine(const double *line, double *out, const SgmGeom &g)
{
    if (g.sharp) {
        resampleSharp(line, out, g);
        return;
    }
    const int h = g.halfWidth - 1;
    if (g.carried) {
        // Past an end of the line the end value goes on: no sample is invented,
        // and the row keeps the run's width.
        const auto at = [&g, line](int i) { return line[std::clamp(i, 0, g.len - 1)]; };
        for (int m = -h; m <= h; ++m) {
            const int i = m + g.corInt;
            out[m + h] = at(i) + g.frac * (at(i + 1) - at(i));
        }
        return;
    }
    for (int m = -h; m <= h; ++m) {
        const int i = m + g.corInt;
        out[m + h] = line[i] + g.frac * (line[i + 1] - line[i]);
    }
}
