#include "DemoNoise.h"

#include <array>
#include <cmath>

namespace {

constexpr quint64 golden = 0x9e3779b97f4a7c15ULL;

// splitmix64's output function: a bijection that spreads every input bit over all.
quint64 mixed(quint64 z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Below this mean the inversion is the faster and PTRS is not valid.
constexpr double rejectionFrom = 10.0;

constexpr int tabulated = 128;

} // namespace

DemoNoise::DemoNoise(quint64 seed, Kind kind, quint64 first, quint64 second)
{
    quint64 key = mixed(seed + golden);
    for (const quint64 index : {quint64(kind), first, second})
        key = mixed(key ^ mixed(index + golden));
    // The state is splitmix64's sequence from the key, never all zero.
    for (quint64 &word : state) {
        key += golden;
        word = mixed(key);
    }
}

long long DemoNoise::poisson(double mean)
{
    if (!(mean > 0.0))
        return 0;
    return mean < rejectionFrom ? inversion(mean) : rejection(mean);
}

// Walks the distribution from 0 until the uniform deviate is used up; a deviate the
// rounding leaves unused beyond any probable count is drawn again.
long long DemoNoise::inversion(double mean)
{
    const double p0 = std::exp(-mean);
    for (;;) {
        double u = uniform();
        double p = p0;
        long long k = 0;
        while (u > p && k < 200) {
            u -= p;
            ++k;
            p *= mean / double(k);
        }
        if (k < 200)
            return k;
    }
}

// W. Hormann, "The transformed rejection method for generating Poisson random
// variables", Insurance: Mathematics and Economics 12 (1993) 39-45, for means of 10
// and more.
long long DemoNoise::rejection(double mean)
{
    const double b = 0.931 + 2.53 * std::sqrt(mean);
    const double a = -0.059 + 0.02483 * b;
    const double vr = 0.9277 - 3.6224 / (b - 2.0);
    for (;;) {
        const double u = uniform() - 0.5;
        const double v = uniform();
        const double us = 0.5 - std::abs(u);
        const double k = std::floor((2.0 * a / us + b) * u + mean + 0.43);
        // The squeeze: most pairs land inside it.
        if (us >= 0.07 && v <= vr)
            return (long long)k;
        if (k < 0.0 || (us < 0.013 && v > us))
            continue;
        // Worked out here only: most draws end in the squeeze.
        const double alpha = 1.1239 + 1.1328 / (b - 3.4);
        if (std::log(v * alpha / (a / (us * us) + b)) <=
            -mean + k * std::log(mean) - logFactorial(k))
            return (long long)k;
    }
}

double DemoNoise::logFactorial(double k)
{
    static const std::array<double, tabulated> table = [] {
        std::array<double, tabulated> t{};
        for (int i = 0; i < tabulated; ++i)
            t[size_t(i)] = std::lgamma(i + 1.0);
        return t;
    }();
    if (k < tabulated)
        return table[size_t(k)];
    // Stirling's series; the next term, 1 / (1680 k^7), is below 1e-18 here.
    const double r = 1.0 / k;
    const double r2 = r * r;
    return (k + 0.5) * std::log(k) - k + 0.91893853320467274178 +
           r * (1.0 / 12.0 - r2 * (1.0 / 360.0 - r2 / 1260.0));
}
