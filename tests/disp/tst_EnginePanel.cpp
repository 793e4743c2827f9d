#include "ct/CtTestStack.h"
#include "ct/EngineRig.h"
#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/EngineLink.h"
#include "disp/ImgDispWPV.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QtTest>

#include <algorithm>

using namespace EngineRig;

namespace {

// An engine wired to its result panel as the main window wires it; a run's
// set-up takes the panel's region and colour scale.
class PanelRig : public Rig
{
public:
    explicit PanelRig(const ImgDatas *stack)
        : Rig(stack)
        , link(engine, &panel)
    {
    }
    // The engine's thread ends before the panel it reports to.
    ~PanelRig() override { stop(); }

    void setupFFT(int n, int count) { engine->setupFFT(n, count, link.calcRegion(), link.scale()); }

    CtCalc2Ui panel;
    EngineLink link;
};

} // namespace

// What an engine shows on its result panel: the slice and the times, the region
// that was never set, a change of the colour bar.
class tst_EnginePanel : public QObject
{
    Q_OBJECT

private:
    CtTestStack scan;
    static constexpr double cor = 23.25;

private slots:
    void initTestCase();
    void sliceOnThreadEqualsCore_data();
    void sliceOnThreadEqualsCore();
    void unusableSinogramStillFinishes_data();
    void unusableSinogramStillFinishes();
    void neverSetRegionBecomesFullAndStays();
    void colourBarChangeRedraws();
};

void tst_EnginePanel::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(scan.make(48, 5, 36, cor));
}

void tst_EnginePanel::sliceOnThreadEqualsCore_data()
{
    QTest::addColumn<double>("corUsed");
    QTest::addColumn<int>("slice");
    QTest::newRow("CoR of the scan, middle slice") << cor << 2;
    QTest::newRow("CoR off by a half, first slice") << cor + 0.5 << 0;
    QTest::newRow("CoR near the left edge, last slice") << 9.75 << 4;
}

void tst_EnginePanel::sliceOnThreadEqualsCore()
{
    QFETCH(double, corUsed);
    QFETCH(int, slice);
    PanelRig rig(&scan.stack);
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

void tst_EnginePanel::unusableSinogramStillFinishes_data()
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

void tst_EnginePanel::unusableSinogramStillFinishes()
{
    QFETCH(double, corUsed);
    QFETCH(int, slice);
    QFETCH(int, setupN);
    QFETCH(int, setupP);
    PanelRig rig(&scan.stack);
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

void tst_EnginePanel::neverSetRegionBecomesFullAndStays()
{
    PanelRig rig(&scan.stack);
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
void tst_EnginePanel::colourBarChangeRedraws()
{
    PanelRig rig(&scan.stack);
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

QTEST_MAIN(tst_EnginePanel)
#include "tst_EnginePanel.moc"
