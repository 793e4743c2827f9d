#pragma once

class CommandTable;
class QAbstractButton;
class SelectAFile;

// Where results are saved and under which names.
struct SavingParts
{
    QAbstractButton *saveImage = nullptr;
    QAbstractButton *saveData = nullptr;
    SelectAFile *imageFolder = nullptr;
    SelectAFile *dataFolder = nullptr;
    QAbstractButton *subFolders = nullptr;
    QAbstractButton *subOfSlice = nullptr;
    QAbstractButton *subOfEnergy = nullptr;
};

void registerSavingCommands(CommandTable &table, const SavingParts &parts);
