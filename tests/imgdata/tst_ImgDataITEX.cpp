#include "ItexWriter.h"
#include "imgdata/ImgDataITEX.h"
#include "imgdata/ImgDatas.h"
#include "imgdata/MemoryBudget.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

using TestSupport::MessageLog;

class tst_ImgDataITEX : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void fileType_data();
    void fileType();
    void headerItems_data();
    void headerItems();
    void pixelValues_data();
    void pixelValues();
    void hostileFiles_data();
    void hostileFiles();
    void multiByteCommentEndDoesNotEatPixels();
    void filesAreClosedAfterLoading();
    void largeFramesLoadAndReload();
    void mappedFramesMatchCopied_data();
    void mappedFramesMatchCopied();
    void fileCutBetweenHeaderAndPixels();

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    static bool writeBytes(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QTemporaryDir dir;
};

void tst_ImgDataITEX::fileType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");

    QTest::newRow("IM is ITEX even named .tif") << "a.tif" << QByteArray("IMxx") << 0 << "";
    QTest::newRow("II is TIFF") << "b.img" << QByteArray("II*\0", 4) << 1 << "";
    QTest::newRow("MM is TIFF") << "c.img" << QByteArray("MM\0*", 4) << 1 << "";
    QTest::newRow("other bytes are unknown")
        << "d.img" << QByteArray("PK\3\4") << 2 << "Unknown file type : ";
    QTest::newRow("one byte is unknown")
        << "e.img" << QByteArray("I") << 2 << "Unknown file type : ";
    QTest::newRow("missing file") << "" << QByteArray() << 2
                                  << "Check File Type (ITEX):: Can not open";
}

void tst_ImgDataITEX::fileType()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, type);
    QFETCH(QString, message);
    const QString file = name.isEmpty() ? path("no-such-file.img") : path(name);
    if (!name.isEmpty())
        QVERIFY(writeBytes(file, bytes));
    MessageLog log;
    QCOMPARE(ImgData::fileType(file), type);
    if (!message.isEmpty())
        QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    std::unique_ptr<ImgData> img(ImgData::newImgData(type));
    QCOMPARE(img == nullptr, type == 2);
}

void tst_ImgDataITEX::headerItems_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("expTime");

    QTest::newRow("plain items") << QByteArray("Prop_ImageWidth=5,Prop_ImageHeight=3,"
                                               "BytesPerPixel=2,Prop_ExposureTime1=0.5,")
                                 << true << 5 << 3 << 0.5;
    QTest::newRow("width 0 and no height take the quoted area")
        << QByteArray("Prop_ImageWidth=0,areSource=\"10,20,110,70\",BytesPerPixel=2,") << true
        << 100 << 50 << 1.0;
    QTest::newRow("item after the last comma is ignored")
        << QByteArray("Prop_ImageWidth=4,BytesPerPixel=2,Prop_ImageHeight=3") << false << 0 << 0
        << 1.0;
    QTest::newRow("later exposure key wins")
        << QByteArray("Prop_ExposureTime2=2.5,Prop_ImageWidth=2,Prop_ImageHeight=2,"
                      "BytesPerPixel=4,Prop_ExposureTime1=0.25,")
        << true << 2 << 2 << 0.25;
    QTest::newRow("width beyond int falls back to the area")
        << QByteArray("Prop_ImageWidth=4294967297,Prop_ImageHeight=2,BytesPerPixel=2,"
                      "areSource=\"0,0,3,9\",")
        << true << 3 << 2 << 1.0;
    QTest::newRow("empty value counts as not given")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=2,Prop_ImageWidth=,BytesPerPixel=2,")
        << true << 4 << 2 << 1.0;
    QTest::newRow("area with three numbers is not given")
        << QByteArray("Prop_ImageWidth=0,Prop_ImageHeight=2,areSource=\"0,0,3\",BytesPerPixel=2,")
        << false << 0 << 0 << 1.0;
    QTest::newRow("area wider than int is refused")
        << QByteArray("areSource=\"-2147483648,0,2147483647,1\",BytesPerPixel=2,") << false << 0
        << 0 << 1.0;
    QTest::newRow("negative width without area is refused")
        << QByteArray("Prop_ImageWidth=-3,Prop_ImageHeight=2,BytesPerPixel=2,") << false << 0 << 0
        << 1.0;
    QTest::newRow("nan exposure keeps the default")
        << QByteArray(
               "Prop_ImageWidth=1,Prop_ImageHeight=1,BytesPerPixel=2,Prop_ExposureTime1=nan,")
        << true << 1 << 1 << 1.0;
}

