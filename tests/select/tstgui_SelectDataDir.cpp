#include "DemoGenerator.h"
#include "select/SelectDataDir.h"
#include "select/CtFileSet.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList entries(SelectDataDir *panel)
{
    QStringList texts;
    auto *box = panel->findChild<QComboBox *>("SubDirs");
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList namesOf(const QFileInfoList &files)
{
    QStringList names;
    for (const QFileInfo &info : files)
        names << info.fileName();
    return names;
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

class TstSelectDataDir : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileSetsOfTheDemo();
    void stepping();
    void subDirectoriesOfTheDemo();
    void keVAndNamesWithoutHyphens();
    void emptyScans();

private:
    QTemporaryDir flatDemo;
    QTemporaryDir subDirDemo;
    static constexpr int projections = 4;
};

void TstSelectDataDir::initTestCase()
{
    DemoSettings s;
    s.width = 16;
    s.height = 2;
    s.projections = projections;
    s.energies = 3;
    s.outDir = flatDemo.path();
    s.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = subDirDemo.path();
    s.layout = DemoSettings::Layout::SubDirs;
    QVERIFY(DemoGenerator(s).generate());
}

void TstSelectDataDir::fileSetsOfTheDemo()
{
    SelectDataDir panel;
    QSignalSpy newSets(&panel, &SelectDataDir::newSets);
    QSignalSpy files(&panel, &SelectDataDir::selectedFileInfoList);
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QCOMPARE(newSets.count(), 1);
    QCOMPARE(newSets.at(0).at(0).toInt(), 3);
    // The sample is named once for a run of sets of one sample.
    QCOMPARE(entries(&panel), (QStringList{"1 : demo (7092[eV], 4)", "2 :      (7112[eV], 4)",
                                           "3 :      (7132[eV], 4)"}));
    QCOMPARE(panel.sets.size(), 3);
    QCOMPARE(panel.currentIndex(), 0);
    QCOMPARE(panel.currentEnergy(), 7092.0);
    QCOMPARE(panel.currentEnergyText(), QString("7092_0eV"));

    QTest::mouseClick(panel.findChild<QPushButton *>("Next"), Qt::LeftButton);
    QCOMPARE(files.count(), 0); // next() only moves
    QTest::mouseClick(panel.findChild<QPushButton *>("Set"), Qt::LeftButton);
    QCOMPARE(files.count(), 1);
    const QFileInfoList chosen = files.at(0).at(0).value<QFileInfoList>();
    QCOMPARE(namesOf(chosen), (QStringList{"demo-7112_0eV-00000.img", "demo-7112_0eV-00001.img",
                                           "demo-7112_0eV-00002.img", "demo-7112_0eV-00003.img"}));
    QCOMPARE(panel.currentEnergy(), 7112.0);
}

void TstSelectDataDir::stepping()
{
    SelectDataDir panel;
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QSignalSpy files(&panel, &SelectDataDir::selectedFileInfoList);
    QSignalSpy noMore(&panel, &SelectDataDir::noMoreSets);

    panel.setFirstSet(1);
    QCOMPARE(files.count(), 1);
    QCOMPARE(panel.currentEnergy(), 7112.0);

    // The current index has reached lastIdx: no more, and the selection stays.
    panel.setNextSet(1);
    QCOMPARE(noMore.count(), 1);
    QCOMPARE(panel.currentIndex(), 1);

    panel.setNextSet(2);
    QCOMPARE(files.count(), 2);
    QCOMPARE(panel.currentIndex(), 2);
    QCOMPARE(namesOf(files.at(1).at(0).value<QFileInfoList>()).first(),
             QString("demo-7132_0eV-00000.img"));
    panel.setNextSet(9999); // the last entry: nothing beyond it
    QCOMPARE(noMore.count(), 2);
    QVERIFY(!panel.advance());

    panel.setFirstSet(3); // beyond the list
    QCOMPARE(panel.currentIndex(), -1);
    QCOMPARE(noMore.count(), 3);
    QCOMPARE(panel.currentEnergy(), 0.0);
    QCOMPARE(panel.currentEnergyText(), QString());
    QCOMPARE(files.count(), 2);
}

void TstSelectDataDir::subDirectoriesOfTheDemo()
{
    SelectDataDir panel;
    const QString proj = QDir(subDirDemo.path()).filePath("proj");
    panel.loadDir(proj);
    QCOMPARE(panel.count(), 0); // file-set mode: no image files directly in proj/

    QSignalSpy newSets(&panel, &SelectDataDir::newSets);
    QSignalSpy selected(&panel, &SelectDataDir::selected);
    panel.setIsKVNStandard(false); // rescans through the switch
    QCOMPARE(newSets.count(), 1);
    QCOMPARE(newSets.at(0).at(0).toInt(), 3);
    QCOMPARE(entries(&panel), (QStringList{"1 : 7092_0eV", "2 : 7112_0eV", "3 : 7132_0eV"}));

    panel.setPattern("  *.img *.tif");
    panel.setFirstSet(2);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(QDir::cleanPath(selected.at(0).at(0).toString()), QDir::cleanPath(proj + "/7132_0eV"));
    QCOMPARE(selected.at(0).at(1).toStringList(), (QStringList{"", "*.img", "*.tif"}));
    // The energy comes from the sub-directory's own name.
    QCOMPARE(panel.currentEnergy(), 7132.0);
    QCOMPARE(panel.currentEnergyText(), QString("7132_0eV"));

    // The directory the set names holds the set's projections.
    const QDir setDir(selected.at(0).at(0).toString());
    QCOMPARE(setDir.entryList({"*.img"}, QDir::Files).size(), projections);
}

void TstSelectDataDir::keVAndNamesWithoutHyphens()
{
    QTemporaryDir dir;
    for (const char *name : {"Fe-7_112keV-00000.img", "Fe-7_112keV-00001.img",
                             "Fe-7_2keV-00000.img", "dark.img", "zz-7_112keV-00000.img"})
        QVERIFY(touch(dir.filePath(name)));
    SelectDataDir panel;
    panel.loadDir(dir.path());
    QCOMPARE(entries(&panel),
             (QStringList{"1 : Fe (7.112[keV], 2)", "2 :    (7.2[keV], 1)",
                          "3 : dark.img (0[dark.img], 1)", "4 : zz (7.112[keV], 1)"}));
    QCOMPARE(panel.currentEnergy(), 7112.0);
    panel.setFirstSet(2);
    QCOMPARE(panel.currentEnergy(), 0.0);
}

void TstSelectDataDir::emptyScans()
{
    QTemporaryDir empty;
    SelectDataDir panel;
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QCOMPARE(panel.count(), 3);

    // A second file-set scan that finds nothing keeps the first scan's sets.
    QSignalSpy newSets(&panel, &SelectDataDir::newSets);
    panel.loadDir(empty.path());
    QCOMPARE(newSets.at(0).at(0).toInt(), 3);
    QCOMPARE(panel.sets.size(), 3);

    // After a sub-directory scan a file-set scan that finds nothing leaves no entry
    // that could resolve to the sets of another directory.
    panel.setIsKVNStandard(false);
    panel.loadDir(QDir(subDirDemo.path()).filePath("proj"));
    QCOMPARE(panel.count(), 3);
    QSignalSpy noMore(&panel, &SelectDataDir::noMoreSets);
    QSignalSpy files(&panel, &SelectDataDir::selectedFileInfoList);
    panel.setIsKVNStandard(true);
    QCOMPARE(newSets.last().at(0).toInt(), 0);
    QCOMPARE(panel.count(), 0);
    panel.set();
    QCOMPARE(noMore.count(), 1);
    QCOMPARE(files.count(), 0);
}

QTEST_MAIN(TstSelectDataDir)
#include "tstgui_SelectDataDir.moc"
