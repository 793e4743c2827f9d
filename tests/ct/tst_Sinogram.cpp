#include "ct/HSgm.h"
#include "ct/SgmGeom.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "tests/imgdata/ItexWriter.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using TestSupport::MessageLog;

class tst_Sinogram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void geometry_data();
    void geometry();
    void resampleAroundCor();
    void lnRules_data();
    void lnRules();
    void refusedLeavesItEmpty_data();
    void refusedLeavesItEmpty();
    void columnsWhenAxisHorizontal();

private:
    // An image whose every pixel is `value`.
    std::unique_ptr<ImgData> image(int w, int h, double value, const QString &name);
    QString write(int w, int h, const std::vector<double> &values, const QString &name);
    QTemporaryDir dir;
};

QString tst_Sinogram::write(int w, int h, const std::vector<double> &values, const QString &name)
{
    const QString path = dir.filePath(name);
    return ItexWriter::write(path, w, h, 4, values) ? path : QString();
}

std::unique_ptr<ImgData> tst_Sinogram::image(int w, int h, double value, const QString &name)
{
    std::unique_ptr<ImgData> img(ImgData::newImgData(ImgData::ITEX));
    img->fileName = write(w, h, std::vector<double>(size_t(w * h), value), name);
    img->isOk = img->open();
    return img;
}

void tst_Sinogram::geometry_data()
{
    QTest::addColumn<int>("len");
    QTest::addColumn<double>("cor");
    QTest::addColumn<int>("halfWidth");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("corInt");
    QTest::addColumn<double>("frac");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("quarter pixel CoR") << 100 << 30.25 << 30 << 59 << 30 << 0.25;
    QTest::newRow("centre of an even line") << 100 << 49.5 << 49 << 97 << 49 << 0.5;
    QTest::newRow("nearer the far end") << 100 << 70.0 << 29 << 57 << 70 << 0.0;
    QTest::newRow("half a pixel from the end") << 100 << 98.5 << 0 << 0 << 98 << 0.5;
    QTest::newRow("below 1") << 100 << 0.7 << 0 << 0 << 0 << 0.0;
    QTest::newRow("at the end") << 100 << 99.0 << 0 << 0 << 0 << 0.0;
    QTest::newRow("nan") << 100 << nan << 0 << 0 << 0 << 0.0;
    QTest::newRow("infinite") << 100 << inf << 0 << 0 << 0 << 0.0;
    QTest::newRow("huge") << 100 << 1e300 << 0 << 0 << 0 << 0.0;
}

void tst_Sinogram::geometry()
{
    QFETCH(int, len);
    QFETCH(double, cor);
    QFETCH(int, halfWidth);
    QFETCH(int, width);
    QFETCH(int, corInt);
    QFETCH(double, frac);
    const SgmGeom g = setGeom(false, len, cor);
    QCOMPARE(g.halfWidth, halfWidth);
    QCOMPARE(g.width, width);
    if (width > 0) {
        QCOMPARE(g.corInt, corInt);
        QCOMPARE(g.frac, frac);
    }
    QCOMPARE(g.rotAxIsV, false);
}

void tst_Sinogram::resampleAroundCor()
{
    std::vector<double> line(100);
    for (int i = 0; i < 100; ++i)
        line[i] = i * i;
    const SgmGeom g = setGeom(true, 100, 30.25);
    std::vector<double> out(size_t(g.width) + 1, -1.0);
    resampleLine(line.data(), out.data(), g);
    auto at = [&](double x) {
        const int i = int(std::floor(x));
        return line[i] + (x - i) * (line[i + 1] - line[i]);
    };
    QCOMPARE(out[29], at(30.25)); // the CoR sample
    QCOMPARE(out[0], at(1.25));
    QCOMPARE(out[58], at(59.25));
    QCOMPARE(out[59], -1.0); // nothing written beyond the width
}

void tst_Sinogram::lnRules_data()
{
    QTest::addColumn<double>("i0");
    QTest::addColumn<double>("bg");
    QTest::addColumn<double>("intensity");
    QTest::addColumn<double>("expected");
    // i0 or bg of -1 means the image is absent.
    QTest::newRow("attenuation") << 1000.0 << 100.0 << 500.0 << std::log(900.0 / 400.0);
    QTest::newRow("I at the dark level gives ln(I0 - BG)")
        << 1000.0 << 10.0 << 10.0 << std::log(990.0);
    QTest::newRow("I below the dark level") << 1000.0 << 10.0 << 3.0 << std::log(990.0);
    QTest::newRow("I0 at the dark level, I above it")
        << 10.0 << 10.0 << 50.0 << std::log(1.0 / 40.0);
    QTest::newRow("I0 below the dark level") << 5.0 << 10.0 << 12.0 << std::log(1.0 / 2.0);
    QTest::newRow("no I0, no BG: -ln I") << -1.0 << -1.0 << 250.0 << -std::log(250.0);
    QTest::newRow("no I0, no BG, I = 0") << -1.0 << -1.0 << 0.0 << 0.0;
    QTest::newRow("BG only") << -1.0 << 3.0 << 4.0 << 0.0;
}

