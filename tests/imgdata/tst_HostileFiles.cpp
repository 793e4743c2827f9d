#include "HostileFiles.h"
#include "ItexWriter.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDataITEX.h"
#include "imgdata/ImgDatas.h"
#include "imgdata/MemoryBudget.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::MessageLog;

// Files that once made the readers allocate gigabytes or abort, and the memory
// budget that bounds what any file can make them hold.
class tst_HostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void cleanup() { MemoryBudget::setLimit(0); }
    void refusedWithMessage_data();
    void refusedWithMessage();
    void stackStopsAtBudget();
    void budgetLine_data();
    void budgetLine();
    void seedsLoad();
    void fuzzRegressions();

private:
    QString write(const QString &name, const QByteArray &bytes);
    QTemporaryDir dir;
};

QString tst_HostileFiles::write(const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

void tst_HostileFiles::refusedWithMessage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("4 KiB file, one 2^20 x 2^20 tile") << "giant-tile.tif"
                                                      << "TIFF tile larger than its image";
    QTest::newRow("728-byte float file, 65536 x 65536 tile") << "small-tiled-fuzz.tif"
                                                             << "TIFF tile larger than its image";
    QTest::newRow("strip claiming 4 GiB") << "giant-strip.tif"
                                          << "TIFF strip or tile beyond the end of the file";
    QTest::newRow("1 MiB LZW claiming 60000 x 60000") << "lzw-bomb.tif"
                                                      << "Image exceeds the memory budget";
    QTest::newRow("ITEX header claiming 16 GiB") << "oversized.img"
                                                 << "ITEX file is shorter than its image size";
}

void tst_HostileFiles::refusedWithMessage()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QByteArray bytes;
    for (const HostileFiles::Named &h : HostileFiles::all())
        if (h.name == name)
            bytes = h.bytes;
    const QString path = write(name, bytes);
    QVERIFY(!path.isEmpty());
    // A budget far below the claims: what the reader would allocate shows in the
    // message instead of in the process's size.
    MemoryBudget::setLimit(64 << 20);
    MessageLog log;
    ImgDatas stack;
    QVERIFY(!stack.addFile(path));
    QCOMPARE(stack.count(), 0);
    QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    QVERIFY(log.contains("File is not ready to access"));
    QCOMPARE(MemoryBudget::used(), qint64(0));
}

void tst_HostileFiles::stackStopsAtBudget()
{
    // 64 x 32 pixels of 2 bytes: 4096 bytes a frame; room for three.
    std::vector<double> pixels(64 * 32, 1000.0);
    const QString path = dir.filePath("frame.img");
    QVERIFY(ItexWriter::write(path, 64, 32, 2, pixels));
    MemoryBudget::setLimit(3 * 4096 + 100);
    // Frames mapped from their files are the page cache's, not the budget's.
    const bool mapDefault = ImgDataITEX::mapFrames;
    ImgDataITEX::mapFrames = false;
    MessageLog log;
    {
        ImgDatas stack;
        for (int i = 0; i < 3; ++i)
            QVERIFY(stack.addFile(path));
        QCOMPARE(MemoryBudget::used(), qint64(3 * 4096));
        QVERIFY(!stack.addFile(path));
        QCOMPARE(stack.count(), 3);
        QVERIFY2(log.contains("Image exceeds the memory budget"),
                 qPrintable(log.messages().join('\n')));
        stack.clearImgs();
        QCOMPARE(MemoryBudget::used(), qint64(0));
        QVERIFY(stack.addFile(path));
    }
    ImgDataITEX::mapFrames = mapDefault;
    QCOMPARE(MemoryBudget::used(), qint64(0));
}

void tst_HostileFiles::budgetLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("limit");
    const qint64 unchanged = 7 << 20;
    QTest::newRow("512 MB") << "512" << (qint64(512) << 20);
    QTest::newRow("blanks around") << " 3 " << (qint64(3) << 20);
    QTest::newRow("zero keeps the limit") << "0" << unchanged;
    QTest::newRow("negative keeps the limit") << "-5" << unchanged;
    QTest::newRow("not a number keeps the limit") << "lots" << unchanged;
    QTest::newRow("beyond 64 bits keeps the limit") << "99999999999999999999" << unchanged;
}

void tst_HostileFiles::budgetLine()
{
    QFETCH(QString, text);
    QFETCH(qint64, limit);
    MemoryBudget::setLimit(7 << 20);
    MemoryBudget::setLimitMB(text);
    QCOMPARE(MemoryBudget::limit(), limit);
    MemoryBudget::setLimit(0);
    QVERIFY(MemoryBudget::limit() == MemoryBudget::defaultLimit());
    QVERIFY(MemoryBudget::defaultLimit() > 0);
}

void tst_HostileFiles::seedsLoad()
{
    // Every valid seed of the fuzz corpora loads: the corpora start from files the
    // readers accept, so the fuzzer explores past the header checks.
    const QString seeds = dir.filePath("seeds");
    QVERIFY(HostileFiles::writeSeeds(seeds));
    for (const QString kind : {"itex", "tiff"}) {
        QDir folder(seeds + "/" + kind);
        const QStringList names = folder.entryList(QDir::Files);
        QVERIFY(names.size() >= 3);
        for (const QString &name : names) {
            const bool hostile = name.startsWith("giant") || name.startsWith("small-tiled");
            std::unique_ptr<ImgData> img(
                ImgData::newImgData(ImgData::fileType(folder.filePath(name))));
            QVERIFY2(img, qPrintable(name));
            img->fileName = folder.filePath(name);
            QVERIFY2(img->open() != hostile, qPrintable(name));
        }
    }
}

void tst_HostileFiles::fuzzRegressions()
{
    // Every input a fuzz target once crashed on is refused (or read) with a message,
    // and nothing stays charged to the budget.
    MemoryBudget::setLimit(64 << 20);
    int files = 0;
    for (const QString kind : {"itex", "tiff"}) {
        QDir folder(QStringLiteral(ORVO2_SOURCE_DIR "/fuzz/regressions/") + kind);
        for (const QString &name : folder.entryList(QDir::Files)) {
            MessageLog log;
            {
                ImgDatas stack;
                stack.addFile(folder.filePath(name));
            }
            QVERIFY2(!log.messages().isEmpty(), qPrintable(name));
            QCOMPARE(MemoryBudget::used(), qint64(0));
            ++files;
        }
    }
    QVERIFY(files >= 4);
}

QTEST_GUILESS_MAIN(tst_HostileFiles)
#include "tst_HostileFiles.moc"
