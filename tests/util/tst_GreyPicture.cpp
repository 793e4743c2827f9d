// Values to grey levels: every display and saved picture shares this rule, so its
// levels are pinned here as numbers (the top 1/256 of the window white, NaN black).

#include "util/GreyPicture.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

class tst_GreyPicture : public QObject
{
    Q_OBJECT

private slots:
    void levels_data();
    void levels();
};

void tst_GreyPicture::levels_data()
{
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<int>("x0");
    QTest::addColumn<int>("z0");
    QTest::addColumn<QByteArray>("expected");

    // The values of every row: -1, 0, 0.5, 0.999, 1, 2, NaN, inf, -inf.
    QTest::newRow("range 0..1 at the corner")
        << 0.0 << 1.0 << 0.0 << 1.0 << 0 << 0
        << QByteArray::fromHex("00 00 80 ff ff ff 00 ff 00  00 00 80 ff ff ff 00 ff 00");
    QTest::newRow("range -1..2 at an offset, black around it")
        << -1.0 << 2.0 << 0.0 << 1.0 << 1 << 1
        << QByteArray::fromHex("00 00 00 00 00 00 00 00 00 00  00 00 55 80 aa aa ff 00 ff 00"
                               "  00 00 55 80 aa aa ff 00 ff 00");
    QTest::newRow("handles at a quarter and a half")
        << 0.0 << 1.0 << 0.25 << 0.5 << 0 << 0
        << QByteArray::fromHex("00 00 ff ff ff ff 00 ff 00  00 00 ff ff ff ff 00 ff 00");
    QTest::newRow("zero range: black or white by the sign, NaN black")
        << 1.0 << 1.0 << 0.0 << 1.0 << 0 << 0
        << QByteArray::fromHex("00 00 00 00 00 ff 00 ff 00  00 00 00 00 00 ff 00 ff 00");
}

void tst_GreyPicture::levels()
{
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(int, x0);
    QFETCH(int, z0);
    QFETCH(QByteArray, expected);

    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> row = {-1, 0, 0.5, 0.999, 1, 2, std::nan(""), inf, -inf};
    const std::vector<float> floats(row.begin(), row.end());
    const int w = int(row.size());
    const GreyScale scale{min, max, lo, hi};

    // Doubles into a new picture, floats into a black one at (x0, z0): the same levels.
    QImage picture(x0 + w, z0 + 2, QImage::Format_Grayscale8);
    picture.fill(0);
    GreyPicture::paint(&picture, x0, z0, w, 2, scale, [&](int) { return floats.data(); });
    const QImage fresh = GreyPicture::of(w, 2, scale, [&](int) { return row.data(); });
    QByteArray levels;
    for (int z = 0; z < picture.height(); ++z)
        levels.append(reinterpret_cast<const char *>(picture.constScanLine(z)), picture.width());
    QCOMPARE(levels.toHex(' '), expected.toHex(' '));
    for (int z = 0; z < 2; ++z)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(fresh.constScanLine(z)), w),
                 QByteArray(reinterpret_cast<const char *>(picture.constScanLine(z0 + z)) + x0, w));
}

QTEST_GUILESS_MAIN(tst_GreyPicture)
#include "tst_GreyPicture.moc"
