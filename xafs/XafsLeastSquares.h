#pragma once

#include <cstddef>
#include <vector>

// The weights w >= 0 (and, when asked, with sum 1) that bring sum_i w_i a_i closest to
// y in least squares, for a handful of columns a_i: a voxel's spectrum as a mixture of
// reference spectra. The columns are the same for every voxel, so their Gram matrix is
// worked out once and a voxel costs its projections A^T y and a few tiny solves.
//
// The solution is exact: a primal active-set method (Lawson and Hanson's, with the
// sum-to-one constraint carried as a Lagrange row) ends when the optimality conditions
// hold, after finitely many steps, not when an iteration is stopped early.
class XafsLeastSquares
{
public:
    static constexpr size_t maxColumns = 16;

    // columns[i][k]: column i at row k; every column has the same length.
    XafsLeastSquares(const std::vector<std::vector<double>> &columns, bool sumToOne);

    size_t columns() const { return count; }
    size_t rows() const { return length; }
    // Empty columns, unequal lengths or more than maxColumns: nothing can be solved.
    bool usable() const { return count > 0 && count <= maxColumns && length > 0; }

    // The weights for y (rows() values) and, when asked, the R-factor
    // sum (y - fit)^2 / sum y^2; false (all NaN) when y holds a non-finite value or is
    // all zero.
    bool fit(const double *y, double *weights, double *rfactor = nullptr) const;
    // The weights from the projections b = A^T y.
    void solve(const double *projections, double *weights) const;

private:
    // The least-squares solution with the columns outside `passive` held at 0 (and the
    // sum-to-one row when asked); false when the system is singular.
    bool solvePassive(const bool *passive, const double *projections, double *z) const;

    size_t count = 0;
    size_t length = 0;
    bool sumToOne = false;
    std::vector<double> gram;   // count x count, row by row
    std::vector<double> design; // length x count, row by row: one energy's references
    double tolerance = 0.0;
};
