#pragma once

#include "ct/ScanGeometry.h"

#include <QString>

#include <cstdint>

// The settings of one reconstruction run, copied from the process controls when
// the run starts so that later edits do not change a run in progress.
struct CtRunParams
{
    bool calcCt1 = true;
    bool calcCt2 = false;
    bool rotAxIsV = true;
    int32_t slice = 0;
    double cor = 0.0;
    bool autoExec = false;
    int32_t sliceFrom = 0;
    int32_t sliceTo = 0;
    // Signed: runs from sliceFrom towards sliceTo.
    int32_t sliceStep = 1;
    int32_t threads = 1;
    // The FBP filter (CtFilter): the window's name and whether rows are padded.
    QString filterName = "ramp";
    bool filterPadded = false;
    // Stripe removal before filtering: the smoothing window in detector pixels, 0 off.
    int ringRemoval = 0;
    // The arithmetic of filtering and back projection, one of CtFbp::precisionNames().
    QString precision = "double";
    // The sinogram's half width when the run's grid is fixed (a sequential run keeps
    // the first set's N whatever centre each set gets); 0: from the centre.
    int32_t fixedHalfWidth = 0;
    // Ring removal in a run over the sets of a data directory: the number of that
    // sequence, whose runs share each slice's column correction (estimated on the
    // first set); 0: each run decides its own, as outside sequences.
    int32_t ringSequence = 0;
    // The scan's geometry: range (ct_scan_range) and, once the run has read it,
    // one angle per projection. The default is the even spread over 180 degrees.
    ScanGeometry geometry;
    // The angle file to read at run start (ct_angles_file); empty: none.
    QString anglesFile;
};
