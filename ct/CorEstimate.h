#pragma once

#include <QString>

#include <vector>

class ImgDatas;

// Finds the centre of rotation (CoR) from the symmetry of a 180-degree scan: the
// projection at angle theta + 180 degrees is the projection at theta mirrored about
// the CoR. The first projection (0 degrees) is compared with the mirrored last one
// (180 degrees less one angle step): the shift that best aligns them, found by
// cross-correlation (a coarse integer peak, then the peak of the band-limited
// correlation to a hundredth of a pixel), gives twice the CoR.
//
// Raw detector lines are compared, never resampled sinograms: a two-point
// interpolation at a fractional CoR smooths the data by an amount that depends on
// the fraction, so any sharpness measure of resampled rows prefers x.5 centres.
//
// The last projection lies one angle step short of 180 degrees, and in that step
// the object turns: its projection drifts sideways by about as much as it does
// between the first and the second projection. That drift is measured on the
// neighbouring pairs (0, 1) and (P - 2, P - 1) and taken out.
//
// A detector defect must not be taken for the object: a dead column is its own
// mirror image about a centre on it and would win the correlation. The lines are
// taken from the whole sinogram with ring removal's column rules applied (see
// cleanLines). A best match at an end of the search range is no centre.
//
// Tested in tests/ct/tst_CorEstimate.cpp.
class CorEstimate
{
public:
    struct Result
    {
        bool ok = false;
        double cor = 0.0;
        // The correlation peak's height over the best value outside it, both above the
        // lowest value searched (at most 100): near 1, another centre would match
        // about as well.
        double confidence = 0.0;
        // Why there is no estimate, for the log.
        QString reason;
    };

    // The detector lines of one slice: attenuation ln((I0 - BG) / (I - BG)) of the
    // first two and the last two projections, each `length` samples long.
    struct Lines
    {
        std::vector<double> first;
        std::vector<double> second;
        std::vector<double> beforeLast;
        std::vector<double> last;
    };

    // Centre values searched: [from, to]; a bound that is not finite means the
    // whole line (every centre that leaves a sinogram of 3 samples or more).
    struct Range
    {
        double from;
        double to;
    };
    static Range wholeLine();

    // The estimate over the lines of several slices (their correlations are summed).
    static Result fromLines(const std::vector<Lines> &slices, int length, Range range);

    // The estimate from a stack, with its I0 and BG images applied as for a
    // sinogram, over slice `slice` and up to `extraSlices` slices on either side of
    // it (within the image).
    static Result fromStack(const ImgDatas &stack, bool rotAxIsV, int slice, Range range,
                            int extraSlices = 2);

    // A 360-degree scan: each projection matches the projection 180 degrees away
    // mirrored about the CoR. Pairs of lines (first, its partner 180 degrees away)
    // are compared over the samples both see, for every centre whose overlap
    // keeps at least a twentieth of the line (down to a half acquisition with its
    // axis near an edge): the centre where the pooled correlation coefficient of
    // the overlaps peaks, to a fraction of a pixel by a parabola through the peak.
    struct Pair
    {
        std::vector<double> line;
        std::vector<double> opposite;
    };
    static Result fromMirrorPairs(const std::vector<Pair> &pairs, int length, Range range);
    // The pairs of up to 16 projections spread over the first half turn with their
    // partners nearest 180 degrees away (angles in degrees, one per projection;
    // empty: even over 360), over slice `slice` and up to `extraSlices` on either side.
    static Result fromStackTurn(const ImgDatas &stack, bool rotAxIsV, int slice, Range range,
                                const std::vector<double> &anglesDeg, int extraSlices = 2);

    // The first two and last two lines of a slice's sinogram with its detector's
    // defects taken out by ring removal's column rules: dead, saturated and nearly
    // constant columns filled from their neighbours, constant offsets taken off.
    // Empty lines when the stack can not give them.
    static Lines cleanLines(const ImgDatas &stack, bool rotAxIsV, int slice);

    // The attenuation line of projection `frame` at `slice` (empty when out of range).
    static std::vector<double> attenuationLine(const ImgDatas &stack, bool rotAxIsV, int frame,
                                               int slice);
};
