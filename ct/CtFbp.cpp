#include "CtFbp.h"

#include <QDebug>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 6.283185307179586;
constexpr int rowsPerBlock = 8;

} // namespace

void CtFbp::release()
{
    forwardPlan.reset();
    inversePlan.reset();
    forwardIn.release();
    forwardOut.release();
    inverseIn.release();
    inverseOut.release();
    spectra = {};
    filtered = {};
    valueSlope = {};
    nFft = 0;
}

bool CtFbp::setup(int n, int count)
{
    if (n == nFft && count == nProj && forwardPlan && inversePlan)
        return true;
    release();
    nProj = 0;
    // An FFT length below 2 has no ramp filter; FFTW has no plan below 1.
    if (n < 2 || count < 1) {
        qDebug() << "CT size is not usable (N, P)" << n << count;
        return false;
    }
    const size_t N = static_cast<size_t>(n);
    if (!forwardIn.allocate(N) || !forwardOut.allocate(N) || !inverseIn.allocate(N)
        || !inverseOut.allocate(N)) {
        release();
        return false;
    }
    forwardPlan.reset(FftwPlanner::planDft1d(n, forwardIn.data(), forwardOut.data(),
                                             FFTW_FORWARD, FFTW_ESTIMATE));
    inversePlan.reset(FftwPlanner::planDft1d(n, inverseIn.data(), inverseOut.data(),
                                             FFTW_BACKWARD, FFTW_ESTIMATE));
    if (!forwardPlan || !inversePlan) {
        release();
        return false;
    }
    const size_t P = static_cast<size_t>(count);
    spectra.assign(2 * N * P, 0.0);
    filtered.assign(N * P, 0.0);
    valueSlope.assign(2 * N * P, 0.0);
    nFft = n;
    nProj = count;
    return true;
}

void CtFbp::initResult(int n)
{
    rn = std::max(n, 0);
    result.assign(static_cast<size_t>(rn) * static_cast<size_t>(rn), 0.0);
    valid = false;
}

void CtFbp::fftRow(const double *row, int i)
{
    if (!rowIndexOk(i))
        return;
    for (int k = 0; k < nFft; ++k) {
        forwardIn[k][0] = row[k];
        forwardIn[k][1] = 0.0;
    }
    forwardPlan.execute();
    double *s = spectra.data() + 2 * static_cast<size_t>(i) * nFft;
    for (int k = 0; k < nFft; ++k) {
        s[2 * k] = forwardOut[k][0];
        s[2 * k + 1] = forwardOut[k][1];
    }
}

void CtFbp::filterRow(int i)
{
    if (!rowIndexOk(i))
        return;
    const int N = nFft;
    const double b = twoPi / N;
    const double *s = spectra.data() + 2 * static_cast<size_t>(i) * N;
    // |frequency| of bin m: m up to N/2, then N - m for the negative frequencies.
    for (int m = 0; m < N; ++m) {
        const double w = m < N / 2 ? m : N - m;
        inverseIn[m][0] = s[2 * m] * w * b;
        inverseIn[m][1] = s[2 * m + 1] * w * b;
    }
    inversePlan.execute();
    double *f = filtered.data() + static_cast<size_t>(i) * N;
    for (int k = 0; k < N; ++k)
        f[k] = inverseOut[k][0] / N;
    double *vs = valueSlope.data() + 2 * static_cast<size_t>(i) * N;
    for (int k = 0; k < N - 1; ++k) {
        vs[2 * k] = f[k];
        vs[2 * k + 1] = f[k + 1] - f[k];
    }
    vs[2 * (N - 1)] = 0.0;
    vs[2 * (N - 1) + 1] = 0.0;
}

void CtFbp::pixelRange(double a0, double a1, int n, int *from, int *to)
{
    *from = 0;
    *to = 0;
    if (std::isnan(a0) || std::isnan(a1) || n < 1)
        return;
    const double top = static_cast<double>(n);
    // Pixels below 0 or from n on are all outside the circle, so clamping
    // keeps exactly the pixels that get a value.
    const double lo = std::clamp(a0, 0.0, top);
    const double hi = std::clamp(a1, 0.0, top);
    *from = static_cast<int>(std::trunc(lo));
    *to = static_cast<int>(std::ceil(hi));
}

