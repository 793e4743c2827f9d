#pragma once

#include <QString>
#include <QVector>

class CtFbp;
class ImgDatas;

// A CoR scan: the current slice reconstructed at a series of centres, each saved
// under the tag "cor<value>", so that a user compares them side by side and picks
// the sharpest.
//
// Tested in tests/ct/tst_CorScan.cpp.
namespace CorScan {

// The most centres one scan may have.
constexpr int maximumValues = 201;

struct Plan
{
    QVector<double> values;
    // Empty when the scan can run, otherwise why not.
    QString problem;
};

// The centres from `from` to `to` (inclusive, within a millionth of a step) by
// `step`, for a detector line of `lineLength` samples. Refused: a bound or step
// that is not finite, from > to, step <= 0, more than maximumValues centres, or a
// centre that leaves no sinogram of 3 samples or more.
Plan plan(double from, double to, double step, int lineLength);

// "cor" and the centre with 6 significant digits: "cor131.25".
QString tagOf(double cor);

// The slice at centre `cor` into fbp (set up for its N and P): the sinogram of the
// stack with its I0 and BG, stripe removal when ringWindow > 0, filter and back
// projection over the region (x0, z0, x1, z1), or (0, 0, N, N) when regionSet is
// false. False when there is no usable sinogram.
bool reconstruct(const ImgDatas &stack, bool rotAxIsV, double cor, int slice, int ringWindow,
                 bool regionSet, const double region[4], CtFbp *fbp);

} // namespace CorScan
