#include "RunAccount.h"

#include <algorithm>
#include <climits>

void RunAccount::add(int &count, long long more)
{
    count = static_cast<int>(std::clamp<long long>(count + more, 0, INT_MAX));
}

RunAccount::Totals RunAccount::totals(int filesWritten, int filesFailed) const
{
    Totals t = counts;
    t.filesWritten = filesWritten;
    add(t.failures, filesFailed);
    return t;
}

QString RunAccount::summaryLine(const Totals &t)
{
    QString line =
        QStringLiteral("Summary : sets %1, slices computed %2, files written %3, failures %4, "
                       "skipped projection files %5")
            .arg(t.sets)
            .arg(t.slicesComputed)
            .arg(t.filesWritten)
            .arg(t.failures)
            .arg(t.skippedProjectionFiles);
    // Only a script with a typo has the field, so every other summary reads as before.
    if (t.unknownCommands > 0)
        line += QStringLiteral(", unknown commands %1").arg(t.unknownCommands);
    return line;
}

int RunAccount::exitStatus(int exitCode, bool headless, const Totals &t)
{
    if (exitCode != 0 || !headless)
        return exitCode;
    return (t.failures > 0 || t.unknownCommands > 0) ? 2 : 0;
}
