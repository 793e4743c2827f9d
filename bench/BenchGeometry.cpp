// Scan geometry figures: reconstructions of an analytic phantom of discs against its
// truth, for given (jittered) angles, a block of dropped frames, 360-degree scans
// and a half acquisition, and the centre found on a half acquisition. Prints
// figures; passes or fails nothing.
//
//   orvo2geometry [N]        (N: the slice size of the 180-degree checks, default 256)

#include "ct/CorEstimate.h"
#include "ct/CtFbp.h"
#include "ct/ScanGeometry.h"
#include "ct/SgmGeom.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr double pi = 3.141592653589793;

struct Disc
{
    double x, z, r, mu; // centre relative to the axis (pixels), radius, attenuation per pixel
};

std::vector<Disc> phantom(double radius)
{
    const double s = radius / 100.0;
    return {{0, 0, 92 * s, 0.004},
            {-30 * s, 20 * s, 25 * s, 0.006},
            {35 * s, -25 * s, 18 * s, 0.01},
            {10 * s, 55 * s, 8 * s, 0.012},
            {-55 * s, -40 * s, 12 * s, 0.008},
            {60 * s, 30 * s, 4 * s, 0.02}};
}

// Line integral at detector position t (relative to the axis), averaged over the
// pixel's width.
double projection(const std::vector<Disc> &discs, double theta, double t)
{
    double sum = 0.0;
    const double c = std::cos(theta), s = std::sin(theta);
    for (int q = 0; q < 4; ++q) {
        const double u = t - 0.375 + 0.25 * q;
        for (const Disc &d : discs) {
            const double off = u - (d.x * c - d.z * s);
            if (std::fabs(off) < d.r)
                sum += 2.0 * d.mu * std::sqrt(d.r * d.r - off * off);
        }
    }
    return sum / 4.0;
}

struct Noise
{
    double photons = 0.0;   // per detector pixel and frame; 0: none
    double beamDrift = 0.0; // the beam falls by this fraction over the scan
    std::mt19937_64 rng{7};
};

// -ln(I / I0) with Poisson counts and an I0 taken at the scan's start.
double measured(double p, double fraction, Noise *noise)
{
    const double beam = 1.0 - noise->beamDrift * fraction;
    if (noise->photons <= 0.0)
        return p - std::log(beam);
    std::poisson_distribution<long> counts(noise->photons * beam * std::exp(-p));
    const double n = std::max<long>(counts(noise->rng), 1);
    return -std::log(n / noise->photons);
}

// A detector of `w` samples, the axis at `cor`, resampled onto sinogram rows as
// the engines do (SgmGeom), halfWidth fixed or from the centre.
struct Sinogram
{
    std::vector<double> rows;
    int width = 0;
};

Sinogram sinogram(const std::vector<Disc> &discs, const std::vector<double> &angles, int w,
                  double cor, int halfWidth, Noise noise)
{
    SgmGeom g = setGeom(true, w, cor, halfWidth);
    // As the engines resample a half acquisition's rows.
    g.sharp = ScanGeometry::isHalfAcquisition(360, w, cor) && halfWidth > 0;
    std::vector<double> sgm(size_t(g.width) * angles.size());
    std::vector<double> line(static_cast<size_t>(w));
    for (size_t i = 0; i < angles.size(); ++i) {
        const double theta = angles[i] * pi / 180.0;
        for (int x = 0; x < w; ++x)
            line[x] =
                measured(projection(discs, theta, x - cor), double(i) / angles.size(), &noise);
        resampleLine(line.data(), sgm.data() + i * g.width, g);
    }
    return {sgm, g.width};
}

std::vector<double> reconstruct(const Sinogram &s, int count, const ScanGeometry &geometry, int w,
                                double cor)
{
    const std::vector<double> &sgm = s.rows;
    const int width = s.width;
    const int n = width / 2 * 2;
    CtFbp fbp;
    fbp.setFilter(CtFilter::Window::Ramp, true);
    if (!fbp.setGeometry(geometry.forSinogram(count, width, w, cor)) || !fbp.setup(n, count) ||
        !fbp.reconstruct(sgm.data(), width, count, 0, n, 0, n)) {
        std::fprintf(stderr, "reconstruction failed\n");
        std::exit(1);
    }
    std::vector<double> v(fbp.resultRow(0), fbp.resultRow(0) + size_t(n) * n);
    for (double &x : v)
        x /= 2.0 * count;
    return v;
}

double truthAt(const std::vector<Disc> &discs, double x, double z)
{
    double v = 0.0;
    for (const Disc &d : discs)
        if (std::hypot(x - d.x, z - d.z) < d.r)
            v += d.mu;
    return v;
}

