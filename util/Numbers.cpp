#include "Numbers.h"

#include <climits>
#include <cmath>

namespace Numbers {

double toFiniteDouble(const QString &text, bool *ok)
{
    bool good = false;
    double value = text.trimmed().toDouble(&good);
    if (!good || !std::isfinite(value)) {
        good = false;
        value = 0.0;
    }
    if (ok)
        *ok = good;
    return value;
}

int toInt(const QString &text, bool *ok)
{
    bool good = false;
    int value = text.trimmed().toInt(&good, 10);
    if (!good)
        value = 0;
    if (ok)
        *ok = good;
    return value;
}

int saturateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

int floorToInt(double value)
{
    return saturateToInt(std::floor(value));
}

int roundToInt(double value)
{
    return saturateToInt(std::round(value));
}

QString text(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace Numbers
