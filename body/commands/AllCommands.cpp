#include "AllCommands.h"

void registerAllCommands(CommandTable &table, const CommandParts &parts)
{
    registerRunOptionGuards(table, parts.runOptions);
    registerLoadingCommands(table, parts.loading);
    registerH5Commands(table, parts.h5);
    registerProcessingCommands(table, parts.processing);
    registerSavingCommands(table, parts.saving);
    registerAdditionalInfoCommands(table, parts.additionalInfo);
    registerShowingCommands(table, parts.showing);
    registerFilterCommands(table, parts.filter);
    registerCentreCommands(table, parts.centre);
    registerRunCommands(table, parts.runs);
    registerSequentialCommands(table, parts.sequential);
    registerXafsCommands(table, parts.xafs);
    registerXafsMapCommands(table, parts.xafs);
}
