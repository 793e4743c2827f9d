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
enum class Commit {
    Synced,  // on disk when write returns
    Renamed, // written beside and renamed into place: whole or absent, left to the
             // system's write-back (the caller syncs the lot once)
};

// pixels holds width * height values. False (with a debug message) when the size is
// out of the format's range or the file can not be written.
bool write(const QString &filePath, int width, int height, const std::vector<quint16> &pixels,
           Commit commit = Commit::Synced);

} // namespace ItexWriter
