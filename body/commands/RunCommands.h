#pragma once

#include <functional>

class CommandTable;
class QAbstractButton;

// Which engine reconstructs, whether results are shown, and starting a run.
struct RunParts
{
    QAbstractButton *ct1 = nullptr;
    QAbstractButton *ct2 = nullptr;
    QAbstractButton *showResults = nullptr;
    // What a click on CT1 or CT2 does besides checking it.
    std::function<void(QAbstractButton *)> ctChosen;
    // Starts a CT run; with `answersScript` its end answers the script line.
    std::function<void(bool answersScript)> startRun;
};

void registerRunCommands(CommandTable &table, const RunParts &parts);
