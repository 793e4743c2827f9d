#pragma once

class CommandTable;
class ProcCtrl;
class QComboBox;

// The filter of the reconstruction and the format of saved data.
struct FilterParts
{
    ProcCtrl *proc = nullptr;
    QComboBox *dataFormat = nullptr;
};

void registerFilterCommands(CommandTable &table, const FilterParts &parts);
