// The XAFS tab in the main window on a 1920 x 1080 screen, in both languages: with a
// region plotted against two references every legend entry and every figure is shown
// whole, and the map chooser lists the chemical maps; the clusters are drawn in colours
// with a legend and their mean spectra plot together. With ORVO2_SCREENSHOT_DIR set the
// window is saved there as xafs-<language>.png.

#include "body/Body.h"
#include "disp/XafsMapControls.h"
#include "disp/XafsPanel.h"
#include "disp/XafsPlot.h"
#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsChemicalMaps.h"

#include "select/SelectAFile.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <cmath>

using namespace XafsResultFiles;

class TestXafsTab : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void regionPlotShowsEverythingWhole_data();
    void regionPlotShowsEverythingWhole();
    void fitButtonMakesTheMaps();

private:
    // Normalised µ of the two species: edges 4 eV apart, strong and weak white lines.
    static double species(int which, double e)
    {
        const double d = e - (which == 0 ? 7112.0 : 7116.0);
        return 1.0 / (1.0 + std::exp(-d)) +
               (which == 0 ? 0.6 : 0.2) * std::exp(-std::pow((d - 4.0) / 3.0, 2));
    }
    QTemporaryDir dir;
    XafsMapSettings maps;
    int components = 0;
};

void TestXafsTab::initTestCase()
{
    ResultWriter results;
    results.folder = dir.path();
    // Species A's share grows across the picture; a linear background under it.
    const auto mu = [](double e) {
        return [e](int x, int) {
            const double a = std::clamp((x - 4) / 19.0, 0.0, 1.0);
            return 0.02 - 1e-6 * (e - 7100.0) +
                   0.01 * (a * species(0, e) + (1.0 - a) * species(1, e));
        };
    };
    for (double e = 7060.0; e <= 7160.0; e += 4.0)
        QVERIFY(results.write(e, {4}, 4, 6, 20, 12, mu(e)));
    const XafsLayout layout{dir.path(), "smp", false, false, false};
    QCOMPARE(XafsBuilder(layout, XafsSettings()).build(), 1);
    for (int which : {0, 1}) {
        const QString file = dir.filePath(which == 0 ? "A.csv" : "B.csv");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("energy,mu\n");
        for (double e = 7040.0; e <= 7180.0; e += 0.5)
            f.write(QByteArray::number(e) + ',' + QByteArray::number(species(which, e), 'g', 12) +
                    '\n');
        f.close();
        XafsReference r;
        QVERIFY(XafsMapControls::readReference(file, maps.references, &r));
        maps.references.push_back(r);
    }
    const XafsChemicalMaps chemistry(dir.filePath("xafs"), "smp", maps);
    QCOMPARE(chemistry.edgeMaps(), 1);
    QCOMPARE(chemistry.linearCombinationFit(), 1);
    XafsPca pca;
    QVERIFY(chemistry.principalComponents(&pca) && chemistry.clusters(pca, 2));
    components = pca.chosen;
}

void TestXafsTab::regionPlotShowsEverythingWhole_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << "en";
    QTest::newRow("Japanese") << "ja";
}

