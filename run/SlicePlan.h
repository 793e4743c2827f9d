#pragma once

#include <QStringList>

// The slices of a run: which of the asked range lie in the image, and how many
// each engine takes at a time. Pure functions of their arguments.
namespace SlicePlan {

// v lies between a and b, whichever is larger.
bool inRange(int v, int a, int b);

struct Clip
{
    // Some slice of the range lies in the image.
    bool any = false;
    // Slices asked for, and those refused because they lie outside the image.
    int asked = 0;
    int refused = 0;
    // The stretch inside the image, walked from `from` by `step`.
    int from = 0;
    int to = 0;
    int step = 1;
    int total = 0;
    // The refused stretches, as "a to b" texts.
    QStringList outside;
};

// The range from, from + step, ... up to `to` (step's sign is taken from the
// direction from -> to; step != 0) against slices 0 to lastSlice. Slices outside
// the image are refused, not moved to the edge: the edge slice was not asked for.
Clip clip(int from, int to, int step, int lastSlice);

// Slices left in [next, to] stepping by step.
long long left(int next, int to, int step);

// The next slice after `next`, without overflow: past the range's end when the
// step would leave the int range.
int stepFrom(int next, int step, int to);

// How many slices one engine takes now: up to `group`, shared evenly among the
// engines at the end of the range so that none is left with the last ones
// alone. The share counts the slices the other engines already hold, so that 8
// slices on 2 engines go 4 + 4, not 4 + 2 + 1 + 1.
int share(long long left, int inFlight, int engines, int group);

// "a" or "a to b".
QString stretchText(long long first, long long last);

} // namespace SlicePlan
