#pragma once

#include <QString>

// The bytes that image pixels may take in this process. Every pixel buffer a
// reader allocates is charged here and returned when freed, so a stack of frames,
// the I0 and the BG images together stay within the limit. Pages mapped from
// their files are not charged: the kernel drops and re-reads them as it needs.
namespace MemoryBudget {

// The machine's physical memory in bytes, 0 when it cannot be told.
qint64 physicalMemory();
// Half of the machine's physical memory, or 1 GiB when that cannot be told.
qint64 defaultLimit();
qint64 limit();
// A limit of 0 or less restores the default.
void setLimit(qint64 bytes);
// The value of a "MemoryLimitMB N" configuration line; false (limit unchanged)
// when the text is not a positive number of megabytes.
bool setLimitMB(const QString &text);
qint64 used();

// Charges `bytes`; false (nothing charged) when the limit would be passed.
bool reserve(qint64 bytes);
void release(qint64 bytes);
// How many reservations have been refused since the process started: a loader
// compares it before and after a file to tell "over budget" from other failures.
qint64 refusals();

} // namespace MemoryBudget