void TestXafsTab::regionPlotShowsEverythingWhole()
{
    QFETCH(QString, language);
    QTranslator japanese;
    if (language == QLatin1String("ja")) {
        QVERIFY(japanese.load(QStringLiteral(ORVO2_BINARY_DIR "/orvo2_ja_JP.qm")));
        QCoreApplication::installTranslator(&japanese);
    }
    Body body;
    body.resize(1920, 1080);
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    auto *tabs = body.findChild<QTabWidget *>(QStringLiteral("ImgsTab"));
    auto *panel = body.findChild<XafsPanel *>(QStringLiteral("XafsPanel"));
    QVERIFY(tabs && panel);
    tabs->setCurrentWidget(panel);
    panel->setMapSettings(maps);
    panel->setSource(dir.filePath("xafs"), "smp");
    // Jump, E0, edge50, white-line energy and height, two weights, the R-factor, the
    // component scores, the clusters; then the energies.
    QCOMPARE(panel->mapChoice()->count(), 8 + components + 1 + 26);
    panel->mapChoice()->setCurrentIndex(5);
    panel->showSpectrum(12, 9, 14, 11);
    QTest::qWait(50);
    QCOMPARE(panel->spectrumPixels(), 4);
    const XafsPlot *plot = panel->plotView();
    // Data, its lines and E0, the fitted sum and one line per weighted reference.
    QCOMPARE(plot->legendTexts().size(), 8);
    QCOMPARE(plot->fitWeights().size(), size_t(2));
    QVERIFY2(std::abs(plot->fitWeights()[0] - 8.5 / 19.0) < 0.02,
             qPrintable(QString::number(plot->fitWeights()[0])));
    QVERIFY(plot->figuresText().contains(QStringLiteral("E0 = 7")));
    for (const char *name : {"XafsPlotLegend", "XafsPlotFigures", "XafsStatus"}) {
        const auto *label = body.findChild<QLabel *>(QLatin1String(name));
        QVERIFY(label && label->isVisible());
        // Wrapped text needs its height for the width it has; less would cut lines off.
        QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(name)
                                .arg(label->height())
                                .arg(label->heightForWidth(label->width()))));
    }
    QVERIFY2(body.minimumSizeHint().width() <= 1920,
             qPrintable(QString::number(body.minimumSizeHint().width())));
    const QString shots = QString::fromLocal8Bit(qgetenv("ORVO2_SCREENSHOT_DIR"));
    if (!shots.isEmpty())
        QVERIFY(body.grab().save(QDir(shots).filePath("xafs-" + language + ".png")));
    // Two clusters: their map in colours with a legend, their mean spectra together.
    panel->mapChoice()->setCurrentIndex(
        panel->mapChoice()->findText(QCoreApplication::translate("XafsPanel", "Clusters")));
    const auto *legend = body.findChild<QLabel *>(QStringLiteral("XafsClusterLegend"));
    QVERIFY(legend && legend->isVisible() && legend->text().count(QStringLiteral("&#9632;")) >= 2);
    QVERIFY(panel->plotClusterMeans());
    QCOMPARE(plot->legendTexts().size(), 2);
    QTest::qWait(50);
    if (!shots.isEmpty())
        QVERIFY(body.grab().save(QDir(shots).filePath("clusters-" + language + ".png")));
    QCoreApplication::removeTranslator(&japanese);
}

// Fit, pressed in the window, makes the weight maps of the references the tab lists in
// the results of the data row's folder and name, and the chooser lists them after.
void TestXafsTab::fitButtonMakesTheMaps()
{
    QTemporaryDir own;
    ResultWriter results;
    results.folder = own.path();
    for (double e = 7060.0; e <= 7160.0; e += 10.0)
        QVERIFY(results.write(e, {3}));
    QVERIFY(XafsBuilder({own.path(), "smp", false, false, false}, XafsSettings()).build() == 1);
    Body body;
    auto *row = body.findChild<SelectAFile *>(QStringLiteral("SelectDataSaveDir"));
    auto *panel = body.findChild<XafsPanel *>(QStringLiteral("XafsPanel"));
    QVERIFY(row && panel);
    row->setPath(own.path());
    row->setName(QStringLiteral("smp"));
    XafsMapSettings one;
    one.references = {maps.references.front()};
    panel->setMapSettings(one);
    auto *fit = body.findChild<QPushButton *>(QStringLiteral("XafsFit"));
    QVERIFY(fit);
    fit->click();
    QVERIFY(!fit->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(fit->isEnabled(), 20000);
    QVERIFY(QFile::exists(QDir(own.filePath("xafs")).filePath("smp-lcf-A-00003.tif")));
    QVERIFY(panel->mapChoice()->findText(
                QCoreApplication::translate("XafsPanel", "LCF weight of %1").arg("A")) >= 0);
}

QTEST_MAIN(TestXafsTab)
#include "tstgui_XafsTab.moc"
