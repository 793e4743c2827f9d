#include "ImgDataTiff.h"
#include "TiffSupport.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Compressed strips may legitimately expand a lot, but a few hundred bytes of a
// hostile file must not make us allocate gigabytes.
constexpr qint64 maxExpansion = 4096;

TiffSupport::Handle openTiff(const QString &fileName, qint64 maxAlloc)
{
    return TiffSupport::openFile(fileName, "r", maxAlloc);
}

ImgDataTiff::SampleKind kindOf(uint16_t bits, uint16_t format)
{
    using K = ImgDataTiff::SampleKind;
    if (format == SAMPLEFORMAT_UINT) {
        if (bits == 8)
            return K::U8;
        if (bits == 16)
            return K::U16;
        if (bits == 32)
            return K::U32;
    }
    if (format == SAMPLEFORMAT_IEEEFP && bits == 32)
        return K::F32;
    return K::None;
}

uint32_t roundUp16(uint32_t v)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(v) + 15) / 16 * 16);
}

// Tiles are at most the image rounded up to the 16-pixel grid tiles are laid on;
// a larger tile would make us allocate for pixels the image does not have.
bool tilesFit(TIFF *tif, uint32_t width, uint32_t height, int bytesPerSample)
{
    uint32_t tileW = 0;
    uint32_t tileH = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
    if (tileW < 1 || tileH < 1 || tileW > roundUp16(width) || tileH > roundUp16(height))
        return false;
    return TIFFTileSize64(tif) == static_cast<uint64_t>(tileW) * tileH * bytesPerSample;
}

} // namespace

ImgDataTiff::ImgDataTiff()
{
    clear();
}

void ImgDataTiff::clear()
{
    kind = SampleKind::None;
    fileBytes = 0;
    pixels.reset();
}

int ImgDataTiff::bytesPerSample() const
{
    switch (kind) {
    case SampleKind::U8:
        return 1;
    case SampleKind::U16:
        return 2;
    case SampleKind::U32:
    case SampleKind::F32:
        return 4;
    case SampleKind::None:
        break;
    }
    return 0;
}

bool ImgDataTiff::readProps(const QString &name, int *w, int *h)
{
    *w = 0;
    *h = 0;
    kind = SampleKind::None;
    const qint64 fileSize = QFileInfo(name).size();
    TiffSupport::Handle tif = openTiff(name, std::max<qint64>(fileSize, 1 << 20));
    if (!tif) {
        qDebug() << "Can not open TIFF file" << name;
        return false;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samples = 1;
    uint16_t bits = 1;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (samples != 1) {
        qDebug() << "TIFF file is not a greyscale image" << name;
        return false;
    }
    const SampleKind k = kindOf(bits, format);
    if (k == SampleKind::None) {
        qDebug() << "Unsupported TIFF sample format" << name;
        return false;
    }
    if (width < 1 || height < 1 || width > INT_MAX || height > INT_MAX) {
        qDebug() << "Wrong TIFF image size" << name;
        return false;
    }
    kind = k;
    const qint64 pixelBytes = static_cast<qint64>(width) * height * bytesPerSample();
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    const qint64 limit = compression == COMPRESSION_NONE ? fileSize : fileSize * maxExpansion;
    if (pixelBytes > limit) {
        qDebug() << "TIFF file is shorter than its image size" << name;
        kind = SampleKind::None;
        return false;
    }
    if (TIFFIsTiled(tif.get()) && !tilesFit(tif.get(), width, height, bytesPerSample())) {
        qDebug() << "TIFF tile larger than its image" << name;
        kind = SampleKind::None;
        return false;
    }
    fileBytes = fileSize;
    *w = static_cast<int>(width);
    *h = static_cast<int>(height);
    return true;
}

bool ImgDataTiff::loadData()
{
    pixels.reset();
    const int bps = bytesPerSample();
    if (bps == 0 || width < 1 || height < 1)
        return false;
    const qint64 total = static_cast<qint64>(width) * height * bps;
    // libtiff may allocate no single block larger than the decoded image: its raw
    // buffer for one compressed strip or tile stays within what the image justifies.
    TiffSupport::Handle tif = openTiff(fileName, std::max<qint64>(total, 1 << 20));
    if (!tif) {
        qDebug() << "Can not open TIFF file" << fileName;
        return false;
    }
    if (mapFrames && mapStrips(tif.get(), total))
        return true;
    // Pages are made as strips are decoded: data that claims a huge image and
    // fails early costs only what it decoded.
    if (!allocatePixels(&pixels, total, false))
        return false;
    const bool ok = TIFFIsTiled(tif.get()) ? readTiles(tif.get()) : readStrips(tif.get());
    if (!ok) {
        qDebug() << "Can not read TIFF pixels" << fileName;
        pixels.reset();
    }
    return ok;
}

// Uncompressed strips that follow one another in the file, in the machine's
// byte order, are the image as it lies in memory: they are mapped read-only
// instead of copied. Anything else is read the usual way, which also gives the
// diagnostics for a damaged file.
bool ImgDataTiff::mapStrips(::TIFF *tif, qint64 total)
{
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (TIFFIsTiled(tif) || compression != COMPRESSION_NONE ||
        (bytesPerSample() > 1 && TIFFIsByteSwapped(tif)))
        return false;
    const int fd = TIFFFileno(tif);
    struct stat info = {};
    // The file may have changed since its header was read: its size now decides.
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 0)
        return false;
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    const uint64_t rowBytes = static_cast<uint64_t>(width) * bytesPerSample();
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, static_cast<uint32_t>(height));
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    const uint64_t start = strips > 0 ? TIFFGetStrileOffset(tif, 0) : 0;
    if (start == 0 || start > fileSize || fileSize - start < static_cast<uint64_t>(total))
        return false;
    for (uint32_t y = 0; y < static_cast<uint32_t>(height); y += rowsPerStrip) {
        const uint64_t rows = std::min<uint32_t>(rowsPerStrip, height - y);
        const tstrip_t s = TIFFComputeStrip(tif, y, 0);
        if (s >= strips || TIFFGetStrileOffset(tif, s) != start + y * rowBytes ||
            TIFFGetStrileByteCount(tif, s) < rows * rowBytes)
            return false;
    }
    return pixels.mapFile(fd, static_cast<qint64>(start), static_cast<size_t>(total));
}

