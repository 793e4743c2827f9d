#pragma once

#include "body/commands/XafsCommands.h"

class CommandTable;

// Chemical maps of the built CT-XAFS stacks: reference spectra, linear combination
// fitting, principal components and clusters, and their settings. They keep their
// settings in the XAFS panel beside the normalisation's.
void registerXafsMapCommands(CommandTable &table, const XafsParts &parts);
