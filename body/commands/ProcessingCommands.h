#pragma once

#include <functional>

class CommandTable;
class ProcCtrl;

// The process panel's slice, range, engines, centre and axis, and the regions of the
// result panels.
struct ProcessingParts
{
    using Region = std::function<void(double x0, double z0, double x1, double z1)>;

    ProcCtrl *proc = nullptr;
    // The engines a script's ct_threads gets (-threads wins over it).
    std::function<int(int asked)> enginesAsked;
    Region setDisplayRegion;
    Region setCalcRegion;
};

void registerProcessingCommands(CommandTable &table, const ProcessingParts &parts);
