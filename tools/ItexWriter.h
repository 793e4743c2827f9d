#pragma once

#include <QString>

#include <vector>

// Writes 16-bit images in the ITEX camera layout that the program reads: a 64-byte
// header ("IM", comment length, size), a comment of comma-terminated "Key=value"
// items, then the pixels row after row as little-endian unsigned 16-bit values.
namespace ItexWriter {

// The comment of an image of the given size; every item ends with a comma because
// the reader evaluates an item only when its comma arrives.
QByteArray comment(int width, int height);
// pixels holds width * height values. False (with a debug message) when the size is
// out of the format's range or the file can not be written.
bool write(const QString &filePath, int width, int height, const std::vector<quint16> &pixels);

} // namespace ItexWriter