void CtFbp::backProject(int i, double x0, double x1, double z0, double z1)
{
    if (!rowIndexOk(i) || rn != nFft)
        return;
    const int N = nFft;
    const double theta = i * pi / nProj;
    const double c = N * 0.5;
    const double cs = std::cos(theta);
    const double sn = std::sin(theta);
    const double *f = filtered.data() + static_cast<size_t>(i) * N;
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, N, &xFrom, &xTo);
    pixelRange(z0, z1, N, &zFrom, &zTo);
    for (int z = zFrom; z < zTo; ++z) {
        double *row = resultRow(z);
        for (int x = xFrom; x < xTo; ++x) {
            if (!(std::sqrt((x - c) * (x - c) + (z - c) * (z - c)) < c))
                continue;
            const double t = (x - c) * cs - (z - c) * sn + c;
            const double kf = std::floor(t);
            if (!(kf >= 0.0 && kf < N - 1))
                continue;
            const int k = static_cast<int>(kf);
            row[x] += f[k] + (t - k) * (f[k + 1] - f[k]);
        }
    }
    valid = true;
}

void CtFbp::rowChord(int z, int xFrom, int xTo, int *from, int *to) const
{
    const int N = nFft;
    const double c = N * 0.5;
    const double zc = z - c;
    *from = 0;
    *to = 0;
    if (std::fabs(zc) >= c)
        return;
    auto inside = [&](int x) { return std::sqrt((x - c) * (x - c) + zc * zc) < c; };
    // The chord of the circle on this row, corrected at both ends by the very test
    // backProject makes per pixel, so both compute the same pixels.
    const double half = std::sqrt(c * c - zc * zc);
    int a = std::clamp(static_cast<int>(c - half), 0, N - 1);
    int e = std::clamp(static_cast<int>(c + half), 0, N - 1);
    while (a > 0 && inside(a - 1))
        --a;
    while (a <= e && !inside(a))
        ++a;
    while (e + 1 < N && inside(e + 1))
        ++e;
    while (e >= a && !inside(e))
        --e;
    *from = std::max(a, xFrom);
    *to = std::max(*from, std::min(e + 1, xTo));
}

void CtFbp::backProjectAll(double x0, double x1, double z0, double z1)
{
    if (nFft < 2 || nProj < 1 || rn != nFft)
        return;
    const int N = nFft;
    const int P = nProj;
    const double c = N * 0.5;
    std::vector<double> cs(static_cast<size_t>(P));
    std::vector<double> sn(static_cast<size_t>(P));
    for (int i = 0; i < P; ++i) {
        const double theta = i * pi / P;
        cs[i] = std::cos(theta);
        sn[i] = std::sin(theta);
    }
    std::vector<double> xc(static_cast<size_t>(N));
    for (int x = 0; x < N; ++x)
        xc[x] = x - c;
    int xFrom, xTo, zFrom, zTo;
    pixelRange(x0, x1, N, &xFrom, &xTo);
    pixelRange(z0, z1, N, &zFrom, &zTo);

    // A few rows at a time: for one projection they read nearly the same stretch
    // of its table, which then stays in the first-level cache. Every pixel still
    // adds its projections in the order 0 ... P - 1, as backProject does.
    int from[rowsPerBlock];
    int to[rowsPerBlock];
    for (int zb = zFrom; zb < zTo; zb += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, zTo - zb);
        for (int r = 0; r < rows; ++r)
            rowChord(zb + r, xFrom, xTo, &from[r], &to[r]);
        for (int i = 0; i < P; ++i) {
            const double *vs = valueSlope.data() + 2 * static_cast<size_t>(i) * N;
            const double csi = cs[i];
            for (int r = 0; r < rows; ++r) {
                const double zs = (zb + r - c) * sn[i];
                double *row = resultRow(zb + r);
                for (int x = from[r]; x < to[r]; ++x) {
                    // Inside the circle t lies in (0, N): truncation is floor, and
                    // k = N - 1 finds the zero pair at the end of the table.
                    const double t = xc[x] * csi - zs + c;
                    const int k = static_cast<int>(t);
                    row[x] += vs[2 * k] + (t - k) * vs[2 * k + 1];
                }
            }
        }
    }
    valid = true;
}

void CtFbp::calcMinMax()
{
    if (!valid || rn < 1 || result.size() != static_cast<size_t>(rn) * rn)
        return;
    minValue = DBL_MAX;
    maxValue = -DBL_MAX;
    for (const double v : result) {
        if (v < minValue)
            minValue = v;
        if (v > maxValue)
            maxValue = v;
    }
}

bool CtFbp::reconstruct(const double *sgm, int sgmWidth, int rows, double x0, double x1,
                        double z0, double z1)
{
    if (nFft < 2 || rows != nProj || sgmWidth < nFft)
        return false;
    initResult(nFft);
    for (int i = 0; i < rows; ++i)
        fftRow(sgm + static_cast<size_t>(i) * sgmWidth, i);
    for (int i = 0; i < rows; ++i)
        filterRow(i);
    backProjectAll(x0, x1, z0, z1);
    return true;
}
