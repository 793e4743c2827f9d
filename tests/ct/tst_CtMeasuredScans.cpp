#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

// The measured scans beside the project: each folder's geometry.json names the
// projections, I0 and BG images, the CoR and the FFT length.
class tst_CtMeasuredScans : public QObject
{
    Q_OBJECT

private slots:
    void reconstructs_data();
    void reconstructs();
    void sixteenAndThirtyTwoBitAgree();

private:
    struct Slice
    {
        int n = 0;
        std::vector<double> values; // n x n
    };
    static bool reconstruct(const QString &folder, int slice, Slice *out);
};

bool tst_CtMeasuredScans::reconstruct(const QString &folder, int slice, Slice *out)
{
    const QDir dir(QDir(TestSupport::sharedDataDir()).filePath(folder));
    QFile json(dir.filePath(QStringLiteral("geometry.json")));
    if (!json.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject geo = QJsonDocument::fromJson(json.readAll()).object();
    const QJsonObject set = geo.value("sets").toObject().begin()->toObject();
    const QDir projDir(dir.filePath(geo.value("proj_dir").toString()));
    const QStringList files =
        projDir.entryList({set.value("proj_pattern").toString()}, QDir::Files, QDir::Name);
    ImgDatas stack;
    for (const QString &f : files)
        if (!stack.addFile(projDir.filePath(f)))
            return false;
    if (stack.count() != geo.value("proj").toInt())
        return false;
    std::unique_ptr<ImgData> i0(ImgData::newImgData(ImgData::ITEX));
    std::unique_ptr<ImgData> bg(ImgData::newImgData(ImgData::ITEX));
    i0->fileName = dir.filePath(set.value("i0").toString());
    bg->fileName = dir.filePath(geo.value("bg").toString());
    if (!(i0->isOk = i0->open()) || !(bg->isOk = bg->open()))
        return false;
    ImgData *i0Slot = i0.get();
    ImgData *bgSlot = bg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);

    const bool rotAxIsV = geo.value("rot_axis").toString() == QLatin1String("vertical");
    HSgm sgm;
    if (!genSinogram0(&sgm, stack, rotAxIsV, geo.value("cor").toDouble(), slice))
        return false;
    const int N = sgm.width / 2 * 2;
    if (N != geo.value("n_fft").toInt())
        return false;
    CtFbp fbp;
    if (!fbp.setup(N, sgm.height) ||
        !fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, N, 0, N))
        return false;
    out->n = N;
    out->values.assign(fbp.resultRow(0), fbp.resultRow(0) + size_t(N) * N);
    return true;
}

void tst_CtMeasuredScans::reconstructs_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("slice");
    QTest::newRow("tooth, 16-bit") << "tooth" << 1;
    QTest::newRow("tooth, 32-bit") << "tooth_u32" << 0;
    QTest::newRow("dls, 90 projections") << "dls" << 67;
}

void tst_CtMeasuredScans::reconstructs()
{
    QFETCH(QString, folder);
    QFETCH(int, slice);
    if (TestSupport::sharedDataDir().isEmpty())
        QSKIP("measured scans not present");
    Slice s;
    QVERIFY(reconstruct(folder, slice, &s));
    const int N = s.n;
    const double c = N / 2.0;
    // Inside the circle: the object (the brightest tenth) against the ring of air
    // near the edge of the field of view.
    std::vector<double> inside;
    double ringSum = 0.0, ringSq = 0.0;
    int ringCount = 0;
    for (int z = 0; z < N; ++z)
        for (int x = 0; x < N; ++x) {
            const double v = s.values[size_t(z) * N + x];
            QVERIFY2(std::isfinite(v), qPrintable(QStringLiteral("pixel %1, %2").arg(x).arg(z)));
            const double r = std::hypot(x - c, z - c) / c;
            if (r < 1.0)
                inside.push_back(v);
            if (r > 0.88 && r < 0.96) {
                ringSum += v;
                ringSq += v * v;
                ++ringCount;
            }
        }
    std::sort(inside.begin(), inside.end());
    const size_t top = inside.size() / 10;
    double objectMean = 0.0;
    for (size_t k = inside.size() - top; k < inside.size(); ++k)
        objectMean += inside[k];
    objectMean /= double(top);
    const double ringMean = ringSum / ringCount;
    const double ringSd = std::sqrt(std::max(0.0, ringSq / ringCount - ringMean * ringMean));
    const double contrast = (objectMean - ringMean) / ringSd;
    qInfo("%s slice %d: N %d, object %.4g, air %.4g +- %.3g, contrast %.1f", qPrintable(folder),
          slice, N, objectMean, ringMean, ringSd, contrast);
    QVERIFY2(!(contrast < 5.0), qPrintable(QString::number(contrast)));
}

void tst_CtMeasuredScans::sixteenAndThirtyTwoBitAgree()
{
    if (TestSupport::sharedDataDir().isEmpty())
        QSKIP("measured scans not present");
    // Both files hold the same scan; the 16-bit one rounds the source values.
    Slice a, b;
    QVERIFY(reconstruct("tooth", 1, &a));
    QVERIFY(reconstruct("tooth_u32", 1, &b));
    QCOMPARE(a.n, b.n);
    double sa = 0, sb = 0, sab = 0, ma = 0, mb = 0;
    const double n = double(a.values.size());
    for (size_t k = 0; k < a.values.size(); ++k) {
        ma += a.values[k] / n;
        mb += b.values[k] / n;
    }
    for (size_t k = 0; k < a.values.size(); ++k) {
        sa += (a.values[k] - ma) * (a.values[k] - ma);
        sb += (b.values[k] - mb) * (b.values[k] - mb);
        sab += (a.values[k] - ma) * (b.values[k] - mb);
    }
    const double correlation = sab / std::sqrt(sa * sb);
    qInfo("tooth 16-bit vs 32-bit: correlation %.6f", correlation);
    QVERIFY(!(correlation < 0.999));
}

QTEST_GUILESS_MAIN(tst_CtMeasuredScans)
#include "tst_CtMeasuredScans.moc"
