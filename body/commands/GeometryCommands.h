#pragma once

class CommandTable;
class ProcCtrl;

// The scan geometry: the range the projections cover and their angles.
void registerGeometryCommands(CommandTable &table, ProcCtrl *proc);
