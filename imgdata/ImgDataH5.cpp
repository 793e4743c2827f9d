#include "ImgDataH5.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

template<typename T>
double sampleOf(const unsigned char *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

} // namespace

int ImgDataH5::bytesPerSample(SampleKind sampleKind)
{
    switch (sampleKind) {
    case SampleKind::U8:
    case SampleKind::I8:
        return 1;
    case SampleKind::U16:
    case SampleKind::I16:
        return 2;
    case SampleKind::U32:
    case SampleKind::I32:
    case SampleKind::F32:
        return 4;
    case SampleKind::F64:
        return 8;
    case SampleKind::None:
        break;
    }
    return 0;
}

bool ImgDataH5::allocate(const QString &source, int frameWidth, int frameHeight,
                         SampleKind sampleKind)
{
    clear();
    fileName = source;
    const int bps = bytesPerSample(sampleKind);
    if (frameWidth < 1 || frameHeight < 1 || bps == 0)
        return false;
    if (!allocatePixels(&pixels, qint64(frameWidth) * frameHeight * bps, false))
        return false;
    width = frameWidth;
    height = frameHeight;
    kind = sampleKind;
    return true;
}

void ImgDataH5::clear()
{
    pixels.reset();
    kind = SampleKind::None;
    isOk = false;
}

bool ImgDataH5::readProps(const QString &, int *frameWidth, int *frameHeight)
{
    *frameWidth = width;
    *frameHeight = height;
    return static_cast<bool>(pixels);
}

double ImgDataH5::sampleAt(const unsigned char *p) const
{
    switch (kind) {
    case SampleKind::U8:
        return p[0];
    case SampleKind::I8:
        return sampleOf<int8_t>(p);
    case SampleKind::U16:
        return sampleOf<uint16_t>(p);
    case SampleKind::I16:
        return sampleOf<int16_t>(p);
    case SampleKind::U32:
        return sampleOf<uint32_t>(p);
    case SampleKind::I32:
        return sampleOf<int32_t>(p);
    case SampleKind::F32:
    case SampleKind::F64: {
        const double v = kind == SampleKind::F32 ? sampleOf<float>(p) : sampleOf<double>(p);
        // A NaN or infinite sample would spread through the logarithm and the
        // FFT over a whole slice; it reads as 0 as it does from a TIFF file.
        return std::isfinite(v) ? v : 0.0;
    }
    case SampleKind::None:
        break;
    }
    return 0.0;
}

double *ImgDataH5::getLine(int y, double *buf) const
{
    if (y < 0 || y >= height || !pixels) {
        std::fill(buf, buf + width, 0.0);
        return buf;
    }
    const int bps = bytesPerSample(kind);
    const unsigned char *p = pixels.data() + static_cast<qint64>(y) * width * bps;
    for (int x = 0; x < width; ++x, p += bps)
        buf[x] = sampleAt(p);
    return buf;
}

double *ImgDataH5::getColumn(int x, double *buf) const
{
    if (x < 0 || x >= width || !pixels) {
        std::fill(buf, buf + height, 0.0);
        return buf;
    }
    const int bps = bytesPerSample(kind);
    for (int y = 0; y < height; ++y)
        buf[y] = sampleAt(pixels.data() + (static_cast<qint64>(y) * width + x) * bps);
    return buf;
}
