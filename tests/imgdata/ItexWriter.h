#pragma once

// Writes small ITEX files for tests: the 64-byte header with "IM" and the
// comment length, the comment, and little-endian pixels.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ItexWriter {

inline QByteArray comment(int width, int height, int bytesPerPixel)
{
    return QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,")
        .arg(width)
        .arg(height)
        .arg(bytesPerPixel)
        .toUtf8();
}

inline QByteArray header(int commentLength)
{
    QByteArray h(64, '\0');
    h[0] = 'I';
    h[1] = 'M';
    h[2] = static_cast<char>(commentLength & 0xff);
    h[3] = static_cast<char>((commentLength >> 8) & 0xff);
    return h;
}

// Pixel values (rounded, clamped to the type's range) as little-endian bytes.
inline QByteArray pixelBytes(const std::vector<double> &values, int bytesPerPixel)
{
    QByteArray out;
    out.reserve(static_cast<int>(values.size()) * bytesPerPixel);
    const double top = bytesPerPixel == 2 ? 65535.0 : 4294967295.0;
    for (double v : values) {
        const double r = std::round(std::min(std::max(v, 0.0), top));
        const unsigned long long u = static_cast<unsigned long long>(r);
        for (int b = 0; b < bytesPerPixel; ++b)
            out.append(static_cast<char>((u >> (8 * b)) & 0xff));
    }
    return out;
}

inline bool writeRaw(const QString &path, const QByteArray &commentText, const QByteArray &pixels)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray all = header(commentText.size());
    all += commentText;
    all += pixels;
    return f.write(all) == all.size();
}

inline bool write(const QString &path, int width, int height, int bytesPerPixel,
                  const std::vector<double> &values)
{
    return writeRaw(path, comment(width, height, bytesPerPixel), pixelBytes(values, bytesPerPixel));
}

} // namespace ItexWriter
