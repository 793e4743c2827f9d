#include "XafsLcf.h"

#include <algorithm>
#include <limits>

XafsLcf::XafsLcf(const std::vector<std::vector<double>> &references, bool sumToOne)
    : solver(references, sumToOne)
{
}

void XafsLcf::fit(const XafsStackView &stack, const std::vector<size_t> &at,
                  std::vector<std::vector<float>> *weights, std::vector<float> *rfactor) const
{
    weights->assign(solver.columns(), std::vector<float>(stack.pixels));
    rfactor->assign(stack.pixels, 0.0f);
    fitRange(stack, at, 0, stack.pixels, weights, rfactor);
}

void XafsLcf::fitRange(const XafsStackView &stack, const std::vector<size_t> &at, size_t first,
                       size_t end, std::vector<std::vector<float>> *weights,
                       std::vector<float> *rfactor) const
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const size_t m = solver.columns();
    const size_t e = at.size();
    if (!usable() || e != solver.rows()) {
        for (std::vector<float> &w : *weights)
            std::fill(w.begin() + first, w.begin() + end, nan);
        std::fill(rfactor->begin() + first, rfactor->begin() + end, nan);
        return;
    }
    // Voxels in blocks: the block's spectra are copied out of the pages once and then
    // read from cache for the projections and the residual.
    constexpr size_t block = 64;
    std::vector<double> spectra(block * e);
    double w[XafsLeastSquares::maxColumns];
    for (size_t from = first; from < end; from += block) {
        const size_t n = std::min(block, end - from);
        stack.gather(at, from, n, spectra.data());
        for (size_t j = 0; j < n; ++j) {
            double r = 0.0;
            solver.fit(spectra.data() + j * e, w, &r);
            for (size_t i = 0; i < m; ++i)
                (*weights)[i][from + j] = static_cast<float>(w[i]);
            (*rfactor)[from + j] = static_cast<float>(r);
        }
    }
}