void tst_Sinogram::lnRules()
{
    QFETCH(double, i0);
    QFETCH(double, bg);
    QFETCH(double, intensity);
    QFETCH(double, expected);
    ImgDatas stack;
    QVERIFY(stack.addFile(write(7, 2, std::vector<double>(14, intensity), "ln-frame.img")));
    QVERIFY(stack.addFile(write(7, 2, std::vector<double>(14, intensity), "ln-frame.img")));
    std::unique_ptr<ImgData> i0Img = i0 >= 0 ? image(7, 2, i0, "ln-i0.img") : nullptr;
    std::unique_ptr<ImgData> bgImg = bg >= 0 ? image(7, 2, bg, "ln-bg.img") : nullptr;
    ImgData *i0Slot = i0Img.get();
    ImgData *bgSlot = bgImg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);
    HSgm h;
    QVERIFY(genSinogram0(&h, stack, true, 3.0, 1));
    QCOMPARE(h.width, 5);
    QCOMPARE(h.height, 2);
    QCOMPARE(h.slice, 1);
    QVERIFY(h.isUsable());
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 5; ++j) {
            QCOMPARE(h.sgmRow(i)[j], expected);
            QCOMPARE(h.rawRow(i)[j], intensity);
        }
    // An engine's sinogram, which keeps no raw intensities, has the same values.
    HSgm engine;
    engine.keepRaw = false;
    QVERIFY(genSinogram0(&engine, stack, true, 3.0, 1));
    QVERIFY(engine.raw.empty());
    QVERIFY(engine.sgm == h.sgm);
}

void tst_Sinogram::refusedLeavesItEmpty_data()
{
    QTest::addColumn<double>("cor");
    QTest::addColumn<int>("slice");
    QTest::addColumn<int>("i0Width");
    QTest::addColumn<int>("bgWidth");
    QTest::addColumn<QString>("message");
    // The stack is 9 wide and 4 high; the axis is vertical.
    QTest::newRow("CoR below 1") << 0.7 << 1 << 9 << 9 << "";
    QTest::newRow("CoR at the line end") << 9.0 << 1 << 9 << 9 << "";
    QTest::newRow("CoR nan") << std::nan("") << 1 << 9 << 9 << "";
    QTest::newRow("CoR too near the end for 3 samples") << 7.5 << 1 << 9 << 9 << "";
    QTest::newRow("CoR 1.5 gives a single sample") << 1.5 << 1 << 9 << 9 << "";
    QTest::newRow("slice negative") << 4.0 << -1 << 9 << 9 << "";
    QTest::newRow("slice at the line count") << 4.0 << 4 << 9 << 9 << "";
    QTest::newRow("I0 of another size")
        << 4.0 << 1 << 8 << 9 << "Mismatch I0 image size : (9, 4) != (8, 4) : ";
    QTest::newRow("BG of another size")
        << 4.0 << 1 << 9 << 10 << "Mismatch BG image size : (9, 4) != (10, 4) : ";
}

void tst_Sinogram::refusedLeavesItEmpty()
{
    QFETCH(double, cor);
    QFETCH(int, slice);
    QFETCH(int, i0Width);
    QFETCH(int, bgWidth);
    QFETCH(QString, message);
    ImgDatas stack;
    QVERIFY(stack.addFile(write(9, 4, std::vector<double>(36, 50.0), "r-frame.img")));
    std::unique_ptr<ImgData> i0 = image(i0Width, 4, 100.0, "r-i0.img");
    std::unique_ptr<ImgData> bg = image(bgWidth, 4, 1.0, "r-bg.img");
    ImgData *i0Slot = i0.get();
    ImgData *bgSlot = bg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);

    HSgm h;
    // An earlier slice's sinogram must not survive a refused request.
    ImgDatas plain;
    QVERIFY(plain.addFile(write(9, 4, std::vector<double>(36, 50.0), "r-plain.img")));
    QVERIFY(genSinogram0(&h, plain, true, 4.0, 2));
    QVERIFY(h.isUsable());

    MessageLog log;
    QVERIFY(!genSinogram0(&h, stack, true, cor, slice));
    QVERIFY(!h.isUsable());
    QCOMPARE(h.width, 0);
    QVERIFY(h.sgm.empty());
    if (!message.isEmpty())
        QVERIFY2(log.messages().join(' ').contains(message.section(" : ", 0, 0)),
                 qPrintable(log.messages().join('\n')));
    if (!message.isEmpty())
        QVERIFY2(log.messages().join(' ').contains(message.section(" : ", 1)),
                 qPrintable(log.messages().join('\n')));
}

void tst_Sinogram::columnsWhenAxisHorizontal()
{
    // 3 wide, 8 high, pixel (x, y) = 10 y + x + 1; the line of slice 2 is column 2.
    std::vector<double> v(24);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 3; ++x)
            v[size_t(y * 3 + x)] = 10 * y + x + 1;
    ImgDatas stack;
    QVERIFY(stack.addFile(write(3, 8, v, "col.img")));
    HSgm h;
    QVERIFY(genSinogram0(&h, stack, false, 3.5, 2));
    // halfWidth floor(min(3.5, 3.5)) = 3: positions 1.5 ... 5.5 down column 2.
    QCOMPARE(h.width, 5);
    for (int k = 0; k < 5; ++k) {
        const double y = 1.5 + k;
        QCOMPARE(h.rawRow(0)[k], 10 * y + 3);
        QCOMPARE(h.sgmRow(0)[k], -std::log(10 * y + 3));
    }
    QVERIFY(!genSinogram0(&h, stack, false, 3.5, 3)); // only 3 columns
}

QTEST_GUILESS_MAIN(tst_Sinogram)
#include "tst_Sinogram.moc"
