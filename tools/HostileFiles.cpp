#include "HostileFiles.h"

#include "ItexWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void putLe16(QByteArray *out, quint16 v)
{
    out->append(static_cast<char>(v & 0xff));
    out->append(static_cast<char>(v >> 8));
}

void putLe32(QByteArray *out, quint32 v)
{
    for (int b = 0; b < 4; ++b)
        out->append(static_cast<char>((v >> (8 * b)) & 0xff));
}

// Bytes that look like compressed data to nobody: a fixed pseudo-random stream.
QByteArray noise(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    quint32 x = seed;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct TiffSeed
{
    const char *name;
    int bits;
    int format;
    int compression;
    int tile;
};

bool writeTiff(const QString &path, const TiffSeed &s)
{
    const int width = 37;
    const int height = 20;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int bps = s.bits / 8;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.format);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    std::vector<unsigned char> image(static_cast<size_t>(width * height * bps));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<unsigned char>((i * 7) / 5);
    bool ok = true;
    if (s.tile > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        std::vector<unsigned char> tile(static_cast<size_t>(s.tile * s.tile * bps));
        for (int ty = 0; ty < height; ty += s.tile)
            for (int tx = 0; tx < width; tx += s.tile) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(ty + s.tile, height); ++y)
                    for (int x = tx; x < std::min(tx + s.tile, width); ++x)
                        std::memcpy(tile.data() + ((y - ty) * s.tile + (x - tx)) * bps,
                                    image.data() + (y * width + x) * bps, bps);
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) > 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);
        for (int y = 0; y < height; ++y)
            ok = ok && TIFFWriteScanline(tif, image.data() + y * width * bps, y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

HostileFiles::TiffBuilder HostileFiles::TiffBuilder::grey(quint32 width, quint32 height,
                                                          quint32 bits, quint32 compression)
{
    TiffBuilder t;
    t.add(TIFFTAG_IMAGEWIDTH, width);
    t.add(TIFFTAG_IMAGELENGTH, height);
    t.add(TIFFTAG_BITSPERSAMPLE, bits);
    t.add(TIFFTAG_COMPRESSION, compression);
    t.add(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    t.add(TIFFTAG_SAMPLESPERPIXEL, 1);
    return t;
}

QByteArray HostileFiles::TiffBuilder::build(const QByteArray &payload) const
{
    QList<Entry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
    QByteArray out("II*\0", 4);
    const quint32 ifdOffset = static_cast<quint32>(8 + payload.size() + (payload.size() & 1));
    putLe32(&out, ifdOffset);
    out += payload;
    if (payload.size() & 1)
        out.append('\0');
    putLe16(&out, static_cast<quint16>(sorted.size()));
    for (const Entry &e : sorted) {
        putLe16(&out, e.tag);
        putLe16(&out, 4); // LONG
        putLe32(&out, 1);
        putLe32(&out, e.value);
    }
    putLe32(&out, 0);
    return out;
}

QByteArray HostileFiles::giantTile()
{
    TiffBuilder t = TiffBuilder::grey(64, 64, 8, COMPRESSION_NONE);
    t.add(TIFFTAG_TILEWIDTH, 1u << 20);
    t.add(TIFFTAG_TILELENGTH, 1u << 20);
    t.add(TIFFTAG_TILEOFFSETS, 8);
    t.add(TIFFTAG_TILEBYTECOUNTS, 4000);
    return t.build(noise(4000, 1));
}

QByteArray HostileFiles::smallTiledFuzz()
{
    TiffBuilder t = TiffBuilder::grey(600, 1000, 32, COMPRESSION_LZW);
    t.add(TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    t.add(TIFFTAG_TILEWIDTH, 65536);
    t.add(TIFFTAG_TILELENGTH, 65536);
    t.add(TIFFTAG_TILEOFFSETS, 8);
    t.add(TIFFTAG_TILEBYTECOUNTS, 580);
    QByteArray file = t.build(noise(580, 2));
    return file;
}

QByteArray HostileFiles::giantStrip()
{
    TiffBuilder t = TiffBuilder::grey(2048, 2048, 16, COMPRESSION_LZW);
    t.add(TIFFTAG_ROWSPERSTRIP, 2048);
    t.add(TIFFTAG_STRIPOFFSETS, 8);
    t.add(TIFFTAG_STRIPBYTECOUNTS, 0xfffffff0u);
    return t.build(noise(4096, 3));
}

QByteArray HostileFiles::lzwBomb()
{
    TiffBuilder t = TiffBuilder::grey(60000, 60000, 8, COMPRESSION_LZW);
    t.add(TIFFTAG_ROWSPERSTRIP, 60000);
    t.add(TIFFTAG_STRIPOFFSETS, 8);
    t.add(TIFFTAG_STRIPBYTECOUNTS, 1u << 20);
    return t.build(noise(1 << 20, 4));
}

QByteArray HostileFiles::itexOversized()
{
    const QByteArray comment = "Prop_ImageWidth=65536,Prop_ImageHeight=65536,BytesPerPixel=4,";
    QByteArray out = QByteArray("IM") + QByteArray(62, '\0');
    out[2] = static_cast<char>(comment.size());
    out += comment;
    out += noise(256, 5);
    return out;
}

QList<HostileFiles::Named> HostileFiles::all()
{
    return {{"giant-tile.tif", giantTile()},
            {"small-tiled-fuzz.tif", smallTiledFuzz()},
            {"giant-strip.tif", giantStrip()},
            {"lzw-bomb.tif", lzwBomb()},
            {"oversized.img", itexOversized()}};
}

bool HostileFiles::writeSeeds(const QString &folder)
{
    QDir root(folder);
    for (const char *kind : {"itex", "tiff", "batch", "config"})
        if (!root.mkpath(kind))
            return false;
    bool ok = true;

    for (int bytes : {2, 4}) {
        const int width = 6;
        const int height = 5;
        QByteArray pixels;
        for (int i = 0; i < width * height; ++i)
            for (int b = 0; b < bytes; ++b)
                pixels.append(static_cast<char>((i * 37 + b) & 0xff));
        const QByteArray comment =
            QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,"
                           "Prop_ExposureTime1=0.5,areSource=\"0,0,6,5\",")
                .arg(width)
                .arg(height)
                .arg(bytes)
                .toUtf8();
        QByteArray file = QByteArray("IM") + QByteArray(62, '\0');
        file[2] = static_cast<char>(comment.size());
        file += comment + pixels;
        ok = ok && writeFile(root.filePath(QStringLiteral("itex/%1bytes.img").arg(bytes)), file);
    }
    std::vector<quint16> demo(16 * 8);
    for (size_t i = 0; i < demo.size(); ++i)
        demo[i] = static_cast<quint16>(i * 311);
    ok = ok && ItexWriter::write(root.filePath("itex/demo.img"), 16, 8, demo);

    const TiffSeed tiffs[] = {
        {"u8-strips", 8, SAMPLEFORMAT_UINT, COMPRESSION_NONE, 0},
        {"u16-strips", 16, SAMPLEFORMAT_UINT, COMPRESSION_NONE, 0},
        {"u32-strips", 32, SAMPLEFORMAT_UINT, COMPRESSION_NONE, 0},
        {"f32-strips", 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, 0},
        {"u16-tiles", 16, SAMPLEFORMAT_UINT, COMPRESSION_NONE, 16},
        {"u16-lzw", 16, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 0},
        {"u8-lzw-tiles", 8, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 16},
        {"u16-deflate", 16, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE, 0},
        {"u8-packbits", 8, SAMPLEFORMAT_UINT, COMPRESSION_PACKBITS, 0},
    };
    for (const TiffSeed &s : tiffs)
        ok = ok && writeTiff(root.filePath(QStringLiteral("tiff/%1.tif").arg(s.name)), s);
    for (const Named &h : all())
        if (h.bytes.size() < 8192 && h.name.endsWith(".tif"))
            ok = ok && writeFile(root.filePath("tiff/" + h.name), h.bytes);

    const QByteArray scripts[] = {
        ":echo start\nimages_load \"/tmp/no such\" *.img # comment\n:ifok :goto L\nL\n:end\n",
        "ct_slice_from 1\nct_slice_to 5\r\nct_cor 12.5\rcalc_exec\n:ifng :stop\n",
        "auto_save_data_name ct\nauto_save_data_tag 7100eV\n'#' \"a # b\" \\\n:goto\n",
    };
    int n = 0;
    for (const QByteArray &s : scripts)
        ok = ok && writeFile(root.filePath(QStringLiteral("batch/script%1.bat").arg(n++)), s);
    const QByteArray configs[] = {
        "DataRoot \"/tmp/data root\" # where\nMemoryLimitMB 512\nINCLUDE missing.cfg\n",
        "-d /tmp\nct_threads 4\r\n  \t\nKey 'quoted # text'\n",
    };
    n = 0;
    for (const QByteArray &c : configs)
        ok = ok && writeFile(root.filePath(QStringLiteral("config/config%1.cfg").arg(n++)), c);
    return ok;
}
