#include "CtTestStack.h"
#include "EngineRig.h"
#include "ct/CtFbp.h"
#include "ct/FloatTiff.h"
#include "ct/HSgm.h"
#include "ct/RingRemoval.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace EngineRig;

// The engine on its own thread, without a window: results bit for bit those of
// the core, slices taken together, the run's settings, many engines at once.
// Its reports on a result panel are tested in tests/disp/tst_EnginePanel.cpp.
class tst_Engine : public QObject
{
    Q_OBJECT

private:
    CtTestStack scan;
    static constexpr double cor = 23.25;

private slots:
    void initTestCase();
    void secondRequestRunsAfterTheFirst();
    void sliceGroupEqualsSlicesAlone_data();
    void sliceGroupEqualsSlicesAlone();
    void filterAndFormatsOfTheRun_data();
    void filterAndFormatsOfTheRun();
    void singlePrecisionRun_data();
    void singlePrecisionRun();
    void runSettingsAreTakenAtRunStart();
    void manyEnginesAtOnce();
};

void tst_Engine::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(scan.make(48, 5, 36, cor));
}

void tst_Engine::secondRequestRunsAfterTheFirst()
{
    Rig rig(&scan.stack);
    rig.setupFFT(fftLength(scan.width, cor), scan.count);
    rig.engine->setSaveData(true, QStringLiteral("res"), QStringLiteral("ct"), QStringLiteral("t"));
    SliceGate gate(rig.engine);
    gate.arm();
    rig.request(cor, 1);
    QVERIFY(gate.waitInside());
    QVERIFY(rig.engine->isBusy());
    rig.request(cor, 3);
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 2, waitMs);

    QCOMPARE(rig.started, (QList<int>{1, 3}));
    QCOMPARE(rig.results.size(), 2);
    QVERIFY(rig.results[0].values == coreResult(scan.stack, cor, 1));
    QVERIFY(rig.results[1].values == coreResult(scan.stack, cor, 3));
    // Each slice is saved under its own number.
    QCOMPARE(rig.savedData.size(), 2);
    QCOMPARE(rig.savedData[0].no, QStringLiteral("00001"));
    QCOMPARE(rig.savedData[1].no, QStringLiteral("00003"));
}

void tst_Engine::sliceGroupEqualsSlicesAlone_data()
{
    QTest::addColumn<QList<int>>("slices");
    QTest::addColumn<QRectF>("region"); // x0, z0, x1 - x0, z1 - z0; empty for never set
    QTest::newRow("2 slices") << QList<int>{1, 3} << QRectF();
    QTest::newRow("4 slices, part region") << QList<int>{0, 1, 2, 4} << QRectF(4, 6, 26, 22);
    QTest::newRow("3 slices, the middle one unusable") << QList<int>{4, 9, 0} << QRectF();
}

// Slices taken together are shown and saved as if taken one at a time, each
// with its own report, and the engine then takes single requests again.
void tst_Engine::sliceGroupEqualsSlicesAlone()
{
    QFETCH(QList<int>, slices);
    QFETCH(QRectF, region);
    Rig rig(&scan.stack);
    CtCalc2::Region calcRegion;
    if (!region.isEmpty())
        calcRegion = {true, region.left(), region.top(), region.right(), region.bottom()};
    const int n = fftLength(scan.width, cor);
    rig.setupFFT(n, scan.count, calcRegion);
    rig.engine->setSaveData(true, QStringLiteral("res"), QStringLiteral("ct"), QStringLiteral("t"));
    rig.engine->setSliceGroup(int(slices.size()));
    for (const int slice : std::as_const(slices))
        rig.request(cor, slice);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, int(slices.size()), waitMs);
    QVERIFY(!rig.engine->isBusy());
    rig.request(cor, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, int(slices.size()) + 1, waitMs);

    const QRectF r = region.isEmpty() ? QRectF(0, 0, n, n) : region;
    QList<int> expectedSlices;
    for (const int slice : std::as_const(slices))
        if (slice < scan.rows)
            expectedSlices << slice;
    expectedSlices << 2;
    QCOMPARE(rig.results.size(), expectedSlices.size());
    QCOMPARE(rig.savedData.size(), expectedSlices.size());
    for (int k = 0; k < expectedSlices.size(); ++k) {
        const int slice = expectedSlices[k];
        const QVector<double> expected =
            coreResult(scan.stack, cor, slice, r.left(), r.top(), r.right(), r.bottom());
        QVERIFY2(rig.results[k].values == expected, qPrintable(QString::number(slice)));
        QCOMPARE(rig.savedData[k].no, QStringLiteral("%1").arg(slice, 5, 10, QChar('0')));
    }
}

