#pragma once

#include <functional>

class CommandTable;
class QAbstractButton;
class SelectDataDir;
class SelectDataFiles;

// The sets of a sequential CT-XAFS run and the I0 files chosen for them.
struct SequentialParts
{
    QAbstractButton *showControls = nullptr;
    SelectDataDir *dataDirs = nullptr;
    SelectDataFiles *i0Files = nullptr;
    // seq_exec_i0_max_gap: the farthest (eV) a set's nearest I0 may lie; 0 no limit.
    std::function<void(double eV)> setMaxI0Gap;
};

void registerSequentialCommands(CommandTable &table, const SequentialParts &parts);
