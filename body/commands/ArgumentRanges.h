#pragma once

class CommandTable;

// The argument counts and number ranges of the registered words: read by the
// commands before their handlers run and by `orvo2 -check`.
void registerArgumentRanges(CommandTable &table);
