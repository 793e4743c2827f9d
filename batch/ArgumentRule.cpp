#include "ArgumentRule.h"

#include "util/Numbers.h"

#include <QStringList>

#include <cmath>

namespace {

QString number(double value)
{
    return QString::number(value, 'g', 12);
}

QString arguments(int n)
{
    return n == 1 ? QStringLiteral("1 argument") : QStringLiteral("%1 arguments").arg(n);
}

} // namespace

ArgumentRule::Range ArgumentRule::Range::atLeast(int index, double low, bool whole)
{
    Range r;
    r.index = index;
    r.low = low;
    r.whole = whole;
    return r;
}

ArgumentRule::Range ArgumentRule::Range::greaterThan(int index, double low)
{
    Range r = atLeast(index, low);
    r.above = true;
    return r;
}

ArgumentRule::Range ArgumentRule::Range::between(int index, double low, double high, bool whole)
{
    Range r = atLeast(index, low, whole);
    r.high = high;
    return r;
}

ArgumentRule::Range ArgumentRule::Range::notZero(int index, bool whole)
{
    Range r;
    r.index = index;
    r.nonZero = true;
    r.whole = whole;
    return r;
}

ArgumentRule::Range ArgumentRule::Range::anyNumber(int index)
{
    Range r;
    r.index = index;
    return r;
}

bool ArgumentRule::Range::admits(double value) const
{
    if (whole && value != std::trunc(value))
        return false;
    if (nonZero && value == 0.0)
        return false;
    if (above ? !(value > low) : !(value >= low))
        return false;
    return value <= high;
}

QString ArgumentRule::Range::text() const
{
    QString range;
    const bool hasLow = std::isfinite(low);
    const bool hasHigh = std::isfinite(high);
    if (hasLow && hasHigh)
        range = number(low) + QStringLiteral(" to ") + number(high);
    else if (hasLow)
        range = (above ? QStringLiteral("> ") : QStringLiteral(">= ")) + number(low);
    else if (hasHigh)
        range = QStringLiteral("<= ") + number(high);
    if (nonZero)
        range = range.isEmpty() ? QStringLiteral("not 0") : range + QStringLiteral(", not 0");
    if (whole)
        range = range.isEmpty() ? QStringLiteral("a whole number")
                                : QStringLiteral("a whole number ") + range;
    if (percent)
        range += QStringLiteral(", or 0% to 100%");
    return range.isEmpty() ? QStringLiteral("a number") : range;
}

ArgumentRule ArgumentRule::fromUsage(const QString &usage)
{
    ArgumentRule rule;
    rule.least = 0;
    rule.most = 0;
    bool optional = false;
    for (const QString &item : usage.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const bool opens = item.startsWith(QLatin1Char('['));
        const bool closes = item.endsWith(QLatin1Char(']'));
        optional = optional || opens;
        if (rule.most != unbounded)
            ++rule.most;
        if (!optional)
            ++rule.least;
        if (item.contains(QLatin1String("...")))
            rule.most = unbounded;
        if (closes)
            optional = false;
    }
    return rule;
}

ArgumentRule &ArgumentRule::counts(int leastCount, int mostCount)
{
    least = leastCount;
    most = mostCount;
    return *this;
}

ArgumentRule &ArgumentRule::countsAmong(const QList<int> &allowed)
{
    among = allowed;
    return *this;
}

ArgumentRule &ArgumentRule::limit(const Range &range)
{
    ranges.append(range);
    return *this;
}

QString ArgumentRule::countProblem(const BatchCmd &command) const
{
    const int n = static_cast<int>(command.args.size());
    if (among.isEmpty() ? (n >= least && (most == unbounded || n <= most)) : among.contains(n))
        return QString();
    QString wanted;
    if (!among.isEmpty()) {
        QStringList counts;
        for (int count : among)
            counts << QString::number(count);
        wanted = counts.join(QStringLiteral(" or ")) + QStringLiteral(" arguments");
    } else if (most == unbounded)
        wanted = QStringLiteral("at least ") + arguments(least);
    else if (least == most)
        wanted = arguments(least);
    else
        wanted = QStringLiteral("%1 to %2").arg(least).arg(arguments(most));
    return QStringLiteral("%1 takes %2, not %3").arg(command.cmd, wanted).arg(n);
}

QString ArgumentRule::valueProblem(const BatchCmd &command) const
{
    for (const Range &range : ranges) {
        if (range.index >= command.args.size())
            continue;
        const QString text = command.argText(range.index);
        bool isNumber = false;
        if (range.percent && text.endsWith(QLatin1Char('%'))) {
            const double share = Numbers::toFiniteDouble(text.chopped(1), &isNumber);
            if (isNumber && share >= 0.0 && share <= 100.0)
                continue;
        }
        const double value = Numbers::toFiniteDouble(text, &isNumber);
        if (isNumber && range.admits(value))
            continue;
        return QStringLiteral("Value out of range : %1 %2 (allowed: %3)")
            .arg(command.cmd, text, range.text());
    }
    return QString();
}
