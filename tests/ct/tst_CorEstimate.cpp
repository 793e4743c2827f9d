#include "ct/CorEstimate.h"
#include "tests/ct/ScanFolder.h"
#include "tests/imgdata/ItexWriter.h"
#include "tests/support/TestSupport.h"

#include "DemoGenerator.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// The centre of rotation found from the 0/180-degree symmetry of the raw
// projections, against the known centre of generated noisy scans and the
// published centre of the measured scans.
class tst_CorEstimate : public QObject
{
    Q_OBJECT

private slots:
    void findsGeneratedCentre_data();
    void findsGeneratedCentre();
    void findsMeasuredCentre_data();
    void findsMeasuredCentre();
    void refuses_data();
    void refuses();
    void staysInRange();
};

namespace {

// A noisy demo scan of one energy in a flat layout, loaded with its I0 and BG.
bool makeScan(QTemporaryDir *dir, ScanFolder *scan, int width, int projections, double cor,
              quint32 seed, bool defects = false)
{
    DemoSettings s;
    s.outDir = dir->path();
    s.width = width;
    s.height = 3;
    s.projections = projections;
    s.energies = 1;
    s.cor = cor;
    s.seed = seed;
    s.defects = defects;
    s.layout = DemoSettings::Layout::Flat;
    DemoGenerator generator(s);
    return generator.generate() && scan->load(dir->path());
}

// A stack of `count` identical frames of one grey level.
bool makeFlatStack(QTemporaryDir *dir, ImgDatas *stack, int count)
{
    const std::vector<double> pixels(64 * 4, 1000.0);
    for (int i = 0; i < count; ++i) {
        const QString name = dir->filePath(QStringLiteral("flat-%1.img").arg(i));
        if (!ItexWriter::write(name, 64, 4, 2, pixels) || !stack->addFile(name))
            return false;
    }
    return true;
}

} // namespace

void tst_CorEstimate::findsGeneratedCentre_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("cor");
    QTest::addColumn<bool>("defects");
    // The axis anywhere within +-10 % of the image centre, integer and half-integer.
    QTest::newRow("256, 180 proj, centre") << 256 << 180 << 128.0 << false;
    QTest::newRow("256, 180 proj, centre + 0.5") << 256 << 180 << 128.5 << false;
    QTest::newRow("256, 180 proj, -10 %") << 256 << 180 << 103.0 << false;
    QTest::newRow("256, 180 proj, -10 % + 0.5") << 256 << 180 << 103.5 << false;
    QTest::newRow("256, 180 proj, +10 %") << 256 << 180 << 153.0 << false;
    QTest::newRow("256, 180 proj, +10 % - 0.5") << 256 << 180 << 152.5 << false;
    QTest::newRow("256, 90 proj, off centre") << 256 << 90 << 117.0 << false;
    QTest::newRow("256, 90 proj, off centre + 0.5") << 256 << 90 << 139.5 << false;
    QTest::newRow("128, 120 proj, -10 % + 0.5") << 128 << 120 << 51.5 << false;
    QTest::newRow("128, 120 proj, +10 %") << 128 << 120 << 76.0 << false;
    // A dead column, gain errors and a wide partial stripe; the dead column (at 52 %
    // of the width) lies on the centre in the first row.
    QTest::newRow("defects, 256, on the dead column") << 256 << 180 << 133.0 << true;
    QTest::newRow("defects, 256, centre - 0.75") << 256 << 180 << 127.25 << true;
    QTest::newRow("defects, 256, -10 % + 0.5") << 256 << 180 << 103.5 << true;
    QTest::newRow("defects, 256, +10 %") << 256 << 180 << 153.0 << true;
    QTest::newRow("defects, 128, +10 % - 0.5") << 128 << 120 << 75.5 << true;
}

void tst_CorEstimate::findsGeneratedCentre()
{
    QFETCH(int, width);
    QFETCH(int, projections);
    QFETCH(double, cor);
    QFETCH(bool, defects);
    QTemporaryDir dir;
    ScanFolder scan;
    QVERIFY(makeScan(&dir, &scan, width, projections, cor, quint32(cor * 8), defects));
    const CorEstimate::Result r =
        CorEstimate::fromStack(scan.stack, true, 1, CorEstimate::wholeLine());
    QVERIFY2(r.ok, qPrintable(r.reason));
    qInfo("width %d, %d projections: true %.2f, found %.3f (error %+.3f, confidence %.2f)", width,
          projections, cor, r.cor, r.cor - cor, r.confidence);
    QVERIFY2(std::abs(r.cor - cor) < 0.25, qPrintable(QString::number(r.cor)));
}

void tst_CorEstimate::findsMeasuredCentre_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("slice");
    QTest::newRow("tooth, 16-bit") << "tooth" << 1;
    QTest::newRow("tooth, 32-bit") << "tooth_u32" << 0;
    QTest::newRow("dls") << "dls" << 67;
}

void tst_CorEstimate::findsMeasuredCentre()
{
    QFETCH(QString, folder);
    QFETCH(int, slice);
    if (TestSupport::sharedDataDir().isEmpty())
        QSKIP("measured scans not present");
    ScanFolder scan;
    QVERIFY(scan.load(QDir(TestSupport::sharedDataDir()).filePath(folder)));
    const CorEstimate::Result r =
        CorEstimate::fromStack(scan.stack, scan.rotAxIsV(), slice, CorEstimate::wholeLine());
    QVERIFY2(r.ok, qPrintable(r.reason));
    qInfo("%s: published %.2f, found %.3f (difference %+.3f)", qPrintable(folder), scan.cor(),
          r.cor, r.cor - scan.cor());
    QVERIFY2(std::abs(r.cor - scan.cor()) < 0.5, qPrintable(QString::number(r.cor)));
}

void tst_CorEstimate::refuses_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("reason");
    const double none = std::nan("");
    QTest::newRow("empty stack") << 0 << none << none << "no images";
    QTest::newRow("three projections") << 3 << none << none << "too few projections";
    QTest::newRow("flat sinogram") << 6 << none << none << "flat sinogram";
    QTest::newRow("from above to") << 6 << 40.0 << 20.0 << "empty search range";
    QTest::newRow("range beyond the line") << 6 << 70.0 << 90.0 << "empty search range";
}

void tst_CorEstimate::refuses()
{
    QFETCH(int, frames);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    ImgDatas stack;
    QVERIFY(makeFlatStack(&dir, &stack, frames));
    const CorEstimate::Result r = CorEstimate::fromStack(stack, true, 1, {from, to});
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, reason);
}

void tst_CorEstimate::staysInRange()
{
    // A range that leaves out the true centre has its best match at an end: no
    // centre. One around it finds it.
    QTemporaryDir dir;
    ScanFolder scan;
    QVERIFY(makeScan(&dir, &scan, 128, 60, 64.0, 5, true));
    const CorEstimate::Result r = CorEstimate::fromStack(scan.stack, true, 1, {40.0, 50.0});
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("the best match lies at the end of the search range"));
    const CorEstimate::Result around = CorEstimate::fromStack(scan.stack, true, 1, {60.0, 70.0});
    QVERIFY(around.ok);
    QVERIFY2(std::abs(around.cor - 64.0) < 0.25, qPrintable(QString::number(around.cor)));
}

QTEST_GUILESS_MAIN(tst_CorEstimate)
#include "tst_CorEstimate.moc"
