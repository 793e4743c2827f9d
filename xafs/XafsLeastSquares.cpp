#include "XafsLeastSquares.h"

#include <algorithm>
#include <cmath>
#include <limits>

XafsLeastSquares::XafsLeastSquares(const std::vector<std::vector<double>> &cols, bool toOne)
    : count(cols.size())
    , length(cols.empty() ? 0 : cols.front().size())
    , sumToOne(toOne)
{
    for (const std::vector<double> &c : cols) {
        if (c.size() != length)
            length = 0;
    }
    if (!usable())
        return;
    design.resize(length * count);
    for (size_t k = 0; k < length; ++k) {
        for (size_t i = 0; i < count; ++i)
            design[k * count + i] = cols[i][k];
    }
    gram.assign(count * count, 0.0);
    double largest = 0.0;
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = 0; j < count; ++j) {
            double s = 0.0;
            for (size_t k = 0; k < length; ++k)
                s += cols[i][k] * cols[j][k];
            gram[i * count + j] = s;
        }
        largest = std::max(largest, gram[i * count + i]);
    }
    // Gradients are sums of products of the size of the Gram matrix's diagonal; below
    // this they are rounding, and taking them for a descent would cycle.
    tolerance = 1e-12 * std::max(largest, std::numeric_limits<double>::min());
}

bool XafsLeastSquares::fit(const double *y, double *weights, double *rfactor) const
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (rfactor)
        *rfactor = nan;
    double projections[maxColumns] = {};
    double power = 0.0;
    for (size_t k = 0; k < length; ++k) {
        if (!std::isfinite(y[k]))
            power = std::numeric_limits<double>::quiet_NaN();
        power += y[k] * y[k];
        for (size_t i = 0; i < count; ++i)
            projections[i] += design[k * count + i] * y[k];
    }
    if (!usable() || !(power > 0.0)) {
        std::fill_n(weights, count, nan);
        return false;
    }
    solve(projections, weights);
    if (rfactor) {
        // Summed directly: from the projections it would be a difference of nearly
        // equal numbers for a good fit.
        double residual = 0.0;
        for (size_t k = 0; k < length; ++k) {
            double fitted = 0.0;
            for (size_t i = 0; i < count; ++i)
                fitted += design[k * count + i] * weights[i];
            residual += (y[k] - fitted) * (y[k] - fitted);
        }
        *rfactor = residual / power;
    }
    return true;
}

bool XafsLeastSquares::solvePassive(const bool *passive, const double *b, double *z) const
{
    size_t index[maxColumns];
    size_t p = 0;
    for (size_t i = 0; i < count; ++i) {
        if (passive[i])
            index[p++] = i;
    }
    // The normal equations on the passive columns, bordered by the sum-to-one row.
    const size_t n = p + (sumToOne ? 1 : 0);
    double m[maxColumns + 1][maxColumns + 2];
    for (size_t r = 0; r < p; ++r) {
        for (size_t c = 0; c < p; ++c)
            m[r][c] = gram[index[r] * count + index[c]];
        if (sumToOne)
            m[r][p] = 1.0;
        m[r][n] = b[index[r]];
    }
    if (sumToOne) {
        for (size_t c = 0; c < p; ++c)
            m[p][c] = 1.0;
        m[p][p] = 0.0;
        m[p][n] = 1.0;
    }
    // Gaussian elimination with partial pivoting: n is at most 17.
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r) {
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        }
        if (!(std::abs(m[pivot][col]) > tolerance))
            return false;
        if (pivot != col) {
            for (size_t c = col; c <= n; ++c)
                std::swap(m[pivot][c], m[col][c]);
        }
        for (size_t r = col + 1; r < n; ++r) {
            const double f = m[r][col] / m[col][col];
            for (size_t c = col; c <= n; ++c)
                m[r][c] -= f * m[col][c];
        }
    }
    double x[maxColumns + 1];
    for (size_t r = n; r-- > 0;) {
        double s = m[r][n];
        for (size_t c = r + 1; c < n; ++c)
            s -= m[r][c] * x[c];
        x[r] = s / m[r][r];
    }
    std::fill_n(z, count, 0.0);
    for (size_t r = 0; r < p; ++r)
        z[index[r]] = x[r];
    return true;
}

void XafsLeastSquares::solve(const double *b, double *w) const
{
    std::fill_n(w, count, 0.0);
    if (!usable())
        return;
    bool passive[maxColumns] = {};
    // A feasible start: nothing, or with the sum-to-one row the single column that fits
    // best on its own.
    if (sumToOne) {
        size_t best = 0;
        for (size_t i = 1; i < count; ++i) {
            if (0.5 * gram[i * count + i] - b[i] < 0.5 * gram[best * count + best] - b[best])
                best = i;
        }
        w[best] = 1.0;
        passive[best] = true;
    }
    double z[maxColumns];
    // Each pass adds a column that lowers the residual; a column leaves only when a step
    // lands on its bound. The residual falls strictly from passive set to passive set,
    // so no set repeats; the bound below only guards against rounding.
    const size_t passes = 8 * count + 16;
    for (size_t pass = 0; pass < passes; ++pass) {
        double gradient[maxColumns];
        for (size_t i = 0; i < count; ++i) {
            double g = -b[i];
            for (size_t j = 0; j < count; ++j)
                g += gram[i * count + j] * w[j];
            gradient[i] = g;
        }
        // With the sum row, the multiplier is the gradient the passive columns share.
        double shared = 0.0;
        if (sumToOne) {
            size_t p = 0;
            for (size_t i = 0; i < count; ++i) {
                if (passive[i]) {
                    shared += gradient[i];
                    ++p;
                }
            }
            shared = p > 0 ? shared / static_cast<double>(p) : 0.0;
        }
        size_t entering = count;
        double steepest = -tolerance;
        for (size_t i = 0; i < count; ++i) {
            if (!passive[i] && gradient[i] - shared < steepest) {
                steepest = gradient[i] - shared;
                entering = i;
            }
        }
        if (entering == count)
            return;
        passive[entering] = true;
        for (size_t inner = 0; inner <= count; ++inner) {
            if (!solvePassive(passive, b, z)) {
                passive[entering] = false;
                return;
            }
            double step = 1.0;
            size_t blocking = count;
            for (size_t i = 0; i < count; ++i) {
                if (passive[i] && z[i] <= 0.0) {
                    const double s = w[i] / (w[i] - z[i]);
                    if (s < step) {
                        step = s;
                        blocking = i;
                    }
                }
            }
            if (blocking == count) {
                std::copy_n(z, count, w);
                break;
            }
            for (size_t i = 0; i < count; ++i) {
                w[i] += step * (z[i] - w[i]);
                if (passive[i] && (i == blocking || w[i] <= 0.0)) {
                    passive[i] = false;
                    w[i] = 0.0;
                }
            }
        }
    }
}
