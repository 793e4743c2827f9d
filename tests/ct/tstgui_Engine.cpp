#include "CtTestStack.h"
#include "ct/CtCalc2.h"
#include "ct/CtFbp.h"
#include "ct/FloatTiff.h"
#include "ct/HSgm.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "ct/SgmGeom.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/EngineLink.h"
#include "disp/ImgDispWPV.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

constexpr int waitMs = 60000;

struct Result
{
    int slice = -1;
    QVector<double> values;
    int width = 0;
    QImage picture;
};

struct Saved
{
    QString no;
    QString path;
    QByteArray data;
    bool writeDat = true;
    QByteArray tiff;
};

int fftLength(int width, double cor)
{
    return setGeom(true, width, cor).width / 2 * 2;
}

// One engine on a thread of its own with its result panel, wired as the main
// window wires it; what reaches the GUI thread is recorded here.
class Rig : public QObject
{
    Q_OBJECT

public:
    explicit Rig(const ImgDatas *stack)
        : engine(new CtCalc2)
        , link(engine, &panel)
    {
        engine->setStack(stack);
        engine->moveToThread(&thread);
        connect(this, &Rig::startCt, engine, &CtCalc2::startCt, Qt::QueuedConnection);
        connect(engine, &CtCalc2::startedCt, this, [this](int slice) { started << slice; });
        connect(
            engine, &CtCalc2::resultReady, this,
            [this](QImage picture, QVector<double> values, int width, int) {
                results << Result{started.isEmpty() ? -1 : started.last(), values, width, picture};
            });
        connect(engine, &CtCalc2::calcFinished, this, [this] { ++finished; });
        connect(engine, &CtCalc2::saveDataWDiscard, this, [this](SavingData *record) {
            if (record->failure.isEmpty())
                savedData << Saved{record->no, record->path, record->data, record->writeDat,
                                   record->tiff};
            else
                failures << record->failure;
            delete record;
        });
        connect(engine, &CtCalc2::saveImgWDiscard, this, [this](SavingImg *record) {
            savedImages << record->no;
            delete record;
        });
        thread.start();
    }
    ~Rig() override
    {
        thread.quit();
        thread.wait();
        delete engine;
    }

    void request(double cor, int slice) { emit startCt(engine, true, cor, slice, true); }
    // A run's set-up with the panel's region and scale, as the engine pool does it.
    void setupFFT(int n, int count) { engine->setupFFT(n, count, link.calcRegion(), link.scale()); }

    CtCalc2Ui panel;
    CtCalc2 *engine;
    EngineLink link;
    QThread thread;
    QList<int> started;
    QList<Result> results;
    QList<Saved> savedData;
    QStringList failures;
    QStringList savedImages;
    int finished = 0;

signals:
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
};

// Holds the engine inside its next slice, just after it has become busy, until
// release() — so that the GUI thread can act while a slice is running.
class SliceGate
{
public:
    explicit SliceGate(CtCalc2 *engine)
    {
        QObject::connect(
            engine, &CtCalc2::startedCt, engine,
            [this](int) {
                if (!armed.exchange(false))
                    return;
                inside.release();
                go.acquire();
            },
            Qt::DirectConnection);
    }
    void arm() { armed = true; }
    bool waitInside() { return inside.tryAcquire(1, waitMs); }
    void release() { go.release(); }

private:
    std::atomic<bool> armed{false};
    QSemaphore inside;
    QSemaphore go;
};

} // namespace

class tst_Engine : public QObject
{
    Q_OBJECT

private:
    CtTestStack scan;
    static constexpr double cor = 23.25;

private slots:
    void initTestCase();
    void sliceOnThreadEqualsCore_data();
    void sliceOnThreadEqualsCore();
    void secondRequestRunsAfterTheFirst();
    void sliceGroupEqualsSlicesAlone_data();
    void sliceGroupEqualsSlicesAlone();
    void filterAndFormatsOfTheRun_data();
    void filterAndFormatsOfTheRun();
    void runSettingsAreTakenAtRunStart();
    void unusableSinogramStillFinishes_data();
    void unusableSinogramStillFinishes();
    void neverSetRegionBecomesFullAndStays();
    void colourBarChangeRedraws();
    void manyEnginesAtOnce();
};

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
    rig.panel.setCR(3, 4, 40, 30.5);
    rig.setupFFT(n, scan.count);
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

void tst_Engine::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(scan.make(48, 5, 36, cor));
}

void tst_Engine::sliceOnThreadEqualsCore_data()
{
    QTest::addColumn<double>("corUsed");
    QTest::addColumn<int>("slice");
    QTest::newRow("CoR of the scan, middle slice") << cor << 2;
    QTest::newRow("CoR off by a half, first slice") << cor + 0.5 << 0;
    QTest::newRow("CoR near the left edge, last slice") << 9.75 << 4;
}

void tst_Engine::sliceOnThreadEqualsCore()
{
    QFETCH(double, corUsed);
    QFETCH(int, slice);
    Rig rig(&scan.stack);
    const int n = fftLength(scan.width, corUsed);
    rig.setupFFT(n, scan.count);
    rig.engine->setSaveData(true, QStringLiteral("res"), QStringLiteral("ct"), QStringLiteral("t"));
    rig.request(corUsed, slice);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);

    const QVector<double> expected = coreResult(scan.stack, corUsed, slice);
    QCOMPARE(expected.size(), qsizetype(n) * n);
    QCOMPARE(rig.results.size(), 1);
    QCOMPARE(rig.results[0].width, n);
    QVERIFY(rig.results[0].values == expected); // bit for bit
    QCOMPARE(rig.results[0].picture.size(), QSize(n, n));
    QCOMPARE(rig.savedData.size(), 1);
    QCOMPARE(rig.savedData[0].data, SavingData::resultText(n, expected.constData(), 0, 0, n, n));
    QCOMPARE(rig.panel.findChild<QLineEdit *>("ShowSliceNo")->text(), QString::number(slice));
    QVERIFY(!rig.panel.findChild<QLineEdit *>("EndT")->text().isEmpty());
    QVERIFY(!rig.engine->isBusy());
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
    if (!region.isEmpty())
        rig.panel.setCR(region.left(), region.top(), region.right(), region.bottom());
    const int n = fftLength(scan.width, cor);
    rig.setupFFT(n, scan.count);
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

