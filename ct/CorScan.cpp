#include "CorScan.h"

#include "CtFbp.h"
#include "HSgm.h"
#include "RingRemoval.h"
#include "SgmGeom.h"

#include <cmath>

namespace CorScan {

Plan plan(double from, double to, double step, int lineLength)
{
    Plan p;
    if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) {
        p.problem = QStringLiteral("a value is not a number");
        return p;
    }
    if (from > to) {
        p.problem = QStringLiteral("FROM is above TO");
        return p;
    }
    if (step <= 0.0) {
        p.problem = QStringLiteral("STEP is not above 0");
        return p;
    }
    // A millionth of a step of slack, so that 0.1 steps reach their end despite
    // rounding.
    const double intervals = std::floor((to - from) / step + 1e-6);
    if (intervals + 1.0 > maximumValues) {
        p.problem = QStringLiteral("more than %1 values").arg(maximumValues);
        return p;
    }
    for (int k = 0; k <= static_cast<int>(intervals); ++k) {
        const double cor = from + k * step;
        if (setGeom(true, lineLength, cor).width < 3) {
            p.problem = QStringLiteral("the centre %1 leaves no sinogram").arg(cor, 0, 'g', 6);
            p.values.clear();
            return p;
        }
        p.values.append(cor);
    }
    return p;
}

QString tagOf(double cor)
{
    return QStringLiteral("cor") + QString::number(cor, 'g', 6);
}

bool reconstruct(const ImgDatas &stack, bool rotAxIsV, double cor, int slice, int ringWindow,
                 bool regionSet, const double region[4], CtFbp *fbp)
{
    HSgm sgm;
    if (!genSinogram0(&sgm, stack, rotAxIsV, cor, slice) || !sgm.isUsable())
        return false;
    const int n = sgm.width / 2 * 2;
    if ((fbp->n() != n || fbp->count() != sgm.height) && !fbp->setup(n, sgm.height))
        return false;
    if (ringWindow > 0)
        RingRemoval::apply(sgm.sgm.data(), sgm.width, sgm.height, ringWindow);
    const double whole[4] = {0.0, 0.0, double(n), double(n)};
    const double *r = regionSet ? region : whole;
    return fbp->reconstruct(sgm.sgm.data(), sgm.width, sgm.height, r[0], r[2], r[1], r[3]);
}

} // namespace CorScan
