#pragma once

#include <functional>

class CommandTable;
class QAbstractButton;
class QTabWidget;

// The tab in front and the colour scale of result pictures.
struct ShowingParts
{
    QTabWidget *tabs = nullptr;
    QAbstractButton *fixColorScale = nullptr;
    std::function<void(double)> setColorMin;
    std::function<void(double)> setColorMax;
};

void registerShowingCommands(CommandTable &table, const ShowingParts &parts);
