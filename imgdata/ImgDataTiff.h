#pragma once

#include "ImgData.h"
#include "PixelBuffer.h"

#include <QString>

#include <cstdint>

struct tiff;

// Greyscale TIFF files through libtiff: one sample per pixel of 8, 16 or 32-bit
// unsigned integers or 32-bit floats, in strips or tiles; only the first page.
class ImgDataTiff : public ImgData
{
public:
    enum class SampleKind { None, U8, U16, U32, F32 };

    ImgDataTiff();

    void clear() override;
    bool readProps(const QString &fileName, int *width, int *height) override;
    bool loadData() override;
    double *getLine(int y, double *buf) const override;
    double *getColumn(int x, double *buf) const override;
    const PixelBuffer *pixelBuffer() const override { return &pixels; }

    SampleKind kind = SampleKind::None;
    // The samples in the machine's byte order, row after row: mapped from the
    // file when it holds them so (uncompressed strips one after the other, in
    // the machine's byte order), decoded into memory otherwise.
    PixelBuffer pixels;

private:
    int bytesPerSample() const;
    bool readTiles(tiff *tif);
    bool readStrips(tiff *tif);
    bool mapStrips(tiff *tif, qint64 total);
    bool strileFits(tiff *tif, uint32_t strile) const;

    qint64 fileBytes = 0;
    double sampleAt(const unsigned char *p) const;
};
