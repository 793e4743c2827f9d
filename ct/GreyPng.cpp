#include "GreyPng.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void appendBigEndian(QByteArray &out, quint32 value)
{
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray &out, const char type[4], const unsigned char *data, size_t size)
{
    appendBigEndian(out, static_cast<quint32>(size));
    const qsizetype start = out.size();
    out.append(type, 4);
    if (size > 0)
        out.append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // The checksum covers the type and the data.
    appendBigEndian(
        out, static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(out.constData() + start),
                                        static_cast<uInt>(size + 4))));
}

} // namespace

QByteArray GreyPng::encode(const QImage &image)
{
    if (image.isNull() || image.format() != QImage::Format_Grayscale8)
        return {};
    const size_t width = static_cast<size_t>(image.width());
    const size_t height = static_cast<size_t>(image.height());

    // Each row: the filter type, then the differences to the row above (the
    // first row has none above and is stored as it is).
    std::vector<unsigned char> rows((width + 1) * height);
    for (size_t y = 0; y < height; ++y) {
        unsigned char *row = &rows[y * (width + 1)];
        const uchar *line = image.constScanLine(static_cast<int>(y));
        if (y == 0) {
            row[0] = 0;
            std::memcpy(row + 1, line, width);
            continue;
        }
        const uchar *above = image.constScanLine(static_cast<int>(y - 1));
        row[0] = 2;
        for (size_t x = 0; x < width; ++x)
            row[1 + x] = static_cast<unsigned char>(line[x] - above[x]);
    }

    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK)
        return {};
    std::vector<unsigned char> packed(deflateBound(&stream, static_cast<uLong>(rows.size())));
    // One call per block of input keeps every length inside zlib's 32-bit counters.
    const size_t block = size_t(1) << 30;
    size_t done = 0;
    int status = Z_OK;
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(std::min(packed.size(), block));
    while (status == Z_OK) {
        const size_t take = std::min(rows.size() - done, block);
        stream.next_in = rows.data() + done;
        stream.avail_in = static_cast<uInt>(take);
        done += take;
        status = deflate(&stream, done == rows.size() ? Z_FINISH : Z_NO_FLUSH);
        if (stream.avail_out == 0 && status == Z_OK) {
            const size_t used = static_cast<size_t>(stream.next_out - packed.data());
            stream.avail_out = static_cast<uInt>(std::min(packed.size() - used, block));
        }
    }
    const size_t packedSize = static_cast<size_t>(stream.next_out - packed.data());
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        return {};

    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    unsigned char header[13] = {};
    const quint32 w = static_cast<quint32>(width);
    const quint32 h = static_cast<quint32>(height);
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<unsigned char>(w >> (24 - 8 * i));
        header[4 + i] = static_cast<unsigned char>(h >> (24 - 8 * i));
    }
    header[8] = 8; // bit depth; colour type 0 (grey), deflate, no interlace
    appendChunk(out, "IHDR", header, sizeof header);
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        unsigned char density[9] = {};
        const quint32 dx = static_cast<quint32>(image.dotsPerMeterX());
        const quint32 dy = static_cast<quint32>(image.dotsPerMeterY());
        for (int i = 0; i < 4; ++i) {
            density[i] = static_cast<unsigned char>(dx >> (24 - 8 * i));
            density[4 + i] = static_cast<unsigned char>(dy >> (24 - 8 * i));
        }
        density[8] = 1; // per metre
        appendChunk(out, "pHYs", density, sizeof density);
    }
    // Readers take any number of IDAT chunks; each holds less than 2^31 bytes.
    const size_t chunkLimit = size_t(1) << 30;
    size_t at = 0;
    do {
        const size_t take = std::min(chunkLimit, packedSize - at);
        appendChunk(out, "IDAT", packed.data() + at, take);
        at += take;
    } while (at < packedSize);
    appendChunk(out, "IEND", nullptr, 0);
    return out;
}
