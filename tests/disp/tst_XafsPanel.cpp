// The XAFS tab: lists the built slices, shows their maps and energies, plots and
// exports the spectrum of a region, and keeps the normalisation settings.

#include "disp/XafsPanel.h"
#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace XafsResultFiles;

class tst_XafsPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsSlicesAndMaps();
    void exportsSpectrumOfRegion();
    void settingsRoundTrip();

private:
    QTemporaryDir dir;
    const std::vector<double> energies = {7090, 7100, 7110, 7115, 7120, 7130, 7150};
};

void tst_XafsPanel::initTestCase()
{
    ResultWriter results;
    results.folder = dir.path();
    for (double e : energies)
        QVERIFY(results.write(e, {4, 9}));
    QCOMPARE(XafsBuilder({dir.path(), "smp", false, false, false}, XafsSettings()).build(), 2);
}

void tst_XafsPanel::listsSlicesAndMaps()
{
    XafsPanel panel;
    panel.setSource(dir.filePath("xafs"), "smp");
    QCOMPARE(panel.sliceChoice()->count(), 2);
    QCOMPARE(panel.sliceChoice()->itemText(1), QStringLiteral("00009"));
    // Jump map, E0 map, then one entry per energy.
    QCOMPARE(panel.mapChoice()->count(), 2 + int(energies.size()));
    // Another data name has nothing built.
    panel.setSource(dir.filePath("xafs"), "none");
    QCOMPARE(panel.sliceChoice()->count(), 0);
}

void tst_XafsPanel::exportsSpectrumOfRegion()
{
    XafsPanel panel;
    panel.resize(900, 600);
    panel.setSource(dir.filePath("xafs"), "smp");
    panel.showSpectrum(10, 8, 13, 10);
    QCOMPARE(panel.spectrumPixels(), 6);
    const QString csv = dir.filePath("panel.csv");
    QVERIFY(panel.exportCsv(csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll())
                                  .split('\n', Qt::SkipEmptyParts)
                                  .filter(QRegularExpression("^[^#]")); // `#` lines skipped
    QCOMPARE(lines.size(), 1 + int(energies.size()));
    const QStringList last = lines.last().split(',');
    QCOMPARE(last[0].toDouble(), energies.back());
    QVERIFY(std::abs(last[2].toDouble() - 1.0) < 1e-4);
    const QString png = dir.filePath("panel.png");
    QVERIFY(panel.exportPng(png));
    QVERIFY(!QImage(png).isNull());
    // Outside the stack there is no spectrum to export.
    panel.showSpectrum(200, 200, 210, 210);
    QCOMPARE(panel.spectrumPixels(), 0);
    QVERIFY(!panel.exportCsv(dir.filePath("none.csv")));
}

void tst_XafsPanel::settingsRoundTrip()
{
    XafsPanel panel;
    XafsSettings s;
    s.preEdge1 = 7000;
    s.preEdge2 = 7080;
    s.minJump = 0.25;
    s.registerEnergies = true;
    panel.setSettings(s);
    const XafsSettings back = panel.settings();
    QCOMPARE(back.preEdge2, 7080.0);
    QVERIFY(std::isnan(back.postEdge1) && std::isnan(back.fixedE0));
    QCOMPARE(back.minJump, 0.25);
    QVERIFY(back.registerEnergies);
    // Text that is not a number is the default.
    panel.findChild<QLineEdit *>("XafsPreEdge1")->setText("abc");
    QVERIFY(std::isnan(panel.settings().preEdge1));
}

QTEST_MAIN(tst_XafsPanel)
#include "tst_XafsPanel.moc"
