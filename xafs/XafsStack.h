#pragma once

#include "xafs/XafsResultSets.h"

#include <cstdlib>
#include <memory>
#include <vector>

class XafsNormaliser;

// Floats left uninitialised: every value is written before it is read. A slice's stack
// runs to hundreds of MB; on Linux the kernel is asked for huge pages, as faulting it in
// 4 KiB at a time costs more than reading the results into it.
class XafsFloatBuffer
{
public:
    // Keeps the buffer it has when that is large enough.
    bool allocate(size_t count);
    float *data() const { return values.get(); }

private:
    struct Free
    {
        void operator()(float *p) const { std::free(p); }
    };
    std::unique_ptr<float, Free> values;
    size_t capacity = 0;
};

// The stack of µ of one slice: page k (energy k) holds width * height values.
struct XafsStack
{
    int width = 0;
    int height = 0;
    size_t energies = 0;
    XafsFloatBuffer values;

    size_t pixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    float *page(size_t k) { return values.data() + k * pixels(); }
    const float *page(size_t k) const { return values.data() + k * pixels(); }

    // Reads the results of energies first..end of a slice into their pages, as µ per
    // pixel; each set's results from its cropX, cropZ on.
    bool read(const std::vector<XafsResultSet> &sets, int slice, size_t first, size_t end);
    // The mean spectrum of the slice over its finite voxels.
    std::vector<double> meanSpectrum() const;
    // The energy the mean spectrum puts its edge at.
    size_t edgeEnergy(const XafsNormaliser &normaliser) const;
    // Logs when the steepest rise of the mean spectrum lies inside a fit range.
    void warnIfEdgeInRanges(const XafsNormaliser &normaliser, int slice) const;

private:
    bool readRegion(const XafsResultSet &s, const QString &path, float *values) const;
};
