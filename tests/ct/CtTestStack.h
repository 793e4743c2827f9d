#pragma once

#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "imgdata/ImgDatas.h"
#include "tests/imgdata/ItexWriter.h"

#include <QTemporaryDir>
#include <QVector>

#include <cmath>
#include <vector>

// A small scan written as 16-bit ITEX files and loaded into a stack: two discs of
// different attenuation, off the rotation centre, seen over 180 degrees; every
// image row is a slice (vertical rotation axis) and the rows differ in contrast.
class CtTestStack
{
public:
    static constexpr double pi = 3.141592653589793;

    bool make(int width, int rows, int count, double cor)
    {
        if (!dir.isValid())
            return false;
        this->width = width;
        this->rows = rows;
        this->count = count;
        for (int i = 0; i < count; ++i) {
            const QString name =
                dir.filePath(QStringLiteral("p-%1.img").arg(i, 5, 10, QLatin1Char('0')));
            if (!ItexWriter::write(name, width, rows, 2, projection(i, cor)) ||
                !stack.addFile(name))
                return false;
        }
        return stack.count() == count;
    }

    ImgDatas stack;
    int width = 0;
    int rows = 0;
    int count = 0;

private:
    std::vector<double> projection(int i, double cor) const
    {
        const double theta = i * pi / count;
        std::vector<double> pixels(size_t(width) * size_t(rows));
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < width; ++x) {
                const double u = x - cor;
                double path = 0.08 * chord(u, 6.0, -3.0, 0.22 * width, theta) +
                              (0.05 + 0.02 * y) * chord(u, -0.1 * width, 4.0, 4.0, theta);
                pixels[size_t(y) * width + x] = std::round(50000.0 * std::exp(-path));
            }
        }
        return pixels;
    }

    // Length of the line at detector position u through a disc of radius r at (a, b).
    static double chord(double u, double a, double b, double r, double theta)
    {
        const double d = u - (a * std::cos(theta) - b * std::sin(theta));
        return d * d < r * r ? 2.0 * std::sqrt(r * r - d * d) : 0.0;
    }

    QTemporaryDir dir;
};

// The values of the core's own reconstruction of the same sinogram over (0, 0, N, N).
inline QVector<double> coreResult(const ImgDatas &stack, double cor, int slice, double x0 = 0,
                                  double z0 = 0, double x1 = -1, double z1 = -1)
{
    HSgm hSgm;
    if (!genSinogram0(&hSgm, stack, true, cor, slice))
        return {};
    const int n = hSgm.width / 2 * 2;
    CtFbp core;
    if (!core.setup(n, hSgm.height))
        return {};
    if (x1 < 0) {
        x1 = n;
        z1 = n;
    }
    core.reconstruct(hSgm.sgm.data(), hSgm.width, hSgm.height, x0, x1, z0, z1);
    return QVector<double>(core.resultRow(0), core.resultRow(0) + qsizetype(n) * n);
}

// The CT1 values after its first `steps` projections, over (0, 0, N, N).
inline QVector<double> ct1PartialResult(const ImgDatas &stack, double cor, int slice, int steps)
{
    HSgm hSgm;
    if (!genSinogram0(&hSgm, stack, true, cor, slice))
        return {};
    const int n = hSgm.width / 2 * 2;
    const int p = hSgm.height;
    CtFbp core;
    if (!core.setup(n, p))
        return {};
    core.initResult(n);
    std::vector<double> row(static_cast<size_t>(n));
    for (int i = 0; i < steps; ++i) {
        for (int k = 0; k < n; ++k)
            row[k] = hSgm.sgmRow(i)[k] / p;
        core.fftRow(row.data(), i);
        core.filterRow(i);
        core.backProject(i, 0, n, 0, n);
    }
    return QVector<double>(core.resultRow(0), core.resultRow(0) + qsizetype(n) * n);
}
