#pragma once

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
};
