#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// A slice of reconstructed values as a 32-bit float, single-sample,
// little-endian, uncompressed TIFF, built in memory so that the saver can write
// it atomically like every other result. The region's origin goes into
// XPosition/YPosition (resolution 1, no unit, so the positions read as pixels)
// and the metadata into ImageDescription; ImageJ/Fiji and tifffile show both.
class FloatTiff
{
public:
    int width = 0;
    int height = 0;
    double xPosition = 0.0;
    double yPosition = 0.0;
    QString description;
    // Row after row, width * height values.
    std::vector<float> values;

    // The file's bytes; empty (with a debug line) when the sizes do not match
    // the values or libtiff refuses.
    QByteArray encode() const;
    // Reads back a file written by encode() (any float32 one-sample TIFF of one
    // image); false with a debug line otherwise.
    static bool decode(const QByteArray &bytes, FloatTiff *out);
};
