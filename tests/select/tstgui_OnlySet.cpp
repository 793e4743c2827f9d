#include "DemoGenerator.h"
#include "select/SelectDataDir.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The data directory panel restricted to one set, as a cluster task runs it
// (-set K): the script's usual loop then meets that set alone.
class TstOnlySet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keepsOneSet_data();
    void keepsOneSet();
    void missingSet_data();
    void missingSet();
    void rescansKeepTheRestriction();
    void energiesOfTheWholeDirectory();

private:
    QTemporaryDir flatDemo;
    QTemporaryDir subDirDemo;
    static constexpr int projections = 4;
    static constexpr int energies = 3;
};

void TstOnlySet::initTestCase()
{
    DemoSettings s;
    s.width = 16;
    s.height = 2;
    s.projections = projections;
    s.energies = energies;
    s.outDir = flatDemo.path();
    s.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = subDirDemo.path();
    s.layout = DemoSettings::Layout::SubDirs;
    QVERIFY(DemoGenerator(s).generate());
}

void TstOnlySet::keepsOneSet_data()
{
    QTest::addColumn<bool>("fileSets");
    QTest::addColumn<int>("index");
    QTest::newRow("file sets, the middle one") << true << 1;
    QTest::newRow("file sets, the last one") << true << energies - 1;
    QTest::newRow("sub-directories, the first one") << false << 0;
    QTest::newRow("sub-directories, the last one") << false << energies - 1;
}

void TstOnlySet::keepsOneSet()
{
    QFETCH(bool, fileSets);
    QFETCH(int, index);
    DemoSettings s;
    s.energies = energies;
    const QString tag = DemoGenerator::energyText(DemoGenerator(s).energyAt(index));
    const QString root = fileSets ? flatDemo.path() : subDirDemo.path();

    SelectDataDir panel;
    panel.setIsKVNStandard(fileSets);
    panel.setOnlySet(index);
    QSignalSpy newSets(&panel, &SelectDataDir::newSets);
    QSignalSpy missing(&panel, &SelectDataDir::onlySetMissing);
    QSignalSpy files(&panel, &SelectDataDir::selectedFileInfoList);
    QSignalSpy dirs(&panel, &SelectDataDir::selected);
    QSignalSpy noMore(&panel, &SelectDataDir::noMoreSets);
    panel.loadDir(QDir(root).filePath("proj"));

    QCOMPARE(missing.count(), 0);
    QCOMPARE(newSets.last().at(0).toInt(), 1);
    // The entry keeps its number in the whole directory.
    auto *box = panel.findChild<QComboBox *>("SubDirs");
    QVERIFY2(box->itemText(0).startsWith(QString::number(index + 1) + " : "),
             qPrintable(box->itemText(0)));
    QCOMPARE(panel.currentEnergyText(), tag);
    const QList<SelectDataDir::SetSummary> list = panel.summaries();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.at(0).number, index);
    QCOMPARE(list.at(0).tag, tag);
    QCOMPARE(list.at(0).fileCount, projections);

    // The loop of a script: use the set, then there is no next one.
    panel.set();
    if (fileSets) {
        QCOMPARE(files.count(), 1);
        const auto infos = files.at(0).at(0).value<QFileInfoList>();
        QCOMPARE(infos.size(), projections);
        QVERIFY(infos.at(0).fileName().contains(tag));
    } else {
        QCOMPARE(dirs.count(), 1);
        QVERIFY(dirs.at(0).at(0).toString().endsWith(tag));
    }
    QVERIFY(!panel.advance());
    QCOMPARE(noMore.count(), 0);
}

void TstOnlySet::missingSet_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::newRow("one past the last") << "proj" << energies << energies;
    QTest::newRow("far beyond") << "proj" << 1000 << energies;
    QTest::newRow("a directory without sets") << "bg/none" << 0 << 0;
}

void TstOnlySet::missingSet()
{
    QFETCH(QString, dir);
    QFETCH(int, index);
    QFETCH(int, count);
    SelectDataDir panel;
    panel.setOnlySet(index);
    QSignalSpy missing(&panel, &SelectDataDir::onlySetMissing);
    QSignalSpy noMore(&panel, &SelectDataDir::noMoreSets);
    const QString path = QDir(flatDemo.path()).filePath(dir);
    panel.loadDir(path);
    QCOMPARE(missing.count(), 1);
    QCOMPARE(missing.at(0).at(0).toInt(), index);
    QCOMPARE(missing.at(0).at(1).toInt(), count);
    QCOMPARE(missing.at(0).at(2).toString(), path);
    QCOMPARE(panel.count(), 0);
    // Nothing is left that a run could compute.
    panel.set();
    QCOMPARE(noMore.count(), 1);
}

void TstOnlySet::rescansKeepTheRestriction()
{
    SelectDataDir panel;
    panel.setOnlySet(2);
    QSignalSpy missing(&panel, &SelectDataDir::onlySetMissing);
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QCOMPARE(panel.count(), 1);
    // A file-set scan that finds nothing keeps the list: the set is still there.
    panel.setPattern("*.none");
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QCOMPARE(panel.count(), 1);
    QCOMPARE(panel.summaries().at(0).number, 2);
    // A new scan restricts again, from the whole list.
    panel.setPattern("*.img");
    panel.loadDir(QDir(flatDemo.path()).filePath("proj"));
    QCOMPARE(panel.count(), 1);
    QCOMPARE(panel.summaries().at(0).number, 2);
    QCOMPARE(missing.count(), 0);

    // Switching the mode before any directory was chosen scans the current
    // directory; that is not a data directory lacking the set.
    SelectDataDir fresh;
    fresh.setOnlySet(0);
    QSignalSpy freshMissing(&fresh, &SelectDataDir::onlySetMissing);
    fresh.setIsKVNStandard(false);
    QCOMPARE(freshMissing.count(), 0);
}

void TstOnlySet::energiesOfTheWholeDirectory()
{
    // A repeat scan at one energy: whether a set's energy is shared is a property of
    // the directory, the same when the set runs alone.
    QTemporaryDir dir;
    for (const char *name :
         {"a-7100_0eV-00000.img", "a-7110_0eV-00000.img", "b-7100_0eV-00000.img"}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    SelectDataDir panel;
    panel.setOnlySet(1);
    panel.loadDir(dir.path());
    QCOMPARE(panel.count(), 1);
    QCOMPARE(panel.currentEnergyText(), QStringLiteral("7110_0eV"));
    QCOMPARE(panel.setsWithEnergyText("7100_0eV"), 2);
    QCOMPARE(panel.setsWithEnergyText("7110_0eV"), 1);
    QCOMPARE(panel.setsWithEnergyText("7120_0eV"), 0);
}

QTEST_MAIN(TstOnlySet)
#include "tstgui_OnlySet.moc"