// RMSE against the truth (or against `other`) within `radius` of the axis.
double rmse(const std::vector<double> &slice, const std::vector<Disc> &discs, double radius,
            const std::vector<double> *other = nullptr)
{
    const int n = int(std::lround(std::sqrt(double(slice.size()))));
    const double c = n / 2.0;
    double sum = 0.0;
    long count = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            if (std::hypot(x - c, z - c) >= radius)
                continue;
            const size_t k = size_t(z) * n + x;
            const double ref = other ? (*other)[k] : truthAt(discs, x - c, z - c);
            sum += (slice[k] - ref) * (slice[k] - ref);
            ++count;
        }
    return std::sqrt(sum / std::max(count, 1L));
}

// The largest step between the means over neighbouring one-pixel rings of the
// difference to the truth, from radius 2 to `radius`: a ring shows as such a step.
double worstRingStep(const std::vector<double> &slice, const std::vector<Disc> &discs,
                     double radius)
{
    const int n = int(std::lround(std::sqrt(double(slice.size()))));
    const double c = n / 2.0;
    std::vector<double> sum(size_t(c) + 2, 0.0), count(size_t(c) + 2, 0.0);
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double r = std::hypot(x - c, z - c);
            if (r >= radius)
                continue;
            sum[size_t(r)] += slice[size_t(z) * n + x] - truthAt(discs, x - c, z - c);
            count[size_t(r)] += 1;
        }
    double worst = 0.0;
    for (size_t r = 3; r < size_t(radius); ++r) {
        if (std::getenv("ORVO2_RING_PROFILE"))
            std::printf("    r %zu mean error %.3g\n", r, sum[r] / count[r]);
        worst = std::max(worst, std::fabs(sum[r] / count[r] - sum[r - 1] / count[r - 1]));
    }
    return worst;
}

std::vector<double> evenAngles(int count, double range)
{
    std::vector<double> a(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        a[i] = i * range / count;
    return a;
}

} // namespace

