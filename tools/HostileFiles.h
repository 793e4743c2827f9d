#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files that once took the program down, and small valid files of every layout
// the readers know. The regression tests write the first kind; the fuzz targets
// start from the second kind.
namespace HostileFiles {

// A classic little-endian TIFF assembled entry by entry, so that a file can say
// what no writing library would let it say.
class TiffBuilder
{
public:
    // A greyscale image of one sample per pixel: size, depth and compression.
    static TiffBuilder grey(quint32 width, quint32 height, quint32 bits, quint32 compression);
    void add(quint16 tag, quint32 value) { entries.append({tag, value}); }
    // The file: header, `payload` at offset 8, then the directory. Offsets that
    // point into the payload are written as 8 + position.
    QByteArray build(const QByteArray &payload) const;

private:
    struct Entry
    {
        quint16 tag;
        quint32 value;
    };
    QList<Entry> entries;
};

// 4 KiB declaring a 64 x 64 image in one 2^20 x 2^20 tile.
QByteArray giantTile();
// A 728-byte tiled float image whose one tile is 65536 x 65536.
QByteArray smallTiledFuzz();
// An LZW image of 2048 x 2048 whose one strip claims 4 GiB.
QByteArray giantStrip();
// About 1 MiB of LZW data claiming 60000 x 60000 8-bit pixels.
QByteArray lzwBomb();
// ITEX headers that claim more than the file holds.
QByteArray itexOversized();

struct Named
{
    QString name;
    QByteArray bytes;
};
// The hostile files above, named "<what>.tif" / ".img".
QList<Named> all();

// Small valid inputs for the fuzz corpora: ITEX (16 and 32 bit), TIFF (8/16/32-bit,
// float, strips, tiles, LZW, Deflate, PackBits), batch scripts and configurations.
// Writes them into `folder`, one sub folder per kind ("itex", "tiff", "batch",
// "config"); false when a file can not be written.
bool writeSeeds(const QString &folder);

} // namespace HostileFiles
