#pragma once

#include <QtGlobal>

// The photon noise of the demo data. Every frame (a projection, an I0 frame, the dark
// image) draws its noise from a stream of its own, seeded from the seed and the
// frame's indices, so the frames can be drawn on any thread in any order and a seed
// still gives the same files whatever the number of cores.
class DemoNoise
{
public:
    // What a stream belongs to; the indices tell frames of one kind apart.
    enum class Kind : quint64 { Dark = 1, I0 = 2, Projection = 3 };

    DemoNoise(quint64 seed, Kind kind, quint64 first, quint64 second = 0);

    // 64 random bits (xoshiro256++).
    quint64 next()
    {
        const quint64 result = rotl(state[0] + state[3], 23) + state[0];
        const quint64 t = state[1] << 17;
        state[2] ^= state[0];
        state[3] ^= state[1];
        state[1] ^= state[2];
        state[0] ^= state[3];
        state[2] ^= t;
        state[3] = rotl(state[3], 45);
        return result;
    }
    // Uniform in [0, 1), 53 bits.
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }

    // A Poisson deviate of the given mean (finite; 0 for a mean not above 0): inversion
    // for small means, Hormann's transformed rejection with squeeze (PTRS) for the
    // others, both exact. Unlike std::poisson_distribution nothing is worked out
    // beforehand per mean, which is new at nearly every pixel here.
    long long poisson(double mean);

    // log(k!) for k >= 0: a table for small k, Stirling's series above.
    static double logFactorial(double k);

private:
    static quint64 rotl(quint64 x, int k) { return (x << k) | (x >> (64 - k)); }
    long long inversion(double mean);
    long long rejection(double mean);

    quint64 state[4];
};
