#pragma once

#include <QString>

class QThread;

// Starting a thread can fail (a process or user thread limit, no memory for its
// stack); QThread::start() then only warns. Every thread of the program is started
// here, so that the caller learns of it and keeps its work going without it.
namespace ThreadStart {

// Starts `thread`; false, with a log line naming `what`, when it did not start.
bool start(QThread &thread, const QString &what);

// Fault switch for tests: ORVO2_FAIL_THREADS=<text> makes every start whose `what`
// contains the text fail, as on a system out of threads.
bool failsFor(const QString &what);

} // namespace ThreadStart
