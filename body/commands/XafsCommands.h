#pragma once

#include "xafs/XafsBuilder.h"

#include <functional>

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
};

void registerXafsCommands(CommandTable &table, const XafsParts &parts);
