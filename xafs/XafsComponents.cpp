#include "XafsComponents.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

XafsComponents::XafsComponents(size_t e)
    : energies(e)
    , positions(e)
    , gram(e * e, 0.0)
    , carry(e * e, 0.0)
    , local(e * e, 0.0)
{
    std::iota(positions.begin(), positions.end(), 0.0);
}

XafsComponents::XafsComponents(const std::vector<double> &at)
    : XafsComponents(at.size())
{
    positions = at;
}

void XafsComponents::add(const double *spectra, size_t n)
{
    // Summed a block at a time, each block's sums added with Kahan's compensation: the
    // smallest singular values worth telling apart are 1e-7 of the largest, so their
    // squares sit 1e-14 below the Gram matrix's largest entries, which a plain running
    // sum over a million voxels would bury in its rounding.
    constexpr size_t block = 64;
    for (size_t from = 0; from < n; from += block) {
        std::fill(local.begin(), local.end(), 0.0);
        const size_t end = std::min(n, from + block);
        for (size_t j = from; j < end; ++j) {
            const double *y = spectra + j * energies;
            for (size_t a = 0; a < energies; ++a) {
                const double ya = y[a];
                double *row = local.data() + a * energies;
                for (size_t b = a; b < energies; ++b)
                    row[b] += ya * y[b];
            }
        }
        for (size_t a = 0; a < energies; ++a) {
            for (size_t b = a; b < energies; ++b) {
                const size_t i = a * energies + b;
                const double term = local[i] - carry[i];
                const double sum = gram[i] + term;
                carry[i] = (sum - gram[i]) - term;
                gram[i] = sum;
            }
        }
    }
    count += n;
}

void XafsComponents::eigenSymmetric(std::vector<double> a, size_t n, std::vector<double> *values,
                                    std::vector<std::vector<double>> *vectors)
{
    std::vector<double> v(n * n, 0.0);
    for (size_t i = 0; i < n; ++i)
        v[i * n + i] = 1.0;
    auto at = [&a, n](size_t r, size_t c) -> double & { return a[r * n + c]; };
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0, diagonal = 0.0;
        for (size_t p = 0; p < n; ++p) {
            diagonal += at(p, p) * at(p, p);
            for (size_t q = p + 1; q < n; ++q)
                off += at(p, q) * at(p, q);
        }
        if (!(off > 1e-30 * diagonal))
            break;
        for (size_t p = 0; p < n; ++p) {
            for (size_t q = p + 1; q < n; ++q) {
                const double apq = at(p, q);
                if (apq == 0.0)
                    continue;
                // The rotation that zeroes a_pq: t = tan of its angle, the smaller root.
                const double theta = (at(q, q) - at(p, p)) / (2.0 * apq);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (size_t k = 0; k < n; ++k) {
                    const double kp = at(k, p), kq = at(k, q);
                    at(k, p) = c * kp - s * kq;
                    at(k, q) = s * kp + c * kq;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double pk = at(p, k), qk = at(q, k);
                    at(p, k) = c * pk - s * qk;
                    at(q, k) = s * pk + c * qk;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double kp = v[k * n + p], kq = v[k * n + q];
                    v[k * n + p] = c * kp - s * kq;
                    v[k * n + q] = s * kp + c * kq;
                }
            }
        }
    }
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return at(x, x) > at(y, y); });
    values->clear();
    vectors->clear();
    for (size_t i : order) {
        values->push_back(at(i, i));
        std::vector<double> column(n);
        for (size_t k = 0; k < n; ++k)
            column[k] = v[k * n + i];
        // A fixed sign (largest entry positive) so that score maps do not flip between
        // runs that differ in rounding.
        const auto largest = std::max_element(column.begin(), column.end(), [](double x, double y) {
            return std::abs(x) < std::abs(y);
        });
        if (largest != column.end() && *largest < 0.0) {
            for (double &x : column)
                x = -x;
        }
        vectors->push_back(std::move(column));
    }
}

std::vector<double> XafsComponents::indicator(const std::vector<double> &lambda, size_t rows,
                                              size_t rank, size_t columns)
{
    const size_t c = std::min({columns, lambda.size(), rows});
    const double r = static_cast<double>(std::max(c, rows));
    std::vector<double> ind(lambda.size(), std::numeric_limits<double>::quiet_NaN());
    for (size_t n = 1; n < rank && n < c; ++n) {
        double rest = 0.0;
        for (size_t j = n; j < c; ++j)
            rest += std::max(lambda[j], 0.0);
        const double free = static_cast<double>(c - n);
        ind[n - 1] = std::sqrt(rest / (r * free)) / (free * free);
    }
    return ind;
}

std::vector<double> XafsComponents::withoutLines(const std::vector<double> &g,
                                                 const std::vector<double> &at)
{
    const size_t n = at.size();
    // An orthonormal pair spanning the straight lines over `at`: the constant and the
    // energies less their mean (the energies are thousands of eV: centred first).
    const double mean = std::accumulate(at.begin(), at.end(), 0.0) / static_cast<double>(n);
    std::vector<double> flat(n, 1.0 / std::sqrt(static_cast<double>(n))), slope(n);
    double length = 0.0;
    for (size_t k = 0; k < n; ++k) {
        slope[k] = at[k] - mean;
        length += slope[k] * slope[k];
    }
    for (double &v : slope)
        v = length > 0.0 ? v / std::sqrt(length) : 0.0;
    // Q = I - flat flat^T - slope slope^T; the result is Q G Q.
    std::vector<double> q(n * n);
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = 0; b < n; ++b)
            q[a * n + b] = (a == b ? 1.0 : 0.0) - flat[a] * flat[b] - slope[a] * slope[b];
    }
    std::vector<double> gq(n * n, 0.0), out(n * n, 0.0);
    for (size_t a = 0; a < n; ++a) {
        for (size_t k = 0; k < n; ++k) {
            const double v = g[a * n + k];
            for (size_t b = 0; b < n; ++b)
                gq[a * n + b] += v * q[k * n + b];
        }
    }
    for (size_t a = 0; a < n; ++a) {
        for (size_t k = 0; k < n; ++k) {
            const double v = q[a * n + k];
            for (size_t b = 0; b < n; ++b)
                out[a * n + b] += v * gq[k * n + b];
        }
    }
    // Symmetric to the last bit, as the eigen solver takes it.
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = 0; b < a; ++b)
            out[a * n + b] = out[b * n + a] = 0.5 * (out[a * n + b] + out[b * n + a]);
    }
    return out;
}

