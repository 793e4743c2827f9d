#pragma once

// A reconstructed value is the plain sum over P projections of filtered samples;
// dividing by 2P gives the attenuation per pixel (the ramp's weights and the
// angular step pi/P leave a factor 2). Every consumer of saved values (TIFF
// metadata, run records, spectra) goes through this one rule.
inline double attenuationPerPixel(double savedValue, int projections)
{
    return projections > 0 ? savedValue / (2.0 * projections) : 0.0;
}

inline const char *attenuationScaleRule()
{
    return "value / (2P) = attenuation per pixel";
}
