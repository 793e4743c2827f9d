#pragma once

// How a detector line is resampled so that the centre of rotation (CoR) falls
// exactly on the middle sample of the sinogram row: the row reaches halfWidth - 1
// samples to either side of the CoR, which keeps it inside the line on both ends.
struct SgmGeom
{
    bool rotAxIsV = true;
    int halfWidth = 0;
    int width = 0;
    int corInt = 0;
    double cor = 0.0;
    double frac = 0.0;
    // The line's length, and whether the row reaches past one of its ends.
    int len = 0;
    bool carried = false;
    // Six-sample (Lanczos-3) in place of linear interpolation, for a half
    // acquisition's rows: linear interpolation at a fractional centre smooths the
    // highest frequencies (to a fifth at a fraction of 0.4), which the wide field
    // of a half acquisition shows as a blur the 180-degree default never had to
    // match against.
    bool sharp = false;
};

// Geometry for a line of `len` samples. A CoR that is not finite or lies outside
// [1, len - 1) gives halfWidth 0 and width 0: no usable sinogram. A fixed half
// width (> 0) is taken as it is, whatever the centre: the sequences of a run keep
// one N. Where the row then reaches past an end of the line, the end value is
// carried on.
SgmGeom setGeom(bool rotAxIsV, int len, double cor, int fixedHalfWidth = 0);

// Writes g.width values: out[k] is the line linearly interpolated at
// cor + k - (halfWidth - 1).
void resampleLine(const double *line, double *out, const SgmGeom &g);