XafsPca XafsComponents::solve() const
{
    XafsPca pca;
    pca.voxels = count;
    std::vector<double> full(gram);
    for (size_t a = 0; a < energies; ++a) {
        for (size_t b = 0; b < a; ++b)
            full[a * energies + b] = full[b * energies + a];
    }
    std::vector<double> lambda;
    eigenSymmetric(full, energies, &lambda, &pca.components);
    const double total = std::accumulate(lambda.begin(), lambda.end(), 0.0,
                                         [](double s, double l) { return s + std::max(l, 0.0); });
    for (double l : lambda) {
        pca.singular.push_back(std::sqrt(std::max(l, 0.0)));
        pca.explained.push_back(total > 0.0 ? std::max(l, 0.0) / total : 0.0);
    }
    // The number of components from the spectra without their straight lines (two
    // dimensions fewer); with fewer than three energies there is nothing to take off.
    std::vector<double> judged = lambda;
    size_t columns = energies;
    if (energies >= 3) {
        std::vector<std::vector<double>> unused;
        eigenSymmetric(withoutLines(full, positions), energies, &judged, &unused);
        columns = energies - 2;
    }
    for (double l : judged)
        pca.detrended.push_back(std::sqrt(std::max(l, 0.0)));
    size_t rank = 0;
    for (double s : pca.detrended) {
        if (s > 1e-7 * pca.detrended.front() && s > 0.0)
            ++rank;
    }
    pca.indicator = indicator(judged, count, rank, columns);
    pca.chosen = rank > 0 ? 1 : 0;
    double lowest = std::numeric_limits<double>::infinity();
    for (size_t n = 0; n < pca.indicator.size(); ++n) {
        if (pca.indicator[n] < lowest) {
            lowest = pca.indicator[n];
            pca.chosen = static_cast<int>(n + 1);
        }
    }
    return pca;
}

int XafsKMeans::nearest(const float *p, size_t dims, const std::vector<double> &centres)
{
    const size_t k = dims > 0 ? centres.size() / dims : 0;
    int best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (size_t c = 0; c < k; ++c) {
        double d = 0.0;
        for (size_t i = 0; i < dims; ++i) {
            const double x = static_cast<double>(p[i]) - centres[c * dims + i];
            d += x * x;
        }
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(c);
        }
    }
    return best;
}

std::vector<int> XafsKMeans::cluster(const std::vector<float> &points, size_t dims, int k,
                                     std::uint64_t seed, int rounds, std::vector<double> *centres)
{
    const size_t n = dims > 0 ? points.size() / dims : 0;
    std::vector<int> labels(n, 0);
    centres->assign(static_cast<size_t>(std::max(k, 0)) * dims, 0.0);
    if (n == 0 || k < 1)
        return labels;
    XafsRandom random(seed);
    auto setCentre = [&](size_t c, size_t point) {
        for (size_t i = 0; i < dims; ++i)
            (*centres)[c * dims + i] = points[point * dims + i];
    };
    setCentre(0, std::min(n - 1, static_cast<size_t>(random.uniform() * static_cast<double>(n))));
    std::vector<double> nearestSquare(n, std::numeric_limits<double>::infinity());
    for (int c = 1; c < k; ++c) {
        double sum = 0.0;
        for (size_t p = 0; p < n; ++p) {
            double d = 0.0;
            for (size_t i = 0; i < dims; ++i) {
                const double x = points[p * dims + i] - (*centres)[(c - 1) * dims + i];
                d += x * x;
            }
            nearestSquare[p] = std::min(nearestSquare[p], d);
            sum += nearestSquare[p];
        }
        // All points on the centres already: any point will do.
        double target = random.uniform() * sum;
        size_t chosen = n - 1;
        for (size_t p = 0; p < n && sum > 0.0; ++p) {
            target -= nearestSquare[p];
            if (target < 0.0) {
                chosen = p;
                break;
            }
        }
        setCentre(static_cast<size_t>(c), chosen);
    }
    std::vector<double> sums(centres->size());
    std::vector<size_t> members(static_cast<size_t>(k));
    for (int round = 0; round < rounds; ++round) {
        bool moved = round == 0;
        for (size_t p = 0; p < n; ++p) {
            const int label = nearest(points.data() + p * dims, dims, *centres);
            moved = moved || label != labels[p];
            labels[p] = label;
        }
        if (!moved)
            break;
        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(members.begin(), members.end(), 0);
        for (size_t p = 0; p < n; ++p) {
            const size_t c = static_cast<size_t>(labels[p]);
            ++members[c];
            for (size_t i = 0; i < dims; ++i)
                sums[c * dims + i] += points[p * dims + i];
        }
        // A cluster left empty keeps its centre.
        for (size_t c = 0; c < members.size(); ++c) {
            for (size_t i = 0; members[c] > 0 && i < dims; ++i)
                (*centres)[c * dims + i] = sums[c * dims + i] / static_cast<double>(members[c]);
        }
    }
    return labels;
}
