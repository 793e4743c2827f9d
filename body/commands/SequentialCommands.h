#pragma once

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
};

void registerSequentialCommands(CommandTable &table, const SequentialParts &parts);
