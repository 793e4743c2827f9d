#pragma once

#include <cmath>

// The value-to-grey rule of every picture: a linear ramp between the handles
// lo and hi (fractions of the range min..max). The multiplier is 256 and the
// result is clamped to 255, so the top 1/256 of the window is white too.
// A zero range or zero window divides by zero: a NaN result is grey 0, an
// infinite one clamps. Everything is done in double so no conversion is undefined.
struct GreyScale
{
    double min = 0.0;
    double max = 1.0;
    double lo = 0.0;
    double hi = 1.0;

    static int clampGrey(double g)
    {
        if (std::isnan(g) || g <= 0.0)
            return 0;
        if (g >= 255.0)
            return 255;
        return static_cast<int>(g);
    }
    int greyOfFraction(double f) const { return clampGrey((f - lo) * 256.0 / (hi - lo)); }
    int grey(double v) const { return greyOfFraction((v - min) / (max - min)); }
};
