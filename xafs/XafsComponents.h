#pragma once

#include <cstdint>
#include <random>
#include <vector>

// Principal components of spectra without references: the singular value decomposition
// of the voxels x energies matrix (nothing subtracted), found from its energies x
// energies Gram matrix, whose eigenvectors are the right singular vectors and whose
// eigenvalues the squared singular values. Malinowski's indicator function IND picks
// how many components carry signal rather than noise.
//
// IND is judged on the spectra with each one's straight line over the energies taken
// off. Normalisation subtracts from every voxel a pre-edge line fitted to a handful of
// its own points, so the noise of those points comes back across the whole scan as a
// straight line of its own in each voxel: noise that is not white but shared by all
// energies, which IND (made for independent errors) counts as one more component.
// Without the lines the noise is white again, and a species' edge is no straight line,
// so the number of species is unchanged.
struct XafsPca
{
    std::vector<double> singular;                // decreasing
    std::vector<double> explained;               // fraction of the sum of squares
    std::vector<std::vector<double>> components; // each over the energies, unit length
    std::vector<double> indicator;               // IND(n) at n - 1, NaN where not defined
    std::vector<double> detrended;               // singular values IND was computed from
    int chosen = 0;                              // the n of the smallest IND (0: no signal)
    size_t voxels = 0;
};

class XafsComponents
{
public:
    // Spectra of `energies` values at evenly spaced energies.
    explicit XafsComponents(size_t energies);
    // Spectra at these energies (eV).
    explicit XafsComponents(const std::vector<double> &energies);

    // Adds n spectra lying one after the other.
    void add(const double *spectra, size_t n);
    size_t voxels() const { return count; }
    XafsPca solve() const;

    // Eigenvalues (decreasing) and unit eigenvectors (vectors[i] belongs to values[i]) of
    // the symmetric n x n matrix `a` (row by row), by cyclic Jacobi rotations.
    static void eigenSymmetric(std::vector<double> a, size_t n, std::vector<double> *values,
                               std::vector<std::vector<double>> *vectors);
    // IND(n) = RE(n) / (c - n)^2 with RE(n) = sqrt(sum_{j > n} lambda_j / (r (c - n))),
    // for an r x c matrix (r >= c) whose squared singular values are `lambda`, n = 1 .. rank-1;
    // c is `columns` (the energies less the dimensions taken off), at most lambda.size().
    static std::vector<double> indicator(const std::vector<double> &lambda, size_t rows,
                                         size_t rank, size_t columns);
    // The Gram matrix (energies x energies, full) of the spectra less their least-squares
    // straight lines over `at`.
    static std::vector<double> withoutLines(const std::vector<double> &gram,
                                            const std::vector<double> &at);

private:
    size_t energies;
    std::vector<double> positions; // the energies, for the lines taken off
    size_t count = 0;
    std::vector<double> gram;  // upper triangle used, energies x energies
    std::vector<double> carry; // Kahan's compensation of each sum
    std::vector<double> local; // one block's sums
};

// k-means with k-means++ seeding: the first centre drawn uniformly, each further one
// with probability proportional to the squared distance to the nearest centre so far;
// then at most `rounds` rounds of assigning and averaging, stopping when no point moves.
// Draws come from a fixed seed, so the same points give the same clusters.
class XafsKMeans
{
public:
    // points: n points of `dims` values one after the other. The labels 0 .. k-1.
    static std::vector<int> cluster(const std::vector<float> &points, size_t dims, int k,
                                    std::uint64_t seed, int rounds, std::vector<double> *centres);
    static int nearest(const float *point, size_t dims, const std::vector<double> &centres);
};

// Draws doubles in [0, 1) from a 64-bit Mersenne twister by its own rule, so that they
// are the same with every standard library.
class XafsRandom
{
public:
    explicit XafsRandom(std::uint64_t seed)
        : engine(seed)
    {
    }
    double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

private:
    std::mt19937_64 engine;
};