void tst_Engine::filterAndFormatsOfTheRun_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("padded");
    QTest::addColumn<bool>("dat");
    QTest::addColumn<bool>("tiff");
    QTest::newRow("padded hann, TIFF only") << "hann" << true << false << true;
    QTest::newRow("plain ramp, both formats") << "ramp" << false << true << true;
    QTest::newRow("padded ramp, dat only") << "ramp" << true << true << false;
}

void tst_Engine::filterAndFormatsOfTheRun()
{
    QFETCH(QString, filter);
    QFETCH(bool, padded);
    QFETCH(bool, dat);
    QFETCH(bool, tiff);
    Rig rig(&scan.stack);
    const int n = fftLength(scan.width, cor);
    const int slice = 2;
    CtRunParams params;
    params.filterName = filter;
    params.filterPadded = padded;
    rig.engine->setRunParams(params);
    rig.engine->setSaveDataFormat(dat, tiff);
    rig.engine->setSaveData(true, "res", "ct", "7112_5eV");
    rig.setupFFT(n, scan.count, {true, 3, 4, 40, 30.5});
    rig.request(cor, slice);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);
    QCoreApplication::processEvents();

    // The same filter on the core directly.
    HSgm sgm;
    QVERIFY(genSinogram0(&sgm, scan.stack, true, cor, slice));
    CtFbp fbp;
    CtFilter::Window window;
    QVERIFY(CtFilter::windowOf(filter, &window));
    QVERIFY(fbp.setFilter(window, padded));
    QVERIFY(fbp.setup(n, scan.count));
    QVERIFY(fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 3, 40, 4, 30.5));
    QCOMPARE(rig.results.size(), 1);
    QVERIFY(
        std::equal(rig.results[0].values.cbegin(), rig.results[0].values.cend(), fbp.resultRow(0)));

    QCOMPARE(rig.savedData.size(), 1);
    const Saved &saved = rig.savedData[0];
    QCOMPARE(saved.writeDat, dat);
    if (dat)
        QCOMPARE(saved.data, SavingData::resultText(n, fbp.resultRow(0), 3, 4, 40, 30.5));
    QCOMPARE(saved.tiff.isEmpty(), !tiff);
    if (!tiff)
        return;
    FloatTiff image;
    QVERIFY(FloatTiff::decode(saved.tiff, &image));
    // Columns 3 ... 39, rows 4 ... 30: the pixels of the ".dat" text.
    QCOMPARE(image.width, 37);
    QCOMPARE(image.height, 27);
    QCOMPARE(image.xPosition, 3.0);
    QCOMPARE(image.yPosition, 4.0);
    for (int z = 0; z < image.height; ++z)
        for (int x = 0; x < image.width; ++x)
            QCOMPARE(image.values[size_t(z) * image.width + x], float(fbp.resultRow(z + 4)[x + 3]));
    const QJsonObject info = QJsonDocument::fromJson(image.description.toUtf8()).object();
    QCOMPARE(info.value("orvo2").toString(), QStringLiteral("ct-slice"));
    QCOMPARE(info.value("filter").toString(), filter);
    QCOMPARE(info.value("padded").toInt(), padded ? 1 : 0);
    QCOMPARE(info.value("projections").toInt(), scan.count);
    QCOMPARE(info.value("n").toInt(), n);
    QCOMPARE(info.value("slice").toInt(), slice);
    QCOMPARE(info.value("cor").toDouble(), cor);
    QCOMPARE(info.value("energy_eV").toDouble(), 7112.5);
    QCOMPARE(info.value("x1").toDouble(), 40.0);
    QCOMPARE(info.value("z1").toDouble(), 30.5);
}

void tst_Engine::singlePrecisionRun_data()
{
    QTest::addColumn<int>("ringWindow");
    QTest::newRow("plain: the core's single slice bit for bit") << 0;
    QTest::newRow("ring removal on the float sinogram") << 11;
}

