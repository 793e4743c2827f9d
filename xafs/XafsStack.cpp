#include "XafsStack.h"

#include "ct/AttenuationScale.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsTiff.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

#include <stdlib.h>
#include <sys/mman.h>

bool XafsFloatBuffer::allocate(size_t count)
{
    if (values && count <= capacity)
        return true;
    values.reset();
    constexpr size_t hugePage = size_t(2) << 20;
    const size_t bytes = std::max<size_t>(count, 1) * sizeof(float);
    void *p = nullptr;
    if (posix_memalign(&p, bytes >= hugePage ? hugePage : 64, bytes) != 0)
        return false;
#ifdef MADV_HUGEPAGE
    if (bytes >= hugePage)
        madvise(p, bytes / hugePage * hugePage, MADV_HUGEPAGE);
#endif
    values.reset(static_cast<float *>(p));
    capacity = count;
    return true;
}

bool XafsStack::readRegion(const XafsResultSet &s, const QString &path, float *values) const
{
    XafsPage info;
    if (s.width == width && s.height == height)
        return XafsTiff::readInto(path, values, pixels(), &info);
    // A set aligned on the others: the common region is cut out of its own.
    if (s.cropX < 0 || s.cropZ < 0 || s.cropX + width > s.width || s.cropZ + height > s.height)
        return false;
    // The size comes from the file's header: it is sized only when the file can hold it.
    if (QFileInfo(path).size() < qint64(s.width) * s.height * qint64(sizeof(float)))
        return false;
    std::vector<float> whole(static_cast<size_t>(s.width) * static_cast<size_t>(s.height));
    if (!XafsTiff::readInto(path, whole.data(), whole.size(), &info))
        return false;
    for (int z = 0; z < height; ++z) {
        const float *row = whole.data() + static_cast<size_t>(s.cropZ + z) * s.width + s.cropX;
        std::copy(row, row + width, values + static_cast<size_t>(z) * width);
    }
    return true;
}

bool XafsStack::read(const std::vector<XafsResultSet> &sets, int slice, size_t first, size_t end)
{
    for (size_t k = first; k < end; ++k) {
        const XafsResultSet &s = sets[k];
        const QString path = s.slices.value(slice);
        float *values = page(k);
        if (!readRegion(s, path, values)) {
            qDebug() << "XAFS: slice skipped, result unreadable" << slice << path;
            return false;
        }
        const int projections = s.projections;
        for (size_t i = 0; i < pixels(); ++i)
            values[i] = static_cast<float>(attenuationPerPixel(values[i], projections));
    }
    return true;
}

std::vector<double> XafsStack::meanSpectrum() const
{
    std::vector<double> mean(energies, 0.0);
    for (size_t k = 0; k < energies; ++k) {
        const float *p = page(k);
        double sum = 0.0;
        for (size_t i = 0; i < pixels(); ++i)
            sum += std::isfinite(p[i]) ? p[i] : 0.0;
        mean[k] = pixels() > 0 ? sum / static_cast<double>(pixels()) : 0.0;
    }
    return mean;
}

// The reference of the registration: drift is measured against the slice where the
// edge contrast is.
size_t XafsStack::edgeEnergy(const XafsNormaliser &normaliser) const
{
    const std::vector<double> &grid = normaliser.energies();
    const std::vector<double> mean = meanSpectrum();
    const XafsFit fit = normaliser.fit(mean.data());
    const double e0 = std::isfinite(fit.e0) ? fit.e0 : grid[grid.size() / 2];
    size_t best = 0;
    for (size_t k = 1; k < grid.size(); ++k) {
        if (std::abs(grid[k] - e0) < std::abs(grid[best] - e0))
            best = k;
    }
    return best;
}

// A fit range that holds the edge normalises every voxel wrongly without any voxel
// looking odd: the mean spectrum's steepest rise tells where the edge is.
void XafsStack::warnIfEdgeInRanges(const XafsNormaliser &normaliser, int slice) const
{
    const std::vector<double> &grid = normaliser.energies();
    const std::vector<double> mean = meanSpectrum();
    size_t best = 0;
    double bestRise = -std::numeric_limits<double>::infinity();
    for (size_t k = 0; k + 1 < grid.size(); ++k) {
        const double r = (mean[k + 1] - mean[k]) / (grid[k + 1] - grid[k]);
        if (r > bestRise) {
            bestRise = r;
            best = k;
        }
    }
    const double edge = 0.5 * (grid[best] + grid[best + 1]);
    const XafsFit fit = normaliser.fit(mean.data());
    const XafsRanges r = normaliser.rangesAt(std::isfinite(fit.e0) ? fit.e0 : edge);
    if ((edge >= r.pre1 && edge <= r.pre2) || (edge >= r.post1 && edge <= r.post2))
        qDebug() << "XAFS: the steepest rise of the mean spectrum lies inside a fit range, slice"
                 << slice << "at" << edge << "eV";
}
