// Loading a stack: unreadable files are skipped one by one, a frame beyond the
// memory budget stops the load, and the files taken are reported in order.

#include "imgdata/ImgDataITEX.h"
#include "imgdata/ImgDatas.h"
#include "imgdata/MemoryBudget.h"
#include "run/StackLoader.h"
#include "tests/imgdata/ItexWriter.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_StackLoader : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { MemoryBudget::setLimit(0); }
    void addFiles_data();
    void addFiles();
};

void tst_StackLoader::addFiles_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<int>("framesInBudget");
    QTest::addColumn<int>("loaded");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QString>("message");
    QTest::newRow("all readable") << QStringList{"good", "good", "good"} << 0 << 3 << 0
                                  << QString();
    QTest::newRow("missing file skipped")
        << QStringList{"good", "missing", "good"} << 0 << 2 << 1 << "Projection file skipped :";
    QTest::newRow("corrupt file skipped")
        << QStringList{"corrupt", "good", "good"} << 0 << 2 << 1 << "Projection file skipped :";
    QTest::newRow("budget stops the rest")
        << QStringList{"good", "good", "good", "missing"} << 2 << 2 << 2
        << "Loading stopped: the stack would exceed the memory budget after 2 of 4 frames";
    // A frame's row and column buffers (192 bytes) beyond the budget stop the load
    // as its pixels do, rather than skipping every frame one by one.
    QTest::newRow("budget below the row and column buffers")
        << QStringList{"good", "good", "good"} << -1 << 0 << 3
        << "Loading stopped: the stack would exceed the memory budget after 0 of 3 frames";
    QTest::newRow("nothing to load") << QStringList() << 0 << 0 << 0 << QString();
}

void tst_StackLoader::addFiles()
{
    QFETCH(QStringList, kinds);
    QFETCH(int, framesInBudget);
    QFETCH(int, loaded);
    QFETCH(int, skipped);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 16 x 8 pixels of 2 bytes: 256 bytes a frame.
    const std::vector<double> pixels(16 * 8, 500.0);
    QStringList files;
    QStringList readable;
    for (int i = 0; i < kinds.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("f%1.img").arg(i));
        if (kinds.at(i) == "good") {
            QVERIFY(ItexWriter::write(path, 16, 8, 2, pixels));
            readable << path;
        } else if (kinds.at(i) == "corrupt") {
            QVERIFY(ItexWriter::writeRaw(path, "Prop_ImageWidth=16,", "xx"));
        }
        files << path;
    }
    // Room for the frames and one frame's row and column buffers (192 bytes), so
    // that the next frame's pixels are what the budget refuses.
    if (framesInBudget != 0)
        MemoryBudget::setLimit(framesInBudget > 0 ? framesInBudget * 256 + 200 : 100);
    // Frames mapped from their files are the page cache's, not the budget's.
    const bool mapDefault = ImgDataITEX::mapFrames;
    ImgDataITEX::mapFrames = false;
    TestSupport::MessageLog log;
    ImgDatas stack;
    const StackLoader::Result result = StackLoader::addFiles(stack, files);
    ImgDataITEX::mapFrames = mapDefault;
    QCOMPARE(stack.count(), loaded);
    QCOMPARE(result.loaded, readable.mid(0, loaded));
    QCOMPARE(result.skipped, qsizetype(skipped));
    if (!message.isEmpty())
        QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    // Only a stack the budget cut short refuses runs, until it is cleared.
    const bool cut = message.startsWith("Loading stopped");
    QCOMPARE(result.cutShort, cut);
    QCOMPARE(stack.cutShort().isEmpty(), !cut);
    stack.clear();
    QVERIFY(stack.cutShort().isEmpty());
}

QTEST_GUILESS_MAIN(tst_StackLoader)
#include "tst_StackLoader.moc"
