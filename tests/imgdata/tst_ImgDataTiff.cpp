#include "imgdata/ImgData.h"
#include "imgdata/ImgDataTiff.h"
#include "imgdata/ImgDatas.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <cstring>
#include <memory>

using TestSupport::MessageLog;

namespace {

struct TiffSpec
{
    int width = 5;
    int height = 3;
    int bits = 16;
    int format = SAMPLEFORMAT_UINT;
    int samples = 1;
    int tile = 0; // tile edge (multiple of 16); 0 for strips
    int compression = COMPRESSION_NONE;
    int rowsPerStrip = 2;
    bool stripsBackwards = false; // last strip first in the file
};

// The test value of pixel (x, y) for a sample type.
double valueAt(const TiffSpec &s, int x, int y)
{
    const double v = y * 1000.0 + x * 7.0;
    if (s.format == SAMPLEFORMAT_IEEEFP)
        return v / 4.0 - 3.5; // exact in float
    if (s.bits == 8)
        return static_cast<double>((y * 31 + x * 5) % 256);
    if (s.bits == 32)
        return 4294967295.0 - v;
    return v;
}

void putSample(const TiffSpec &s, double v, unsigned char *out)
{
    if (s.format == SAMPLEFORMAT_IEEEFP) {
        const float f = static_cast<float>(v);
        std::memcpy(out, &f, 4);
    } else if (s.bits == 8) {
        out[0] = static_cast<unsigned char>(v);
    } else if (s.bits == 16) {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(out, &u, 2);
    } else {
        const uint32_t u = static_cast<uint32_t>(v);
        std::memcpy(out, &u, 4);
    }
}

bool writeTiff(const QString &path, const TiffSpec &s)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int bps = s.bits / 8;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.format);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 s.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    bool ok = true;
    if (s.tile > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        std::vector<unsigned char> tile(static_cast<size_t>(s.tile * s.tile * bps), 0);
        for (int ty = 0; ty < s.height; ty += s.tile)
            for (int tx = 0; tx < s.width; tx += s.tile) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(ty + s.tile, s.height); ++y)
                    for (int x = tx; x < std::min(tx + s.tile, s.width); ++x)
                        putSample(s, valueAt(s, x, y),
                                  tile.data() + ((y - ty) * s.tile + (x - tx)) * bps);
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) > 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
        const int rowBytes = s.width * s.samples * bps;
        std::vector<unsigned char> strip(static_cast<size_t>(rowBytes * s.rowsPerStrip));
        const int strips = (s.height + s.rowsPerStrip - 1) / s.rowsPerStrip;
        for (int k = 0; k < strips; ++k) {
            const int n = s.stripsBackwards ? strips - 1 - k : k;
            const int rows = std::min(s.rowsPerStrip, s.height - n * s.rowsPerStrip);
            for (int r = 0; r < rows; ++r)
                for (int x = 0; x < s.width; ++x)
                    for (int c = 0; c < s.samples; ++c)
                        putSample(s, valueAt(s, x, n * s.rowsPerStrip + r),
                                  strip.data() + r * rowBytes + (x * s.samples + c) * bps);
            ok = ok && TIFFWriteEncodedStrip(tif, n, strip.data(), rows * rowBytes) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

Q_DECLARE_METATYPE(TiffSpec)

class tst_ImgDataTiff : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void reads_data();
    void reads();
    void refused_data();
    void refused();
    void mappedStripsMatchCopied_data();
    void mappedStripsMatchCopied();

private:
    QTemporaryDir dir;
};

void tst_ImgDataTiff::reads_data()
{
    QTest::addColumn<TiffSpec>("spec");
    TiffSpec s;
    s.bits = 8;
    QTest::newRow("8-bit strips") << s;
    s.stripsBackwards = true;
    QTest::newRow("8-bit strips, last first") << s;
    s.stripsBackwards = false;
    s.bits = 16;
    QTest::newRow("16-bit strips") << s;
    s.bits = 32;
    QTest::newRow("32-bit strips, unsigned") << s;
    s.format = SAMPLEFORMAT_IEEEFP;
    QTest::newRow("float strips") << s;
    s = TiffSpec();
    s.width = 37;
    s.height = 20;
    s.tile = 16;
    QTest::newRow("16-bit partial tiles") << s;
    s.bits = 32;
    s.format = SAMPLEFORMAT_IEEEFP;
    QTest::newRow("float tiles") << s;
    s = TiffSpec();
    s.width = 40;
    s.height = 9;
    s.compression = COMPRESSION_LZW;
    QTest::newRow("16-bit LZW strips") << s;
}

