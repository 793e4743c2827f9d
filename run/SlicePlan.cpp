#include "SlicePlan.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// Division rounding toward minus / plus infinity, for a positive divisor.
long long floorDiv(long long a, long long b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

long long ceilDiv(long long a, long long b)
{
    return -floorDiv(-a, b);
}

int saturated(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, 0, INT_MAX));
}

} // namespace

namespace SlicePlan {

bool inRange(int v, int a, int b)
{
    return a <= b ? (v >= a && v <= b) : (v >= b && v <= a);
}

QString stretchText(long long first, long long last)
{
    return first == last ? QString::number(first) : QStringLiteral("%1 to %2").arg(first).arg(last);
}

Clip clip(int fromSlice, int toSlice, int stepSize, int lastSlice)
{
    Clip c;
    const long long last = lastSlice;
    const long long from = fromSlice;
    const long long to = toSlice;
    const long long magnitude = std::abs(static_cast<long long>(stepSize));
    const long long step = to < from ? -magnitude : magnitude;
    const long long lastK = std::abs(to - from) / magnitude;
    // Slice k of the range is from + k * step; the ks inside the image form one stretch.
    long long kLo = 0;
    long long kHi = lastK;
    if (step > 0) {
        kLo = std::max(kLo, ceilDiv(-from, step));
        kHi = std::min(kHi, floorDiv(last - from, step));
    } else {
        kLo = std::max(kLo, ceilDiv(from - last, magnitude));
        kHi = std::min(kHi, floorDiv(from, magnitude));
    }
    c.asked = static_cast<int>(std::min<long long>(lastK + 1, INT_MAX));
    const auto sliceAt = [from, step](long long k) { return from + k * step; };
    if (kLo > kHi) {
        c.refused = c.asked;
        c.outside << stretchText(from, sliceAt(lastK));
        return c;
    }
    if (kLo > 0)
        c.outside << stretchText(from, sliceAt(kLo - 1));
    if (kHi < lastK)
        c.outside << stretchText(sliceAt(kHi + 1), sliceAt(lastK));
    if (!c.outside.isEmpty())
        c.refused = saturated(lastK - (kHi - kLo));
    c.any = true;
    c.from = static_cast<int>(sliceAt(kLo));
    c.to = static_cast<int>(sliceAt(kHi));
    // A step of INT_MIN has no positive int of its size; a step that large leaves
    // one slice in the image anyway.
    c.step = static_cast<int>(std::clamp<long long>(step, -INT_MAX, INT_MAX));
    c.total = static_cast<int>(kHi - kLo + 1);
    return c;
}

long long left(int next, int to, int step)
{
    return std::llabs(static_cast<long long>(to) - next) /
               std::llabs(static_cast<long long>(step)) +
           1;
}

int stepFrom(int next, int step, int to)
{
    const long long after = static_cast<long long>(next) + step;
    if (after < INT_MIN || after > INT_MAX)
        return to + (step > 0 ? 1 : -1);
    return static_cast<int>(after);
}

int share(long long left, int inFlight, int engines, int group)
{
    const long long fair = (left + inFlight + engines - 1) / engines;
    return static_cast<int>(std::clamp<long long>(std::min(fair, left), 1, group));
}

} // namespace SlicePlan
