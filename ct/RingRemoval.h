#pragma once

#include <vector>

// Removes stripes from an attenuation sinogram before filtering. A detector pixel
// whose gain differs from its neighbours' adds the same offset to every angle of its
// column (in attenuation, a gain error is an offset), which back projection turns
// into a ring around the axis. Four steps are taken, in this order:
//
// 1. Dead or saturated columns: a pixel that no longer follows the beam reads nearly
//    the same at every angle while its neighbours change with the object. Such a
//    column is replaced as a whole by linear interpolation between the nearest good
//    columns on either side (full-stripe interpolation).
// 2. Large stripes: the trimmed mean of each column's sorted values, compared with
//    its median over `window` neighbouring columns, stands out by many times the
//    noise of such means. Sorting puts every column's values in the same order of
//    rank, so the sorted columns of a clean detector change smoothly from column to
//    column; a large stripe (also one present over part of the angles only) is
//    replaced in that sorted domain by interpolation between the nearest unaffected
//    columns.
// 3. Small stripes (sorting-based): in the sorted domain each rank is smoothed
//    across columns by a median of `window` columns; a column's departure from it,
//    taken as the median over all ranks, is its stripe (a gain error shifts every
//    rank, an edge of the object only a few). Departures within the noise are left
//    alone, larger ones taken off.
// 4. Stripes rank by rank: in the same sorted domain each rank's departure from the
//    median of a few (at most 7) neighbouring columns is averaged over the
//    neighbouring ranks (a twelfth of them); averages beyond their own noise are
//    taken off, and the original order restored. This treats stripes whose size
//    changes with the attenuation (a mismatched dark level or flat field) and small
//    gain errors on nearly every column, which do not stand out of the others.
//
// Stripe measures are taken relative to a running median of their own, so that the
// object's curvature across columns is not mistaken for a stripe; in steps 2 and 3
// offsets below 0.2 % of gain are left. Step 4 has no such floor: on noise-free data
// it takes off a little of the object's fine detail (a few per cent of a typical
// reconstruction error). Stripes on a part of the object that is steep across
// columns (its edges) are not seen by the medians.
//
// Tested in tests/ct/tst_RingRemoval.cpp.
class RingRemoval
{
public:
    struct Report
    {
        std::vector<int> deadColumns;
        std::vector<int> largeStripeColumns;
    };

    // The sinogram `sgm` holds `rows` rows (projections) of `width` samples.
    // window: the smoothing width in detector pixels (typically 11 to 31); below 3,
    // or a sinogram narrower than 3 columns or with fewer than 3 rows, leaves the
    // sinogram untouched. Even windows are widened by one.
    // The float overloads serve sinograms kept in float (single-precision engines):
    // the same steps, the samples sorted and corrected as floats.
    static Report apply(double *sgm, int width, int rows, int window);
    static Report apply(float *sgm, int width, int rows, int window);

    // A sinogram's column defects by the rules of steps 1 and 3, for a caller that
    // must not take a defect for the object (the CoR estimate): the dead columns,
    // and each column's constant offset in attenuation (0 within the noise). Empty
    // where apply() would leave the sinogram untouched.
    struct ColumnDefects
    {
        std::vector<char> dead;
        std::vector<double> offset;
    };
    static ColumnDefects columnDefects(const double *sgm, int width, int rows, int window);
    // The same correction at every energy of a scan. A detector's column defects are
    // the same at every energy, and a gain error g is an additive -ln g in
    // attenuation; corrections decided anew at each energy differ by their noise and
    // turn into false structure in µ(E). columnCorrection() is what apply() adds to
    // each column, averaged over the rows (0 for a dead column, which has no
    // correction of its own: it is filled from its neighbours at each use);
    // applyColumnCorrection() fills the sinogram's own dead columns and adds it.
    // A correction of another width leaves the sinogram as apply() would.
    static std::vector<double> columnCorrection(const double *sgm, int width, int rows, int window);
    static std::vector<double> columnCorrection(const float *sgm, int width, int rows, int window);
    static void applyColumnCorrection(double *sgm, int width, int rows, int window,
                                      const std::vector<double> &correction);
    static void applyColumnCorrection(float *sgm, int width, int rows, int window,
                                      const std::vector<double> &correction);

    // One row of `width` samples with its dead columns filled from their neighbours
    // and the offsets taken off; a row of another width is left as it is.
    static void correct(double *row, int width, const ColumnDefects &defects);
};
