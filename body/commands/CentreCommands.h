#pragma once

#include <QString>

#include <functional>

class CommandTable;
class ProcCtrl;

// The centre of rotation found or scanned, and stripe removal.
struct CentreParts
{
    ProcCtrl *proc = nullptr;
    // Estimates the centre within [from, to] (NaN: no bound) and sets it; false, with
    // the reason logged, when it can not.
    std::function<bool(double from, double to)> findCor;
    // Reconstructs the current slice at each centre of the range and saves each.
    std::function<bool(double from, double to, double step)> scanCor;
    // Something asked for failed: it counts for the exit status.
    std::function<void(const QString &what)> countFailure;
    // The centre of each set of a sequential run estimated after its load: 0 never,
    // 1 at each set, 2 at the run's first set and kept for the others.
    std::function<void(int mode)> setCorAutoOfSets;
};

void registerCentreCommands(CommandTable &table, const CentreParts &parts);