void tst_ImgDataTiff::reads()
{
    QFETCH(TiffSpec, spec);
    const QString path = dir.filePath(QStringLiteral("%1.tif").arg(QTest::currentDataTag()));
    QVERIFY(writeTiff(path, spec));
    QCOMPARE(ImgData::fileType(path), int(ImgData::TIFF));
    ImgDatas stack;
    QVERIFY(stack.addFile(path));
    const ImgData *img = stack.frame(0);
    QCOMPARE(img->width, spec.width);
    QCOMPARE(img->height, spec.height);
    std::vector<double> row(static_cast<size_t>(spec.width));
    std::vector<double> column(static_cast<size_t>(spec.height));
    for (int y = 0; y < spec.height; ++y) {
        img->getLine(y, row.data());
        for (int x = 0; x < spec.width; ++x)
            QCOMPARE(row[x], valueAt(spec, x, y));
    }
    const int x = spec.width - 1;
    img->getColumn(x, column.data());
    for (int y = 0; y < spec.height; ++y)
        QCOMPARE(column[y], valueAt(spec, x, y));
}

void tst_ImgDataTiff::refused_data()
{
    QTest::addColumn<TiffSpec>("spec");
    QTest::addColumn<int>("keepBytes");
    QTest::addColumn<QString>("message");
    TiffSpec s;
    s.bits = 8;
    s.samples = 3;
    QTest::newRow("three channels") << s << -1 << "TIFF file is not a greyscale image";
    s = TiffSpec();
    s.width = 200;
    s.height = 100;
    QTest::newRow("truncated pixels") << s << 20000 << "TIFF";
    s = TiffSpec();
    s.bits = 16;
    s.format = SAMPLEFORMAT_INT;
    QTest::newRow("signed samples") << s << -1 << "Unsupported TIFF sample format";
    s = TiffSpec();
    QTest::newRow("header only") << s << 8 << "TIFF";
}

void tst_ImgDataTiff::refused()
{
    QFETCH(TiffSpec, spec);
    QFETCH(int, keepBytes);
    QFETCH(QString, message);
    const QString path = dir.filePath(QStringLiteral("bad-%1.tif").arg(QTest::currentDataTag()));
    QVERIFY(writeTiff(path, spec));
    if (keepBytes >= 0)
        QVERIFY(QFile::resize(path, keepBytes));
    MessageLog log;
    ImgDatas stack;
    QVERIFY(!stack.addFile(path));
    QCOMPARE(stack.count(), 0);
    QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
}

void tst_ImgDataTiff::mappedStripsMatchCopied_data()
{
    QTest::addColumn<TiffSpec>("spec");
    QTest::addColumn<bool>("mappable");
    TiffSpec s;
    s.width = 257;
    s.height = 33;
    s.rowsPerStrip = 4;
    QTest::newRow("16-bit strips, odd width") << s << true;
    s.bits = 32;
    s.format = SAMPLEFORMAT_IEEEFP;
    s.rowsPerStrip = 33;
    QTest::newRow("float, one strip") << s << true;
    s.rowsPerStrip = 5;
    s.stripsBackwards = true;
    QTest::newRow("float strips, last first") << s << false;
    s = TiffSpec();
    s.width = 64;
    s.height = 20;
    s.compression = COMPRESSION_LZW;
    QTest::newRow("LZW strips") << s << false;
    s.compression = COMPRESSION_NONE;
    s.tile = 16;
    QTest::newRow("tiles") << s << false;
}

// Mapped or decoded, a frame reads the same; only uncompressed strips that lie
// one after the other in the file are mapped.
void tst_ImgDataTiff::mappedStripsMatchCopied()
{
    QFETCH(TiffSpec, spec);
    QFETCH(bool, mappable);
    const QString path = dir.filePath(QStringLiteral("map-%1.tif").arg(QTest::currentDataTag()));
    QVERIFY(writeTiff(path, spec));
    const bool mapDefault = ImgData::mapFrames;
    ImgDatas mappedStack;
    ImgDatas copiedStack;
    ImgData::mapFrames = true;
    const bool mappedOk = mappedStack.addFile(path);
    ImgData::mapFrames = false;
    const bool copiedOk = copiedStack.addFile(path);
    ImgData::mapFrames = mapDefault;
    QVERIFY(mappedOk && copiedOk);
    const auto *mapped = static_cast<const ImgDataTiff *>(mappedStack.frame(0));
    const auto *copied = static_cast<const ImgDataTiff *>(copiedStack.frame(0));
#if defined(__linux__)
    QCOMPARE(mapped->pixels.isFileMapped(), mappable);
#endif
    QVERIFY(!copied->pixels.isFileMapped());
    std::vector<double> a(static_cast<size_t>(spec.width));
    std::vector<double> b(a.size());
    for (int y = 0; y < spec.height; ++y) {
        mapped->getLine(y, a.data());
        copied->getLine(y, b.data());
        QVERIFY(a == b);
        QCOMPARE(a.back(), valueAt(spec, spec.width - 1, y));
    }
}

QTEST_GUILESS_MAIN(tst_ImgDataTiff)
#include "tst_ImgDataTiff.moc"
