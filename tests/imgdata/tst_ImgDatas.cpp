#include "ItexWriter.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "tests/support/TestSupport.h"
#include "util/GreyScale.h"

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using TestSupport::MessageLog;

class tst_ImgDatas : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sizeRules();
    void genImageBounds_data();
    void genImageBounds();
    void greyPicture();
    void i0AndBgPresence();
    void accessAdvice_data();
    void accessAdvice();

private:
    QString file(int w, int h, const QString &name)
    {
        const QString p = dir.filePath(name);
        std::vector<double> v(static_cast<size_t>(w * h));
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = static_cast<double>(i);
        return ItexWriter::write(p, w, h, 2, v) ? p : QString();
    }
    QTemporaryDir dir;
    QString big, small;
};

void tst_ImgDatas::initTestCase()
{
    QVERIFY(dir.isValid());
    big = file(6, 4, QStringLiteral("big.img"));
    small = file(3, 2, QStringLiteral("small.img"));
    QVERIFY(!big.isEmpty() && !small.isEmpty());
}

void tst_ImgDatas::sizeRules()
{
    ImgDatas stack;
    QVERIFY(stack.addFile(big));
    QCOMPARE(stack.width(), 6);
    QCOMPARE(stack.height(), 4);
    {
        MessageLog log;
        QVERIFY(!stack.addFile(small));
        const QString all = log.messages().join('\n');
        QVERIFY2(all.contains(QStringLiteral("Mismatch image size")), qPrintable(all));
        QVERIFY2(all.contains(QStringLiteral(": (6, 4) != (3, 2) : ")), qPrintable(all));
    }
    // The same name twice gives two independent frames.
    QVERIFY(stack.addFile(big));
    QCOMPARE(stack.count(), 2);
    QVERIFY(stack.frame(0) != stack.frame(1));

    // clearImgs keeps the size: the smaller file is still refused.
    stack.clearImgs();
    QCOMPARE(stack.count(), 0);
    QVERIFY(!stack.addFile(small));
    stack.clear();
    QVERIFY(stack.addFile(small));
    QCOMPARE(stack.width(), 3);

    MessageLog log;
    QVERIFY(!stack.addFile(dir.filePath(QStringLiteral("absent.img"))));
    QCOMPARE(stack.count(), 1);
}

void tst_ImgDatas::genImageBounds_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("ok");
    QTest::newRow("-1") << -1 << false;
    QTest::newRow("first") << 0 << true;
    QTest::newRow("last") << 1 << true;
    QTest::newRow("count") << 2 << false;
}

void tst_ImgDatas::genImageBounds()
{
    QFETCH(int, index);
    QFETCH(bool, ok);
    ImgDatas stack;
    QVERIFY(stack.addFile(big));
    QVERIFY(stack.addFile(big));
    QSignalSpy spy(&stack, &ImgDatas::imageUpdated);
    QImage image;
    GreyScale scale;
    QCOMPARE(stack.genImage(index, &image, &scale), ok);
    QCOMPARE(spy.count(), ok ? 1 : 0);
    QCOMPARE(image.isNull(), !ok);
}

void tst_ImgDatas::greyPicture()
{
    ImgDatas stack;
    QVERIFY(stack.addFile(big));
    QImage image;
    GreyScale scale;
    QVERIFY(stack.genImage(0, &image, &scale));
    // The values 0 ... 23 spread over the grey ramp of the scale.
    QCOMPARE(scale.min, 0.0);
    QCOMPARE(scale.max, 23.0);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    QCOMPARE(image.size(), QSize(6, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            QCOMPARE(int(image.constScanLine(y)[x]), scale.grey(y * 6 + x));
    QCOMPARE(int(image.constScanLine(3)[5]), 255);

    // A fixed scale keeps its range.
    GreyScale fixed;
    fixed.min = 100.0;
    fixed.max = 200.0;
    QVERIFY(stack.genImage(0, &image, &fixed, true));
    QCOMPARE(fixed.min, 100.0);
    QCOMPARE(int(image.constScanLine(3)[5]), 0);
}

void tst_ImgDatas::i0AndBgPresence()
{
    ImgDatas stack;
    QVERIFY(stack.i0Image() == nullptr);
    ImgData *slot = nullptr;
    stack.setI0Slot(&slot);
    QVERIFY(stack.i0Image() == nullptr);
    std::unique_ptr<ImgData> img(ImgData::newImgData(ImgData::ITEX));
    slot = img.get();
    img->fileName = big;
    QVERIFY(stack.i0Image() == nullptr);
    img->isOk = img->open();
    QVERIFY(stack.i0Image() == img.get());
    QVERIFY(stack.bgImage() == nullptr);
}

void tst_ImgDatas::accessAdvice_data()
{
    QTest::addColumn<bool>("map");
    QTest::addColumn<qint64>("memory");
    QTest::addColumn<bool>("random");
    // Three frames of 64 x 48 16-bit pixels: 18432 bytes mapped.
    QTest::newRow("mapped stack as large as memory") << true << qint64(18432) << false;
    QTest::newRow("mapped stack larger than memory") << true << qint64(18431) << true;
    QTest::newRow("memory unknown") << true << qint64(0) << false;
    QTest::newRow("copied frames are not advised") << false << qint64(1) << false;
}

void tst_ImgDatas::accessAdvice()
{
    QFETCH(bool, map);
    QFETCH(qint64, memory);
    QFETCH(bool, random);
    const int w = 64;
    const int h = 48;
    const QString path = file(w, h, QStringLiteral("advised.img"));
    QVERIFY(!path.isEmpty());
    const bool mapDefault = ImgData::mapFrames;
    ImgData::mapFrames = map;
    ImgDatas stack;
    bool added = true;
    for (int i = 0; i < 3; ++i)
        added = stack.addFile(path) && added;
    ImgData::mapFrames = mapDefault;
    QVERIFY(added);
    const qint64 mapped = map ? qint64(3) * w * h * 2 : 0;
    QCOMPARE(stack.mappedBytes(), mapped);
    QCOMPARE(stack.adviseAccess(memory), random);
    // The advice and the prefetch of rows (those outside the frame included)
    // change how pages are read, never what they hold.
    std::vector<double> row(static_cast<size_t>(w));
    double worst = 0.0;
    for (int i = 0; i < stack.count(); ++i)
        for (int y = -1; y <= h; ++y)
            stack.frame(i)->prefetchLine(y);
    for (int i = 0; i < stack.count(); ++i)
        for (int y = 0; y < h; ++y) {
            stack.frame(i)->getLine(y, row.data());
            for (int x = 0; x < w; ++x)
                worst = std::max(worst, std::abs(row[x] - static_cast<double>(y * w + x)));
        }
    QVERIFY(worst < 0.5);
    // Told back to the default, the same stack is read around its faults again.
    QVERIFY(!stack.adviseAccess(qint64(1) << 50));
}

QTEST_GUILESS_MAIN(tst_ImgDatas)
#include "tst_ImgDatas.moc"
