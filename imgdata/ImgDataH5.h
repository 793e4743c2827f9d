#pragma once

#include "ImgData.h"
#include "PixelBuffer.h"

// One frame taken from an HDF5 dataset, or the average of several: the reader
// fills it whole, so there is no file left to open. Samples stay in the type the
// dataset stores them in (integers of 8 to 32 bits, 32 or 64-bit floats), so a
// stack of 16-bit frames costs what it costs as TIFF files.
class ImgDataH5 : public ImgData
{
public:
    enum class SampleKind { None, U8, I8, U16, I16, U32, I32, F32, F64 };

    ImgDataH5() = default;

    // Makes room for a width x height frame of `kind` samples, charged to the
    // memory budget; false, with the budget's message naming `source`, when it
    // does not fit.
    bool allocate(const QString &source, int frameWidth, int frameHeight, SampleKind sampleKind);
    static int bytesPerSample(SampleKind sampleKind);

    void clear() override;
    bool readProps(const QString &name, int *frameWidth, int *frameHeight) override;
    bool loadData() override { return static_cast<bool>(pixels); }
    double *getLine(int y, double *buf) const override;
    double *getColumn(int x, double *buf) const override;
    const PixelBuffer *pixelBuffer() const override { return &pixels; }
    unsigned char *data() const { return pixels.data(); }

    SampleKind kind = SampleKind::None;

private:
    double sampleAt(const unsigned char *p) const;
    PixelBuffer pixels;
};