void tst_ImgDataITEX::headerItems()
{
    QFETCH(QByteArray, comment);
    QFETCH(bool, ok);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, expTime);
    const QString file = path(QStringLiteral("header-%1.img").arg(QTest::currentDataTag()));
    // Enough pixel bytes for any size the rows above can yield.
    QVERIFY(ItexWriter::writeRaw(file, comment, QByteArray(100 * 50 * 4, '\1')));
    ImgDataITEX img;
    img.fileName = file;
    MessageLog log;
    QCOMPARE(img.open(), ok);
    if (!ok) {
        QVERIFY(!log.messages().isEmpty());
        return;
    }
    QCOMPARE(img.width, width);
    QCOMPARE(img.height, height);
    QCOMPARE(img.expTime, expTime);
    QCOMPARE(img.dataOffset, 64 + comment.size());
}

void tst_ImgDataITEX::pixelValues_data()
{
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<std::vector<double>>("values");
    // 3 wide, 2 high: row 0 then row 1.
    QTest::newRow("16-bit, top value stays 65535")
        << 2 << std::vector<double>{0, 1, 258, 65535, 32768, 7};
    QTest::newRow("32-bit is unsigned")
        << 4 << std::vector<double>{4294967295.0, 0, 16909060, 2147483648.0, 65536, 1};
}

void tst_ImgDataITEX::pixelValues()
{
    QFETCH(int, bytesPerPixel);
    QFETCH(std::vector<double>, values);
    const QString file = path(QStringLiteral("pix%1.img").arg(bytesPerPixel));
    QVERIFY(ItexWriter::write(file, 3, 2, bytesPerPixel, values));
    ImgDataITEX img;
    img.fileName = file;
    QVERIFY(img.open());
    double row[3];
    double column[2];
    for (int y = 0; y < 2; ++y) {
        img.getLine(y, row);
        for (int x = 0; x < 3; ++x)
            QCOMPARE(row[x], values[y * 3 + x]);
    }
    for (int x = 0; x < 3; ++x) {
        img.getColumn(x, column);
        QCOMPARE(column[0], values[x]);
        QCOMPARE(column[1], values[3 + x]);
    }
    // Lines outside the image read as zeros instead of memory beyond the pixels.
    row[0] = row[1] = row[2] = 5.0;
    img.getLine(2, row);
    QCOMPARE(row[2], 0.0);
    img.getColumn(-1, column);
    QCOMPARE(column[1], 0.0);
    double lo = 0.0;
    double hi = 0.0;
    img.getMinMax(&lo, &hi);
    QCOMPARE(lo, *std::min_element(values.begin(), values.end()));
    QCOMPARE(hi, *std::max_element(values.begin(), values.end()));
}

