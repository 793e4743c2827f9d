#pragma once

#include "ImgData.h"
#include "PixelBuffer.h"

#include <QString>

#include <memory>

// Camera files of the ITEX layout: a 64-byte header whose bytes 2-3 give the
// comment length L, an L-byte comment of comma-separated "Key=value" items, then
// the pixels as little-endian unsigned 16- or 32-bit integers, row after row.
class ImgDataITEX : public ImgData
{
public:
    ImgDataITEX();

    void clear() override;
    bool readProps(const QString &fileName, int *width, int *height) override;
    bool loadData() override;
    double *getLine(int y, double *buf) const override;
    double *getColumn(int x, double *buf) const override;
    const PixelBuffer *pixelBuffer() const override { return &pixels; }

    qint64 dataOffset = 0;
    int bytesPerPixel = 0;
    // The pixel block, mapped from the file or read into memory.
    PixelBuffer pixels;

private:
    struct Header;
    void evaluateItem(const QString &item, Header *header) const;
    double pixelAt(qint64 index) const;
};
