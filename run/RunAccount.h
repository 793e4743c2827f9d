#pragma once

#include <QString>

// Counts of everything done since start-up, for the line that ends a headless
// run and its exit status.
class RunAccount
{
public:
    struct Totals
    {
        int sets = 0;
        int slicesComputed = 0;
        int filesWritten = 0;
        // Refused runs, slices asked for but not computed, results not saved as
        // asked, sets whose I0 image could not be loaded, result files not written.
        int failures = 0;
        int skippedProjectionFiles = 0;
        // Script words that are no command: a typo would otherwise leave a setting
        // as it was and the run look right.
        int unknownCommands = 0;
    };

    // Counts saturate: a range of slices may hold nearly 2^32 of them.
    static void add(int &count, long long more);

    void addFailures(long long n) { add(counts.failures, n); }
    void addSlicesComputed() { add(counts.slicesComputed, 1); }
    void addSet() { add(counts.sets, 1); }
    void addSkippedFiles(long long n) { add(counts.skippedProjectionFiles, n); }
    void addUnknownCommand() { add(counts.unknownCommands, 1); }

    // The totals with the saver's counts as they stand.
    Totals totals(int filesWritten, int filesFailed) const;
    static QString summaryLine(const Totals &t);
    // 1 when the script could not be opened; a headless run with failures or unknown
    // commands 2; else 0.
    static int exitStatus(int exitCode, bool headless, const Totals &t);

private:
    Totals counts;
};
