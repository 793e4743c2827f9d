#pragma once

#include "body/commands/AdditionalInfoCommands.h"
#include "body/commands/CentreCommands.h"
#include "body/commands/FilterCommands.h"
#include "body/commands/H5Commands.h"
#include "body/commands/LoadingCommands.h"
#include "body/commands/ProcessingCommands.h"
#include "body/commands/RunCommands.h"
#include "body/commands/RunOptionCommands.h"
#include "body/commands/SavingCommands.h"
#include "body/commands/SequentialCommands.h"
#include "body/commands/ShowingCommands.h"
#include "body/commands/XafsCommands.h"
#include "body/commands/XafsMapCommands.h"

// The parts of the main window every feature area's commands change. Registration
// only keeps them: with no parts at all the table still lists every word.
struct CommandParts
{
    RunOptionParts runOptions;
    LoadingParts loading;
    H5Parts h5;
    ProcessingParts processing;
    SavingParts saving;
    AdditionalInfoParts additionalInfo;
    ShowingParts showing;
    FilterParts filter;
    CentreParts centre;
    RunParts runs;
    SequentialParts sequential;
    XafsParts xafs;
};

// Every batch command of the program, in the order its handlers run.
void registerAllCommands(CommandTable &table, const CommandParts &parts);
