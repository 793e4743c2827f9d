// Values to grey levels: every display and saved picture shares this rule, so its
// levels are pinned here as numbers (the top 1/256 of the window white, NaN black).

#include "util/GreyPicture.h"

#include <QTest>

#include <cmath>
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
    QTest::addColumn<GreyScale>("scale");
    QTest::addColumn<QByteArray>("expected");
    // Of the values -1, 0, 0.5, 0.999, 1, 2, NaN, inf, -inf.
    QTest::newRow("range 0..1") << GreyScale{0, 1, 0, 1}
                                << QByteArray::fromHex("00 00 80 ff ff ff 00 ff 00");
    QTest::newRow("range -1..2") << GreyScale{-1, 2, 0, 1}
                                 << QByteArray::fromHex("00 55 80 aa aa ff 00 ff 00");
    QTest::newRow("handles at a quarter and a half")
        << GreyScale{0, 1, 0.25, 0.5} << QByteArray::fromHex("00 00 ff ff ff ff 00 ff 00");
    QTest::newRow("zero range: black or white by the sign, NaN black")
        << GreyScale{1, 1, 0, 1} << QByteArray::fromHex("00 00 00 00 00 ff 00 ff 00");
}

void tst_GreyPicture::levels()
{
    QFETCH(GreyScale, scale);
    QFETCH(QByteArray, expected);
    const std::vector<double> values = {-1, 0, 0.5, 0.999, 1, 2, NAN, INFINITY, -INFINITY};
    const std::vector<float> floats(values.begin(), values.end());
    const int w = int(values.size());
    auto line = [](const QImage &image, int z) {
        return QByteArray(reinterpret_cast<const char *>(image.constScanLine(z)), image.width());
    };

    QCOMPARE(line(GreyPicture::of(w, 1, scale, [&](int) { return values.data(); }), 0), expected);
    // Floats painted at column 1, row 1 of a black picture: the same levels, nothing
    // around them touched.
    QImage picture(w + 1, 2, QImage::Format_Grayscale8);
    picture.fill(0);
    GreyPicture::paint(&picture, 1, 1, w, 1, scale, [&](int) { return floats.data(); });
    QCOMPARE(line(picture, 0), QByteArray(w + 1, '\0'));
    QCOMPARE(line(picture, 1), '\0' + expected);
}

QTEST_GUILESS_MAIN(tst_GreyPicture)
#include "tst_GreyPicture.moc"