void tst_ImgDataITEX::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray good = ItexWriter::comment(4, 4, 2);
    auto file = [](const QByteArray &comment, int pixelBytes) {
        return ItexWriter::header(comment.size()) + comment + QByteArray(pixelBytes, '\7');
    };
    QTest::newRow("pixel block truncated")
        << file(good, 4 * 4 * 2 - 1) << "ITEX file is shorter than its image size";
    QTest::newRow("huge dimensions")
        << file("Prop_ImageWidth=2000000000,Prop_ImageHeight=2000000000,BytesPerPixel=4,", 64)
        << "ITEX file is shorter than its image size";
    QTest::newRow("dimensions whose product overflows 64 bits")
        << file("Prop_ImageWidth=2147483647,Prop_ImageHeight=2147483647,BytesPerPixel=4,", 64)
        << "ITEX file is shorter than its image size";
    QTest::newRow("zero comment length") << file("", 64) << "Error on reading ITEX file props.";
    QTest::newRow("missing BytesPerPixel")
        << file("Prop_ImageWidth=4,Prop_ImageHeight=4,", 64) << "Wrong BytesPerPixel in ITEX file";
    QTest::newRow("BytesPerPixel 3")
        << file("Prop_ImageWidth=4,Prop_ImageHeight=4,BytesPerPixel=3,", 64)
        << "Wrong BytesPerPixel in ITEX file";
    QTest::newRow("shorter than its header")
        << QByteArray("IM\x10\0abc", 7) << "Error on reading ITEX file props.";
    QTest::newRow("comment longer than the file")
        << (ItexWriter::header(60000) + good) << "Error on reading ITEX file props.";
    QTest::newRow("non-image bytes after the mark")
        << (QByteArray("IM") + QByteArray(300, '\xff')) << "Error on reading ITEX file props.";
}

void tst_ImgDataITEX::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString file = path(QStringLiteral("hostile-%1.img").arg(QTest::currentDataTag()));
    QVERIFY(writeBytes(file, bytes));
    MessageLog log;
    ImgDatas stack;
    QVERIFY(!stack.addFile(file));
    QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    QVERIFY(log.contains(QStringLiteral("File is not ready to access")));
    QCOMPARE(stack.count(), 0);
    QCOMPARE(stack.width(), 0);
}

void tst_ImgDataITEX::multiByteCommentEndDoesNotEatPixels()
{
    // The comment ends in the first byte of a three-byte UTF-8 character; the
    // pixels start right after the L bytes of the header all the same.
    const QByteArray comment = ItexWriter::comment(2, 1, 2) + "\xe3";
    const QString file = path(QStringLiteral("utf8.img"));
    QVERIFY(ItexWriter::writeRaw(file, comment, ItexWriter::pixelBytes({0x8182, 0x8384}, 2)));
    ImgDataITEX img;
    img.fileName = file;
    QVERIFY(img.open());
    double row[2];
    img.getLine(0, row);
    QCOMPARE(row[0], double(0x8182));
    QCOMPARE(row[1], double(0x8384));
}

void tst_ImgDataITEX::filesAreClosedAfterLoading()
{
    QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        QSKIP("no /proc/self/fd here");
    const int frames = 40;
    for (int i = 0; i < frames; ++i)
        QVERIFY(ItexWriter::write(path(QStringLiteral("f%1.img").arg(i)), 2, 2, 2, {1, 2, 3, 4}));
    const auto before = fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    ImgDatas stack;
    for (int i = 0; i < frames; ++i)
        QVERIFY(stack.addFile(path(QStringLiteral("f%1.img").arg(i))));
    const auto after = fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    QCOMPARE(stack.count(), frames);
    QVERIFY2(after < before + 5, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
}

// Frames of tens of kilobytes and more take another kind of buffer than small
// ones; a second load into the same object replaces it.
void tst_ImgDataITEX::largeFramesLoadAndReload()
{
    const int w = 300;
    const int h = 160;
    const QString file = path(QStringLiteral("large.img"));
    ImgDataITEX img;
    img.fileName = file;
    std::vector<double> line(w);
    for (const int bytesPerPixel : {2, 4, 2}) {
        std::vector<double> values(size_t(w) * h);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = double((i * 7919 + bytesPerPixel) % 65536);
        QVERIFY(ItexWriter::write(file, w, h, bytesPerPixel, values));
        QVERIFY(img.open());
        for (int y = 0; y < h; ++y) {
            img.getLine(y, line.data());
            QVERIFY(std::equal(line.begin(), line.end(), values.begin() + size_t(y) * w));
        }
    }
    QFile cut(file);
    QVERIFY(cut.open(QIODevice::ReadWrite));
    QVERIFY(cut.resize(cut.size() - 1));
    cut.close();
    QVERIFY(!img.open());
    QVERIFY(!img.isOk);
}

void tst_ImgDataITEX::mappedFramesMatchCopied_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<QByteArray>("extraItem");
    QTest::newRow("16-bit, odd width, odd pixel offset") << 257 << 2 << QByteArray("X=1,");
    QTest::newRow("32-bit, even offset") << 256 << 4 << QByteArray();
    QTest::newRow("16-bit, small frame") << 3 << 2 << QByteArray("Odd=12,");
}