// Compressed data is decoded one strip or tile at a time straight into the
// image, so the memory a file can claim is the image's own size.
bool ImgDataTiff::readStrips(::TIFF *tif)
{
    const qint64 rowBytes = static_cast<qint64>(width) * bytesPerSample();
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, static_cast<uint32_t>(height));
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    for (uint32_t y = 0; y < static_cast<uint32_t>(height); y += rowsPerStrip) {
        const qint64 rows = std::min<uint32_t>(rowsPerStrip, height - y);
        const tstrip_t s = TIFFComputeStrip(tif, y, 0);
        if (s >= strips || !strileFits(tif, s))
            return false;
        // libtiff never writes more than the size it is given.
        if (TIFFReadEncodedStrip(tif, s, pixels.data() + y * rowBytes,
                                 static_cast<tmsize_t>(rows * rowBytes)) < 0)
            return false;
    }
    return true;
}

bool ImgDataTiff::readTiles(::TIFF *tif)
{
    const int bps = bytesPerSample();
    const qint64 rowBytes = static_cast<qint64>(width) * bps;
    if (!tilesFit(tif, width, height, bps))
        return false;
    uint32_t tileW = 0;
    uint32_t tileH = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
    const tmsize_t tileBytes = static_cast<tmsize_t>(tileW) * tileH * bps;
    // A tile of a narrow image may be several times the image: it is charged too.
    PixelBuffer tileBuffer;
    if (!allocatePixels(&tileBuffer, tileBytes, false))
        return false;
    unsigned char *const tile = tileBuffer.data();
    const ttile_t tiles = TIFFNumberOfTiles(tif);
    for (uint32_t ty = 0; ty < static_cast<uint32_t>(height); ty += tileH) {
        for (uint32_t tx = 0; tx < static_cast<uint32_t>(width); tx += tileW) {
            const ttile_t t = TIFFComputeTile(tif, tx, ty, 0, 0);
            if (t >= tiles || !strileFits(tif, t) ||
                TIFFReadEncodedTile(tif, t, tile, tileBytes) < 0)
                return false;
            const uint32_t cols = std::min<uint32_t>(tileW, width - tx);
            const uint32_t rows = std::min<uint32_t>(tileH, height - ty);
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(pixels.data() + (ty + r) * rowBytes + qint64(tx) * bps,
                            tile + qint64(r) * tileW * bps, static_cast<size_t>(cols) * bps);
        }
    }
    return true;
}

// A strip or tile's stored bytes lie in the file; a count beyond its end is a
// damaged or hostile file, refused before libtiff reserves room for it.
bool ImgDataTiff::strileFits(::TIFF *tif, uint32_t strile) const
{
    const uint64_t offset = TIFFGetStrileOffset(tif, strile);
    const uint64_t count = TIFFGetStrileByteCount(tif, strile);
    const uint64_t size = static_cast<uint64_t>(std::max<qint64>(fileBytes, 0));
    if (count <= size && offset <= size - count)
        return true;
    qDebug() << "TIFF strip or tile beyond the end of the file" << fileName
             << QStringLiteral("%1 bytes at %2 in %3").arg(count).arg(offset).arg(size);
    return false;
}

double ImgDataTiff::sampleAt(const unsigned char *p) const
{
    switch (kind) {
    case SampleKind::U8:
        return p[0];
    case SampleKind::U16: {
        uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case SampleKind::U32: {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case SampleKind::F32: {
        float v;
        std::memcpy(&v, p, sizeof v);
        // A NaN or infinite sample would spread through the logarithm and the
        // FFT over a whole slice; it reads as 0 like any other unusable value.
        return std::isfinite(v) ? v : 0.0;
    }
    case SampleKind::None:
        break;
    }
    return 0.0;
}

double *ImgDataTiff::getLine(int y, double *buf) const
{
    if (y < 0 || y >= height || !pixels) {
        std::fill(buf, buf + width, 0.0);
        return buf;
    }
    const int bps = bytesPerSample();
    const unsigned char *p = pixels.data() + static_cast<qint64>(y) * width * bps;
    for (int x = 0; x < width; ++x, p += bps)
        buf[x] = sampleAt(p);
    return buf;
}

double *ImgDataTiff::getColumn(int x, double *buf) const
{
    if (x < 0 || x >= width || !pixels) {
        std::fill(buf, buf + height, 0.0);
        return buf;
    }
    const int bps = bytesPerSample();
    for (int y = 0; y < height; ++y)
        buf[y] = sampleAt(pixels.data() + (static_cast<qint64>(y) * width + x) * bps);
    return buf;
}
