#include "AllCommands.h"

#include "batch/CommandTable.h"
#include "body/commands/ArgumentRanges.h"
#include "body/commands/GeometryCommands.h"

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
    registerGeometryCommands(table, parts.filter.proc);
    registerCentreCommands(table, parts.centre);
    registerRunCommands(table, parts.runs);
    registerSequentialCommands(table, parts.sequential);
    registerXafsCommands(table, parts.xafs);
    registerXafsMapCommands(table, parts.xafs);
    registerArgumentRanges(table);
    // The configuration file is read as settings before it runs as a script: these
    // keys are its own, and the run options may stand there as on the command line.
    for (const char *key : {"DataRoot", "INCLUDE", "MemoryLimitMB", "-set", "-sets", "-threads"})
        table.addConfigurationKey(QLatin1String(key));
}