int main(int argc, char **argv)
{
    const int n = argc > 1 ? std::max(32, std::atoi(argv[1])) : 256;
    const int w = n + 1;
    const double cor = n / 2.0;
    const std::vector<Disc> discs = phantom(0.45 * n);
    const double inside = 0.45 * n;
    const ScanGeometry even180;
    std::printf("scan geometry checks, N %d, padded ramp, RMSE in attenuation per pixel\n", n);

    // 1. Angles jittered by up to +-30 % of a step, P >= 1.4 N, given in a file.
    const int p = int(std::ceil(1.4 * n));
    std::vector<double> jittered = evenAngles(p, 180);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    for (double &a : jittered)
        a += jitter(rng) * 180.0 / p;
    const double evenError =
        rmse(reconstruct(sinogram(discs, evenAngles(p, 180), w, cor, 0, {}), p, even180, w, cor),
             discs, inside);
    const Sinogram jitterSgm = sinogram(discs, jittered, w, cor, 0, {});
    const double givenError =
        rmse(reconstruct(jitterSgm, p, ScanGeometry::fromAngles(jittered, 180, "file"), w, cor),
             discs, inside);
    const double assumedError = rmse(reconstruct(jitterSgm, p, even180, w, cor), discs, inside);
    std::printf("jitter +-30%%, P %d: even scan %.6g, jittered with its angles %.6g (ratio %.4f), "
                "jittered taken as even %.6g\n",
                p, evenError, givenError, givenError / evenError, assumedError);

    // 2. 10 % of the frames missing in one block.
    std::vector<double> kept;
    const std::vector<double> all = evenAngles(p, 180);
    for (int i = 0; i < p; ++i)
        if (i < p / 3 || i >= p / 3 + p / 10)
            kept.push_back(all[i]);
    const int pk = int(kept.size());
    const Sinogram dropSgm = sinogram(discs, kept, w, cor, 0, {});
    const double dropGiven =
        rmse(reconstruct(dropSgm, pk, ScanGeometry::fromAngles(kept, 180, "file"), w, cor), discs,
             inside);
    const double dropEven = rmse(reconstruct(dropSgm, pk, even180, w, cor), discs, inside);
    std::printf("block of %d frames dropped: remaining angles given %.6g, taken as even %.6g\n",
                p - pk, dropGiven, dropEven);

    // 3. 360 degrees, axis at the middle, twice the frames at the same step and dose.
    Noise noisy;
    noisy.photons = 2000;
    const std::vector<double> a180 = evenAngles(p, 180), a360 = evenAngles(2 * p, 360);
    const ScanGeometry turn = ScanGeometry::fromAngles({}, 360, "even");
    const auto clean180 = reconstruct(sinogram(discs, a180, w, cor, 0, {}), p, even180, w, cor);
    const auto noisy180 = reconstruct(sinogram(discs, a180, w, cor, 0, noisy), p, even180, w, cor);
    const auto clean360 = reconstruct(sinogram(discs, a360, w, cor, 0, {}), 2 * p, turn, w, cor);
    const auto noisy360 = reconstruct(sinogram(discs, a360, w, cor, 0, noisy), 2 * p, turn, w, cor);
    const double noise180 = rmse(noisy180, discs, inside, &clean180);
    const double noise360 = rmse(noisy360, discs, inside, &clean360);
    const double free180 = rmse(clean180, discs, inside);
    const double free360 = rmse(clean360, discs, inside);
    std::printf("360 degrees, %d photons: noise RMSE 180 %.6g, 360 %.6g (ratio %.4f); noise-free "
                "180 %.6g, 360 %.6g (ratio %.4f)\n",
                int(noisy.photons), noise180, noise360, noise360 / noise180, free180, free360,
                free360 / free180);

    // 4. Half acquisition: a sample 1.8 W wide, the axis at 0.9 W.
    const int dw = n / 2;
    const double axis = 0.9 * dw;
    const std::vector<Disc> wide = phantom(0.88 * dw);
    const double sampleRadius = 0.88 * dw;
    const int h = ScanGeometry::halfAcquisitionHalfWidth(dw, axis);
    const int ph = 2 * int(std::ceil(1.4 * (2 * h - 2)));
    const auto half =
        reconstruct(sinogram(wide, evenAngles(ph, 360), dw, axis, h, {}), ph, turn, dw, axis);
    const int fullW = 2 * h + 1;
    const auto full =
        reconstruct(sinogram(wide, evenAngles(ph / 2, 180), fullW, 0.5 * (fullW - 1), h, {}),
                    ph / 2, even180, fullW, 0.5 * (fullW - 1));
    Noise drift;
    drift.beamDrift = 0.02;
    const auto halfDrift =
        reconstruct(sinogram(wide, evenAngles(ph, 360), dw, axis, h, drift), ph, turn, dw, axis);
    const double halfError = rmse(half, wide, sampleRadius);
    const double fullError = rmse(full, wide, sampleRadius);
    const double driftError = rmse(halfDrift, wide, sampleRadius);
    std::printf("half acquisition, W %d, axis %.1f, N %d, P %d: RMSE %.6g against %.6g of a wide "
                "180-degree detector (ratio %.4f); beam falling 2 %% over the turn %.6g (ratio "
                "%.4f)\n",
                dw, axis, 2 * h - 2, ph, halfError, fullError, halfError / fullError, driftError,
                driftError / fullError);
    std::printf("  largest step between ring means of the error: half %.3g, drift %.3g, wide "
                "detector %.3g (overlap edge at radius %.1f)\n",
                worstRingStep(half, wide, 0.85 * sampleRadius),
                worstRingStep(halfDrift, wide, 0.85 * sampleRadius),
                worstRingStep(full, wide, 0.85 * sampleRadius), dw - 1 - axis);

    // 5. The centre of a half acquisition from mirrored pairs (16 pairs, 3 slices alike).
    for (const double at : {0.5 * dw + 0.3, 0.9 * dw, 0.95 * dw, 0.07 * dw}) {
        for (const double fall : {0.0, 0.02}) {
            std::vector<CorEstimate::Pair> pairs;
            Noise beam;
            beam.beamDrift = fall;
            for (int k = 0; k < 16; ++k) {
                const double theta = k * 180.0 / 16 * pi / 180.0;
                CorEstimate::Pair pair;
                for (int x = 0; x < dw; ++x) {
                    pair.line.push_back(measured(projection(wide, theta, x - at), 0.0, &beam));
                    pair.opposite.push_back(
                        measured(projection(wide, theta + pi, x - at), 0.5, &beam));
                }
                pairs.push_back(pair);
            }
            const CorEstimate::Result r =
                CorEstimate::fromMirrorPairs(pairs, dw, CorEstimate::wholeLine());
            std::printf("ct_cor_auto on 360 degrees, W %d, axis %.2f (overlap %.0f %% of W), beam "
                        "falling %.0f %%: %s %.3f, error %.3f px\n",
                        dw, at, 100.0 * 2 * std::min(at, dw - 1 - at) / dw, 100 * fall,
                        r.ok ? "found" : "not found", r.cor, r.cor - at);
        }
    }
    return 0;
}
