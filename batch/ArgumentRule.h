#pragma once

#include "batch/BatchCmd.h"

#include <QList>
#include <QString>

#include <limits>

// How many arguments a batch word takes and which values its numbers may have. The
// script check and the command itself read the same rule, so a line the check
// passes is one the program takes.
class ArgumentRule
{
public:
    static constexpr int unbounded = -1;

    // The range of one numeric argument. Bounds are inclusive unless `above` asks
    // for values strictly greater than `low`.
    struct Range
    {
        int index = 0;
        double low = -std::numeric_limits<double>::infinity();
        double high = std::numeric_limits<double>::infinity();
        bool above = false;
        bool nonZero = false;
        bool whole = false;
        // Also a percentage, "0%" to "100%".
        bool percent = false;

        static Range atLeast(int index, double low, bool whole = false);
        static Range greaterThan(int index, double low);
        static Range between(int index, double low, double high, bool whole = false);
        static Range notZero(int index, bool whole = false);
        static Range anyNumber(int index);
        Range orPercent() const
        {
            Range r = *this;
            r.percent = true;
            return r;
        }

        bool admits(double value) const;
        // The range in words, as log lines quote it: ">= 0", "1 to 32", "not 0".
        QString text() const;
    };

    // The argument count read from a usage text as the listing shows it: each item a
    // required argument, items in [brackets] optional, an item ending in "..."
    // any number more.
    static ArgumentRule fromUsage(const QString &usage);

    ArgumentRule &counts(int least, int most);
    // Only these counts, for arguments that come in groups ("[FROM TO]": 0 or 2).
    ArgumentRule &countsAmong(const QList<int> &allowed);
    ArgumentRule &limit(const Range &range);

    // Empty when the line's argument count fits; else what is wrong.
    QString countProblem(const BatchCmd &command) const;
    // Empty when every numeric argument present is a number within its range; else
    // what is wrong, naming the range.
    QString valueProblem(const BatchCmd &command) const;

private:
    int least = 0;
    int most = unbounded;
    QList<int> among;
    QList<Range> ranges;
};
