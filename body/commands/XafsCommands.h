#pragma once

#include "xafs/XafsBuilder.h"

#include <functional>

class BatchCmd;
class CommandTable;
class XafsPanel;

// CT-XAFS spectra: their settings, the build of the energy stacks and a region's
// spectrum.
struct XafsParts
{
    XafsPanel *panel = nullptr;
    // Where the results of the current data name lie.
    std::function<XafsLayout()> layout;
    // Builds the stacks on a thread of its own; from a script, its end answers the line.
    std::function<void(bool fromScript)> startBuild;
    // Counts a script's failed XAFS step in the run's failures, so that a headless
    // run whose spectra were not built does not end as a success.
    std::function<void()> countFailure;

    // The script's answer to a step that did the work asked or not, counted when not.
    bool settle(bool done) const
    {
        if (!done && countFailure)
            countFailure();
        return done;
    }
};

// A step on whole stacks that runs out of memory or can not start a thread fails alone
// ("XAFS: No memory"): false, and the run goes on.
bool xafsStepDone(const BatchCmd &c, const std::function<bool()> &step);

void registerXafsCommands(CommandTable &table, const XafsParts &parts);
