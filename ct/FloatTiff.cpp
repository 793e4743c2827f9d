#include "FloatTiff.h"

#include "imgdata/TiffSupport.h"

#include <QDebug>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// libtiff reaches the bytes through these procedures: a growing buffer for
// writing, a fixed one for reading.
struct MemoryFile
{
    std::vector<char> bytes;
    toff_t position = 0;
};

tmsize_t memoryRead(thandle_t handle, void *buffer, tmsize_t size)
{
    auto *file = static_cast<MemoryFile *>(handle);
    if (size <= 0 || file->position >= file->bytes.size())
        return 0;
    const tmsize_t count =
        std::min<tmsize_t>(size, static_cast<tmsize_t>(file->bytes.size() - file->position));
    std::memcpy(buffer, file->bytes.data() + file->position, static_cast<size_t>(count));
    file->position += static_cast<toff_t>(count);
    return count;
}

tmsize_t memoryWrite(thandle_t handle, void *buffer, tmsize_t size)
{
    auto *file = static_cast<MemoryFile *>(handle);
    if (size <= 0)
        return 0;
    const size_t end = static_cast<size_t>(file->position) + static_cast<size_t>(size);
    if (end > file->bytes.size())
        file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->position, buffer, static_cast<size_t>(size));
    file->position = end;
    return size;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence)
{
    auto *file = static_cast<MemoryFile *>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->bytes.size();
    file->position = base + offset;
    return file->position;
}

int memoryClose(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t handle)
{
    return static_cast<MemoryFile *>(handle)->bytes.size();
}

int noMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void noUnmap(thandle_t, void *, toff_t) {}

TiffSupport::Handle openMemory(MemoryFile *file, const char *mode)
{
    TIFFOpenOptions *options = TiffSupport::newOptions();
    TIFF *tif = TIFFClientOpenExt("result", mode, file, &memoryRead, &memoryWrite, &memorySeek,
                                  &memoryClose, &memorySize, &noMap, &noUnmap, options);
    TIFFOpenOptionsFree(options);
    return TiffSupport::Handle(tif);
}

} // namespace

QByteArray FloatTiff::encode() const
{
    if (width < 1 || height < 1 ||
        values.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        qDebug() << "Float TIFF size does not match its values (width, height, count)" << width
                 << height << values.size();
        return {};
    }
    MemoryFile file;
    {
        // "l": little-endian whatever the host.
        TiffSupport::Handle tif = openMemory(&file, "wl");
        if (!tif)
            return {};
        TIFF *t = tif.get();
        const QByteArray text = description.toUtf8();
        bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
                  TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
                  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1)) &&
                  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(32)) &&
                  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP)) &&
                  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE)) &&
                  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK)) &&
                  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
                  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(height)) &&
                  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_NONE)) &&
                  TIFFSetField(t, TIFFTAG_XRESOLUTION, 1.0f) &&
                  TIFFSetField(t, TIFFTAG_YRESOLUTION, 1.0f) &&
                  TIFFSetField(t, TIFFTAG_XPOSITION, float(xPosition)) &&
                  TIFFSetField(t, TIFFTAG_YPOSITION, float(yPosition));
        if (ok && !text.isEmpty())
            ok = TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, text.constData());
        for (int row = 0; ok && row < height; ++row) {
            // libtiff may swap bytes in place on big-endian hosts: hand it a copy.
            std::vector<float> line(values.begin() + static_cast<size_t>(row) * width,
                                    values.begin() + static_cast<size_t>(row + 1) * width);
            ok = TIFFWriteScanline(t, line.data(), uint32_t(row), 0) == 1;
        }
        if (!ok) {
            qDebug() << "Can not encode float TIFF of size" << width << height;
            return {};
        }
        // Closing writes the directory.
    }
    return QByteArray(file.bytes.data(), static_cast<qsizetype>(file.bytes.size()));
}

bool FloatTiff::decode(const QByteArray &bytes, FloatTiff *out)
{
    MemoryFile file;
    file.bytes.assign(bytes.constData(), bytes.constData() + bytes.size());
    TiffSupport::Handle tif = openMemory(&file, "rm");
    if (!tif)
        return false;
    TIFF *t = tif.get();
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, samples = 0, format = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    if (bits != 32 || samples != 1 || format != SAMPLEFORMAT_IEEEFP || w < 1 || h < 1 ||
        TIFFScanlineSize(t) != tmsize_t(w) * 4 || qint64(w) * h > (qint64(1) << 28)) {
        qDebug() << "Not a one-sample float TIFF (width, height, bits, samples, format)" << w << h
                 << bits << samples << format;
        return false;
    }
    FloatTiff image;
    image.width = int(w);
    image.height = int(h);
    image.values.resize(size_t(w) * h);
    for (uint32_t row = 0; row < h; ++row)
        if (TIFFReadScanline(t, image.values.data() + size_t(row) * w, row, 0) != 1)
            return false;
    float position = 0.0f;
    if (TIFFGetField(t, TIFFTAG_XPOSITION, &position))
        image.xPosition = position;
    if (TIFFGetField(t, TIFFTAG_YPOSITION, &position))
        image.yPosition = position;
    const char *text = nullptr;
    if (TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &text) && text)
        image.description = QString::fromUtf8(text);
    *out = std::move(image);
    return true;
}