// An engine in single precision keeps its sinogram and result in float: without
// ring removal its values, text and TIFF are those of a single core given the
// double sinogram; with it, within 1e-5 of the double slice's range.
void tst_Engine::singlePrecisionRun()
{
    QFETCH(int, ringWindow);
    Rig rig(&scan.stack);
    const int n = fftLength(scan.width, cor);
    CtRunParams params;
    params.precision = QStringLiteral("single");
    rig.engine->setRunParams(params);
    rig.engine->setRingRemoval(ringWindow);
    rig.engine->setSaveDataFormat(true, true);
    rig.engine->setSaveData(true, "res", "ct", "t");
    rig.setupFFT(n, scan.count);
    rig.request(cor, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);
    QCoreApplication::processEvents();
    QCOMPARE(rig.results.size(), 1);
    QCOMPARE(rig.savedData.size(), 1);

    HSgm sgm;
    QVERIFY(genSinogram0(&sgm, scan.stack, true, cor, 2));
    if (ringWindow > 0)
        RingRemoval::apply(sgm.sgm.data(), sgm.width, sgm.height, ringWindow);
    CtFbp exact, single;
    QVERIFY(single.setPrecision(CtFbp::Precision::Single));
    for (CtFbp *core : {&exact, &single})
        QVERIFY(core->setup(n, scan.count) &&
                core->reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, n, 0, n));
    const QVector<double> &got = rig.results[0].values;
    QCOMPARE(got.size(), qsizetype(n) * n);
    if (ringWindow == 0) {
        QVector<double> expected(got.size());
        single.copyResult(expected.data());
        QVERIFY(got == expected);
        QCOMPARE(rig.savedData[0].data, SavingData::resultText(n, single.rows(), 0, 0, n, n));
        FloatTiff image;
        QVERIFY(FloatTiff::decode(rig.savedData[0].tiff, &image));
        QVERIFY(std::equal(image.values.cbegin(), image.values.cend(), single.resultRowSingle(0)));
    }
    exact.calcMinMax();
    double worst = 0.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            worst = std::max(worst, std::fabs(got[qsizetype(z) * n + x] - exact.resultAt(x, z)));
    QVERIFY2(worst <= 1e-5 * (exact.max() - exact.min()), qPrintable(QString::number(worst)));
}

// A slice that is running when the next run is set up finishes with its own
// set-up, region and save settings; the next slice has the new ones.
void tst_Engine::runSettingsAreTakenAtRunStart()
{
    Rig rig(&scan.stack);
    const double otherCor = 20.5;
    rig.setupFFT(fftLength(scan.width, cor), scan.count, {true, 4, 6, 30, 28});
    rig.engine->setSaveData(true, QStringLiteral("first"), QStringLiteral("ct"), QString());
    SliceGate gate(rig.engine);
    gate.arm();
    rig.request(cor, 2);
    QVERIFY(gate.waitInside());

    rig.setupFFT(fftLength(scan.width, otherCor), scan.count, {true, 0, 0, 10, 10});
    rig.engine->setSaveData(true, QStringLiteral("second"), QStringLiteral("ct"), QString());
    rig.request(otherCor, 2);
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 2, waitMs);

    const int n1 = fftLength(scan.width, cor);
    const int n2 = fftLength(scan.width, otherCor);
    QVERIFY(n1 != n2);
    QCOMPARE(rig.results.size(), 2);
    QVERIFY(rig.results[0].values == coreResult(scan.stack, cor, 2, 4, 6, 30, 28));
    QVERIFY(rig.results[1].values == coreResult(scan.stack, otherCor, 2, 0, 0, 10, 10));
    QCOMPARE(rig.savedData.size(), 2);
    QCOMPARE(rig.savedData[0].path, QStringLiteral("first"));
    QVERIFY(rig.savedData[0].data.contains("# sx,sy, ex,ey   : 4\t6\t30\t28\n"));
    QCOMPARE(rig.savedData[1].path, QStringLiteral("second"));
    QVERIFY(rig.savedData[1].data.contains("# sx,sy, ex,ey   : 0\t0\t10\t10\n"));
}

// Every engine plans its FFT on its own thread; under the sanitizer build this
// shows that planning is serialised.
void tst_Engine::manyEnginesAtOnce()
{
    constexpr int engines = 12;
    std::vector<std::unique_ptr<Rig>> rigs;
    const double cors[] = {cor, 20.5, 17.25};
    for (int i = 0; i < engines; ++i) {
        rigs.push_back(std::make_unique<Rig>(&scan.stack));
        const double c = cors[i % 3];
        rigs.back()->setupFFT(fftLength(scan.width, c), scan.count);
    }
    for (int i = 0; i < engines; ++i) {
        rigs[i]->request(cors[i % 3], i % 5);
        rigs[i]->request(cors[i % 3], (i + 2) % 5);
    }
    for (int i = 0; i < engines; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(rigs[i]->finished, 2, waitMs);
    for (int i = 0; i < engines; ++i) {
        QCOMPARE(rigs[i]->results.size(), 2);
        QVERIFY(rigs[i]->results[0].values == coreResult(scan.stack, cors[i % 3], i % 5));
        QVERIFY(rigs[i]->results[1].values == coreResult(scan.stack, cors[i % 3], (i + 2) % 5));
    }
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_Engine.moc"