void tst_ImgDataITEX::mappedFramesMatchCopied()
{
    QFETCH(int, width);
    QFETCH(int, bytesPerPixel);
    QFETCH(QByteArray, extraItem);
    const int height = 64;
    std::vector<double> values(size_t(width) * height);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = double((i * 2654435761u) % (bytesPerPixel == 2 ? 65536u : 4294967295u));
    const QString file = path(QStringLiteral("mapped.img"));
    QVERIFY(ItexWriter::writeRaw(file,
                                 ItexWriter::comment(width, height, bytesPerPixel) + extraItem,
                                 ItexWriter::pixelBytes(values, bytesPerPixel)));
    const bool mapDefault = ImgDataITEX::mapFrames;
    ImgDatas mappedStack;
    ImgDatas copiedStack;
    ImgDataITEX::mapFrames = true;
    const bool mappedOk = mappedStack.addFile(file);
    const qint64 usedMapped = MemoryBudget::used();
    ImgDataITEX::mapFrames = false;
    const bool copiedOk = copiedStack.addFile(file);
    const qint64 usedCopied = MemoryBudget::used() - usedMapped;
    ImgDataITEX::mapFrames = mapDefault;
    QVERIFY(mappedOk && copiedOk);
    const auto *mapped = static_cast<const ImgDataITEX *>(mappedStack.frame(0));
    const auto *copied = static_cast<const ImgDataITEX *>(copiedStack.frame(0));
#if defined(__linux__)
    // Mapped pages belong to the page cache, not to the budget.
    QVERIFY(mapped->pixels.isFileMapped());
    QCOMPARE(usedMapped, qint64(0));
#endif
    QVERIFY(!copied->pixels.isFileMapped());
    QCOMPARE(usedCopied, qint64(width) * height * bytesPerPixel);
    std::vector<double> a(size_t(std::max(width, height)));
    std::vector<double> b(a.size());
    for (int y = -1; y <= height; ++y) {
        mapped->getLine(y, a.data());
        copied->getLine(y, b.data());
        QVERIFY(std::memcmp(a.data(), b.data(), sizeof(double) * width) == 0);
        if (y >= 0 && y < height)
            QVERIFY(std::equal(a.begin(), a.begin() + width, values.begin() + size_t(y) * width));
    }
    for (int x = -1; x <= width; ++x) {
        mapped->getColumn(x, a.data());
        copied->getColumn(x, b.data());
        QVERIFY(std::memcmp(a.data(), b.data(), sizeof(double) * height) == 0);
    }
}

void tst_ImgDataITEX::fileCutBetweenHeaderAndPixels()
{
    // Sizes are checked again when the pixels are taken, so a file cut after its
    // header was read is refused instead of being mapped past its end.
    const QString file = path(QStringLiteral("cut.img"));
    QVERIFY(ItexWriter::write(file, 128, 64, 2, std::vector<double>(128 * 64, 9.0)));
    for (const bool map : {true, false}) {
        const bool mapDefault = ImgDataITEX::mapFrames;
        ImgDataITEX::mapFrames = map;
        ImgDataITEX img;
        img.fileName = file;
        QVERIFY(img.readProps(file, &img.width, &img.height));
        QVERIFY(QFile::resize(file, QFileInfo(file).size() - 4096));
        MessageLog log;
        const bool loaded = img.loadData();
        ImgDataITEX::mapFrames = mapDefault;
        QVERIFY(!loaded);
        QVERIFY(log.contains("ITEX file is shorter than its image size"));
        QVERIFY(ItexWriter::write(file, 128, 64, 2, std::vector<double>(128 * 64, 9.0)));
    }
}

QTEST_GUILESS_MAIN(tst_ImgDataITEX)
#include "tst_ImgDataITEX.moc"
