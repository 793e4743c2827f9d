#pragma once

#include "imgdata/ImgDatas.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

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
            if (!write(name, projection(i, cor)) || !stack.addFile(name))
                return false;
        }
        return stack.count() == count;
    }

    ImgDatas stack;
    int width = 0;
    int rows = 0;
    int count = 0;

private:
    std::vector<quint16> projection(int i, double cor) const
    {
        const double theta = i * pi / count;
        std::vector<quint16> pixels(size_t(width) * size_t(rows));
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < width; ++x) {
                const double u = x - cor;
                double path = 0.08 * chord(u, 6.0, -3.0, 0.22 * width, theta) +
                              (0.05 + 0.02 * y) * chord(u, -0.1 * width, 4.0, 4.0, theta);
                pixels[size_t(y) * width + x] = quint16(std::lround(50000.0 * std::exp(-path)));
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

    bool write(const QString &fileName, const std::vector<quint16> &pixels) const
    {
        const QByteArray comment = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,"
                                                  "BytesPerPixel=2,Prop_ExposureTime1=1,")
                                       .arg(width)
                                       .arg(rows)
                                       .toLatin1();
        QByteArray bytes(64, '\0');
        bytes[0] = 'I';
        bytes[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), bytes.data() + 2);
        qToLittleEndian<quint16>(quint16(width), bytes.data() + 4);
        qToLittleEndian<quint16>(quint16(rows), bytes.data() + 6);
        qToLittleEndian<quint16>(2, bytes.data() + 12);
        bytes += comment;
        const qsizetype start = bytes.size();
        bytes.resize(start + qsizetype(pixels.size()) * 2);
        qToLittleEndian<quint16>(pixels.data(), qsizetype(pixels.size()), bytes.data() + start);
        QFile file(fileName);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    QTemporaryDir dir;
};
