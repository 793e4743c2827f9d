#include "SgmGeom.h"

#include "util/Numbers.h"

#include <algorithm>
#include <cmath>

SgmGeom setGeom(bool rotAxIsV, int len, double cor)
{
    SgmGeom g;
    g.rotAxIsV = rotAxIsV;
    g.cor = cor;
    if (!std::isfinite(cor) || cor < 1.0 || cor >= static_cast<double>(len) - 1.0)
        return g;
    g.corInt = Numbers::floorToInt(cor);
    g.frac = cor - std::floor(cor);
    g.halfWidth = Numbers::floorToInt(std::min(cor, static_cast<double>(len) - cor - 1.0));
    g.width = g.halfWidth >= 1 ? 2 * g.halfWidth - 1 : 0;
    return g;
}

void resampleLine(const double *line, double *out, const SgmGeom &g)
{
    const int h = g.halfWidth - 1;
    for (int m = -h; m <= h; ++m) {
        const int i = m + g.corInt;
        out[m + h] = line[i] + g.frac * (line[i + 1] - line[i]);
    }
}
