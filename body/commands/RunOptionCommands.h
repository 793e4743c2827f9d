#pragma once

#include <functional>

class CommandTable;
struct RunOptions;

// -set and -sets, which settle some commands before they run: a task that computes
// one set leaves the spectra to the task after all sets, and a listing of the sets
// computes nothing.
struct RunOptionParts
{
    // Read when a command runs: the options are known only after start-up's own lines.
    const RunOptions *options = nullptr;
    // -set named a set the data directory does not have.
    std::function<bool()> onlySetMissing;
    std::function<void()> printSetList;
    std::function<void()> stopScript;
};

void registerRunOptionGuards(CommandTable &table, const RunOptionParts &parts);