// A slice that is running when the next run is set up finishes with its own
// set-up, region and save settings; the next slice has the new ones.
void tst_Engine::runSettingsAreTakenAtRunStart()
{
    Rig rig(&scan.stack);
    rig.panel.setCR(4, 6, 30, 28);
    const double otherCor = 20.5;
    rig.setupFFT(fftLength(scan.width, cor), scan.count);
    rig.engine->setSaveData(true, QStringLiteral("first"), QStringLiteral("ct"), QString());
    SliceGate gate(rig.engine);
    gate.arm();
    rig.request(cor, 2);
    QVERIFY(gate.waitInside());

    rig.panel.setCR(0, 0, 10, 10);
    rig.setupFFT(fftLength(scan.width, otherCor), scan.count);
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

void tst_Engine::unusableSinogramStillFinishes_data()
{
    QTest::addColumn<double>("corUsed");
    QTest::addColumn<int>("slice");
    QTest::addColumn<int>("setupN");
    QTest::addColumn<int>("setupP");
    const int n = fftLength(48, cor);
    QTest::newRow("CoR below 1") << 0.7 << 2 << n << 36;
    QTest::newRow("CoR at the far edge") << 48.0 << 2 << n << 36;
    QTest::newRow("slice below the image") << cor << 5 << n << 36;
    QTest::newRow("negative slice") << cor << -1 << n << 36;
    QTest::newRow("width other than the set-up") << cor << 2 << n + 2 << 36;
    QTest::newRow("projections other than the set-up") << cor << 2 << n << 35;
    QTest::newRow("no set-up at all") << cor << 2 << 0 << 0;
}

void tst_Engine::unusableSinogramStillFinishes()
{
    QFETCH(double, corUsed);
    QFETCH(int, slice);
    QFETCH(int, setupN);
    QFETCH(int, setupP);
    Rig rig(&scan.stack);
    if (setupN > 0)
        rig.setupFFT(setupN, setupP);
    rig.engine->setSaveData(true, QStringLiteral("res"), QStringLiteral("ct"), QString());
    rig.engine->setSaveImage(true, QStringLiteral("res"), QStringLiteral("ct"), QString());
    rig.request(corUsed, slice);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);
    QCoreApplication::processEvents();
    QVERIFY(rig.results.isEmpty());
    QVERIFY(rig.savedData.isEmpty());
    QVERIFY(rig.savedImages.isEmpty());
    // The saver hears of the failure, for the run record.
    QCOMPARE(rig.failures.size(), 1);
    QVERIFY(!rig.engine->isBusy());
    QVERIFY(!rig.panel.findChild<QLineEdit *>("StartT")->text().isEmpty());
    QVERIFY(!rig.panel.findChild<QLineEdit *>("EndT")->text().isEmpty());
}

void tst_Engine::neverSetRegionBecomesFullAndStays()
{
    Rig rig(&scan.stack);
    QVERIFY(!rig.panel.calcRegionChanged());
    const double smallCor = 20.5;
    const int n1 = fftLength(scan.width, smallCor);
    const int n2 = fftLength(scan.width, cor);
    QVERIFY(n2 > n1);

    rig.setupFFT(n1, scan.count);
    rig.request(smallCor, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);
    QTRY_VERIFY(rig.panel.calcRegionChanged());
    QCOMPARE(rig.panel.cRx0(), 0.0);
    QCOMPARE(rig.panel.cRz0(), 0.0);
    QCOMPARE(rig.panel.cRx1(), double(n1));
    QCOMPARE(rig.panel.cRz1(), double(n1));

    // A later run with a larger N keeps the region.
    rig.setupFFT(n2, scan.count);
    rig.request(cor, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 2, waitMs);
    QCOMPARE(rig.panel.cRx1(), double(n1));
    QCOMPARE(rig.panel.cRz1(), double(n1));
    QVERIFY(rig.results[1].values == coreResult(scan.stack, cor, 2, 0, 0, n1, n1));
}

// A change of the colour bar redraws the picture from the engine's copy of the
// bar; a fixed scale is kept and used.
void tst_Engine::colourBarChangeRedraws()
{
    Rig rig(&scan.stack);
    rig.setupFFT(fftLength(scan.width, cor), scan.count);
    rig.request(cor, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.finished, 1, waitMs);
    QTRY_COMPARE(rig.results.size(), 1);
    const QVector<double> values = rig.results[0].values;
    const double top = *std::max_element(values.begin(), values.end());
    QCOMPARE(rig.panel.bar()->max(), top);

    // A fixed window from 0 to a hair above it: positive values white, the rest black.
    rig.panel.setFixColorScale(true);
    rig.panel.setCBarMinMaxForced(0, 1e-300);
    emit rig.panel.display()->newBar();
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.size(), 2, waitMs);
    const QImage picture = rig.results[1].picture;
    const int n = rig.results[1].width;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            QCOMPARE(qGray(picture.pixel(x, z)), values[z * n + x] > 0 ? 255 : 0);
    QCOMPARE(rig.panel.bar()->max(), 1e-300);
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

QTEST_MAIN(tst_Engine)
#include "tstgui_Engine.moc"
