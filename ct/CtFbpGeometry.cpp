// The scan geometry of CtFbp (declared in CtFbp.h): the angle tables of given
// angles, the weights of projections and of samples.

#include "CtFbp.h"

#include <QDebug>

#include <cmath>

namespace {

constexpr double pi = 3.141592653589793;

} // namespace

void CtFbp::makeAngleTables(int count)
{
    const size_t P = static_cast<size_t>(count);
    cosines.resize(P);
    sines.resize(P);
    if (!scan.isDefault()) {
        for (int i = 0; i < count; ++i) {
            const double theta = scan.anglesDeg[i] * (pi / 180.0);
            cosines[i] = std::cos(theta);
            sines[i] = std::sin(theta);
        }
        return;
    }
    // The angles of the fast back projection, computed as backProject computes them.
    for (int i = 0; i < count; ++i) {
        const double theta = i * pi / count;
        cosines[i] = std::cos(theta);
        sines[i] = std::sin(theta);
    }
}

bool CtFbp::setGeometry(Geometry newGeometry)
{
    if (!newGeometry.isDefault() && (newGeometry.anglesDeg.size() != newGeometry.weights.size())) {
        qDebug() << "Angle count" << newGeometry.anglesDeg.size() << "differs from weights"
                 << newGeometry.weights.size();
        return false;
    }
    if (newGeometry.isDefault() && scan.isDefault())
        return true;
    if (newGeometry.isDefault())
        newGeometry = Geometry();
    scan = std::move(newGeometry);
    if (nFft < 2)
        return true;
    // A core of another P is unusable until setup() makes it anew for the geometry.
    if (!scan.isDefault() && scan.anglesDeg.size() != static_cast<size_t>(nProj)) {
        release();
        nProj = 0;
        return true;
    }
    makeAngleTables(nProj);
    return true;
}

void CtFbp::weightFilteredRow(int i)
{
    const double w = scan.weights[i];
    if (arithmetic == Precision::Single) {
        float *f = filteredSingleBase + static_cast<size_t>(i) * filteredStrideSingle();
        const float ws = static_cast<float>(w);
        for (int k = 0; k < nFft; ++k)
            f[k] *= ws;
        return;
    }
    double *f = filteredBase + static_cast<size_t>(i) * filteredStride();
    for (int k = 0; k < nFft; ++k)
        f[k] *= w;
}

template<typename Sample>
const double *CtFbp::weightedSamples(const Sample *row)
{
    weighted.resize(static_cast<size_t>(nFft));
    const size_t given = scan.sampleWeights.size();
    for (int k = 0; k < nFft; ++k)
        weighted[k] = row[k] * (static_cast<size_t>(k) < given ? scan.sampleWeights[k] : 1.0);
    return weighted.data();
}

template const double *CtFbp::weightedSamples(const double *);
template const double *CtFbp::weightedSamples(const float *);

void CtFbp::forwardWeighted(const double *row)
{
    const double *w = weightedSamples(row);
    for (int k = 0; k < nFft; ++k) {
        forwardIn[k][0] = w[k];
        forwardIn[k][1] = 0.0;
    }
    const int tail = nFft + (nTransform - nFft) / 2;
    for (int k = nFft; k < nTransform; ++k) {
        forwardIn[k][0] = k < tail ? w[nFft - 1] : w[0];
        forwardIn[k][1] = 0.0;
    }
    forwardPlan.execute();
}

double *CtFbp::spectrum(int i)
{
    // Zeros until fftRow fills them, so that filtering a row never transformed
    // gives zeros.
    const size_t size = 2 * static_cast<size_t>(nTransform) * static_cast<size_t>(nProj);
    if (spectra.size() != size)
        spectra.assign(size, 0.0);
    return spectra.data() + 2 * static_cast<size_t>(i) * nTransform;
}
