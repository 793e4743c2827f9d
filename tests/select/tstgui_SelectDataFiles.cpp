#include "DemoGenerator.h"
#include "config/DataRoot.h"
#include "select/SelectDataFiles.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

template<typename T>
T *child(const QObject &panel, const char *name)
{
    auto *widget = panel.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("missing widget %s", name);
    return widget;
}

void touch(const QString &dir, const QStringList &names)
{
    for (const QString &name : names) {
        QFile file(QDir(dir).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

QFileInfoList infos(const QString &dir, const QStringList &names)
{
    QFileInfoList list;
    for (const QString &name : names)
        list << QFileInfo(QDir(dir).filePath(name));
    return list;
}

} // namespace

class TestSelectDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void formDefaults();
    void dialogSelectionReplaces();
    void multiTimes_data();
    void multiTimes();
    void addKeepsTheList();
    void loadDirPatterns_data();
    void loadDirPatterns();
    void loadDirOfDemoData();
    void selectDirMovesTheDialog();
    void stepping();
    void hideLoadOptions();
    void numberFields_data();
    void numberFields();
};

void TestSelectDataFiles::init()
{
    QLocale::setDefault(QLocale::c());
}

void TestSelectDataFiles::formDefaults()
{
    QTemporaryDir root;
    DataRoot::set(root.path());
    SelectDataFiles panel;
    QCOMPARE(panel.objectName(), QStringLiteral("SelectDataFiles"));
    QCOMPARE(child<QPushButton>(panel, "Select")->text(), QStringLiteral("Data Select"));
    QCOMPARE(child<QLabel>(panel, "Count")->text(), QStringLiteral("0"));
    QVERIFY(child<QRadioButton>(panel, "LoadNewFiles")->isChecked());
    QVERIFY(!child<QRadioButton>(panel, "AddFiles")->isChecked());
    QVERIFY(!child<QCheckBox>(panel, "LoadMultiTimes")->isChecked());
    QCOMPARE(child<QLineEdit>(panel, "MultiTimes")->text(), QStringLiteral("180"));
    QCOMPARE(child<QLineEdit>(panel, "ExpTime")->text(), QStringLiteral("1.0"));
    QVERIFY(child<QCheckBox>(panel, "KeepConditions")->isChecked());
    QVERIFY(panel.keepConditions());

    QFileDialog *dialog = panel.dialog();
    QVERIFY(dialog->parent() == nullptr);
    QCOMPARE(dialog->directory().absolutePath(), QDir(root.path()).absolutePath());
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters(),
             (QStringList{"Itex File (*.img)", "Tiff File (*.tif *.tiff)", "Any Files (* *.*)"}));
    QVERIFY(!dialog->isVisible());
}

void TestSelectDataFiles::dialogSelectionReplaces()
{
    SelectDataFiles panel;
    panel.addFileName(QStringLiteral("old.img"));
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    QSignalSpy cleared(&panel, &SelectDataFiles::filesCleared);
    // What the dialog reports when the user accepts it.
    emit panel.dialog()->filesSelected({QStringLiteral("/d/a.img"), QStringLiteral("/d/b.img")});

    QCOMPARE(cleared.count(), 1);
    QCOMPARE(panel.count(), 0);
    QCOMPARE(child<QLabel>(panel, "Count")->text(), QStringLiteral("0"));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), (QStringList{"/d/a.img", "/d/b.img"}));
    QCOMPARE(selected.at(0).at(1).toBool(), true);
}

void TestSelectDataFiles::multiTimes_data()
{
    QTest::addColumn<bool>("multi");
    QTest::addColumn<QString>("times");
    QTest::addColumn<int>("fileCount");
    QTest::addColumn<int>("expectedCount");

    QTest::newRow("Multi. with 180 and three files") << true << "180" << 3 << 180;
    QTest::newRow("Multi. unchecked keeps the files") << false << "180" << 3 << 3;
    QTest::newRow("Multi. with 0") << true << "0" << 3 << 0;
    QTest::newRow("Multi. with a negative count") << true << "-3" << 3 << 0;
    QTest::newRow("Multi. with text that is no number") << true << "many" << 3 << 0;
    QTest::newRow("Multi. with a count beyond 32 bits") << true << "4294967296" << 3 << 0;
    QTest::newRow("Multi. with no files") << true << "180" << 0 << 0;
    QTest::newRow("Multi. with a count beyond any scan is limited")
        << true << "2000000000" << 1 << 100000;
}

void TestSelectDataFiles::multiTimes()
{
    QFETCH(bool, multi);
    QFETCH(QString, times);
    QFETCH(int, fileCount);
    QFETCH(int, expectedCount);

    SelectDataFiles panel;
    child<QCheckBox>(panel, "LoadMultiTimes")->setChecked(multi);
    child<QLineEdit>(panel, "MultiTimes")->setText(times);
    const QStringList names =
        QStringList{"p-1eV-0.img", "p-1eV-1.img", "p-1eV-2.img"}.mid(0, fileCount);
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    panel.loadFileInfoList(infos(QStringLiteral("/data"), names));

    QCOMPARE(selected.count(), 1);
    const QStringList files = selected.at(0).at(0).toStringList();
    QCOMPARE(files.size(), expectedCount);
    const QString first =
        QFileInfo(QDir(QStringLiteral("/data")).filePath(names.value(0))).filePath();
    if (multi)
        QCOMPARE(files.count(first), expectedCount);
    else
        QCOMPARE(files.at(2), QStringLiteral("/data/p-1eV-2.img"));
}

void TestSelectDataFiles::addKeepsTheList()
{
    SelectDataFiles panel;
    panel.loadFileInfoList(infos(QStringLiteral("/d"), {"a.img"}));
    panel.addFileName(QStringLiteral("/d/a.img"));
    child<QRadioButton>(panel, "AddFiles")->click();
    QVERIFY(!panel.loadsNewFiles());
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    QSignalSpy cleared(&panel, &SelectDataFiles::filesCleared);

    panel.loadFileInfoList(infos(QStringLiteral("/d"), {"b.img"}));
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(1).toBool(), false);
    panel.addFileName(QStringLiteral("/d/b.img"));
    QCOMPARE(panel.fileNames(), (QStringList{"/d/a.img", "/d/b.img"}));
    QCOMPARE(child<QLabel>(panel, "Count")->text(), QStringLiteral("2"));

    panel.setLoadNew(true);
    QVERIFY(child<QRadioButton>(panel, "LoadNewFiles")->isChecked());
    QVERIFY(!child<QRadioButton>(panel, "AddFiles")->isChecked());
}

void TestSelectDataFiles::loadDirPatterns_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one pattern, directories included")
        << QStringList{"*.img"} << QStringList{"A-1eV-1.img", "b-1eV-1.img", "sub.img"};
    QTest::newRow("several patterns in one name order")
        << QStringList{"*.tif", "b*"} << QStringList{"b-1eV-1.img", "c.tif"};
    QTest::newRow("a pattern that matches nothing") << QStringList{"*.raw"} << QStringList{};
    QTest::newRow("an empty pattern matches nothing") << QStringList{""} << QStringList{};
    QTest::newRow("no pattern at all selects nothing") << QStringList{} << QStringList{};
    QTest::newRow("* also lists directories and the dot entries")
        << QStringList{"*"}
        << QStringList{".", "..", "A-1eV-1.img", "b-1eV-1.img", "c.tif", "sub.img"};
}

void TestSelectDataFiles::loadDirPatterns()
{
    QFETCH(QStringList, patterns);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    touch(dir.path(), {"b-1eV-1.img", "A-1eV-1.img", "c.tif"});
    QDir(dir.path()).mkdir(QStringLiteral("sub.img"));
    SelectDataFiles panel;
    panel.addFileName(QStringLiteral("old.img"));
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    QSignalSpy cleared(&panel, &SelectDataFiles::filesCleared);
    TestSupport::MessageLog log;
    panel.loadDir(dir.path(), patterns);

    QStringList paths;
    for (const QString &name : expected)
        paths << QFileInfo(QDir(dir.path()).filePath(name)).absoluteFilePath();
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), paths);
    QCOMPARE(selected.at(0).at(1).toBool(), true);
    // "New" clears once before listing and once more on the way to the owner.
    QCOMPARE(cleared.count(), 2);
    QCOMPARE(panel.count(), 0);
    QVERIFY(log.contains(QStringLiteral("File list emptied before the files of")));
}

void TestSelectDataFiles::loadDirOfDemoData()
{
    QTemporaryDir out;
    DemoSettings settings;
    settings.outDir = out.path();
    settings.width = 16;
    settings.height = 2;
    settings.projections = 5;
    settings.energies = 2;
    settings.noise = false;
    settings.layout = DemoSettings::Layout::Flat;
    DemoGenerator generator(settings);
    QVERIFY(generator.generate());
    const QString proj = QDir(out.path()).filePath(generator.projectionDir(QString()));
    const QString text = DemoGenerator::energyText(generator.energyAt(1));

    SelectDataFiles panel;
    panel.setLoadNew(false);
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    QSignalSpy cleared(&panel, &SelectDataFiles::filesCleared);
    TestSupport::MessageLog log;
    panel.loadDir(proj, {QStringLiteral("%1-%2-*.img").arg(settings.sample, text)});

    QStringList expected;
    for (int i = 0; i < settings.projections; ++i)
        expected << QDir(proj).absoluteFilePath(generator.projectionFileName(text, i));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList(), expected);
    QCOMPARE(selected.at(0).at(1).toBool(), false);
    QCOMPARE(cleared.count(), 0);
    QVERIFY(!log.contains(QStringLiteral("File list emptied")));
}

void TestSelectDataFiles::selectDirMovesTheDialog()
{
    QTemporaryDir dir;
    touch(dir.path(), {"x.img"});
    SelectDataFiles panel;
    QSignalSpy selected(&panel, &SelectDataFiles::filesSelected);
    panel.selectDir(dir.path(), {QStringLiteral("*.img")});
    QCOMPARE(panel.dialog()->directory().absolutePath(), QDir(dir.path()).absolutePath());
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toStringList().size(), 1);

    // The debug line names the dialog's directory, which a batch load has just set.
    TestSupport::MessageLog log;
    panel.selectDir(dir.path(), {QStringLiteral("*.img")});
    QVERIFY(log.messages().join('\n').contains(QDir(dir.path()).absolutePath()));
}

void TestSelectDataFiles::stepping()
{
    SelectDataFiles panel;
    QSignalSpy changed(&panel, &SelectDataFiles::currentIndexChanged);
    for (const char *name : {"a.img", "b.img", "c.img"})
        panel.addFileName(QLatin1String(name));
    QCOMPARE(child<QLabel>(panel, "Count")->text(), QStringLiteral("3"));
    QCOMPARE(panel.currentIndex(), 0);
    QCOMPARE(changed.count(), 1);

    panel.prev();
    panel.select(-1);
    panel.select(3);
    QCOMPARE(panel.currentIndex(), 0);
    panel.next();
    panel.next();
    panel.next();
    QCOMPARE(panel.currentIndex(), 2);
    panel.select(1);
    QCOMPARE(panel.currentIndex(), 1);
    panel.prev();
    QCOMPARE(panel.currentIndex(), 0);
    QCOMPARE(changed.count(), 5);
    QCOMPARE(changed.last().at(0).toInt(), 0);

    QSignalSpy cleared(&panel, &SelectDataFiles::filesCleared);
    child<QPushButton>(panel, "Clear")->click();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(panel.count(), 0);
    QCOMPARE(child<QLabel>(panel, "Count")->text(), QStringLiteral("0"));
}

void TestSelectDataFiles::hideLoadOptions()
{
    SelectDataFiles panel;
    child<QRadioButton>(panel, "AddFiles")->click();
    panel.hideLoadOptions(true);
    QVERIFY(child<QRadioButton>(panel, "LoadNewFiles")->isChecked());
    const char *options[] = {"LoadNewFiles", "AddFiles", "KeepConditions", "LoadMultiTimes",
                             "MultiTimes"};
    for (const char *name : options)
        QVERIFY2(child<QWidget>(panel, name)->isHidden(), name);
    QVERIFY(!child<QWidget>(panel, "ExpTime")->isHidden());

    panel.hideLoadOptions(false);
    for (const char *name : options)
        QVERIFY2(!child<QWidget>(panel, name)->isHidden(), name);
    QVERIFY(panel.loadsNewFiles());
}

void TestSelectDataFiles::numberFields_data()
{
    QTest::addColumn<QString>("expText");
    QTest::addColumn<double>("expTime");
    QTest::addColumn<QString>("timesText");
    QTest::addColumn<int>("times");

    QTest::newRow("plain numbers") << "0.5" << 0.5 << "180" << 180;
    QTest::newRow("text that is no number") << "fast" << 0.0 << "many" << 0;
    QTest::newRow("non-finite text") << "nan" << 0.0 << "1e3" << 0;
    QTest::newRow("beyond the int range") << "inf" << 0.0 << "2147483648" << 0;
}

void TestSelectDataFiles::numberFields()
{
    QFETCH(QString, expText);
    QFETCH(double, expTime);
    QFETCH(QString, timesText);
    QFETCH(int, times);

    SelectDataFiles panel;
    child<QLineEdit>(panel, "ExpTime")->setText(expText);
    child<QLineEdit>(panel, "MultiTimes")->setText(timesText);
    QCOMPARE(panel.expTime(), expTime);
    QCOMPARE(panel.multiTimes(), times);

    panel.setExpTime(0.123456789);
    QCOMPARE(child<QLineEdit>(panel, "ExpTime")->text(), QStringLiteral("0.123457"));
}

QTEST_MAIN(TestSelectDataFiles)
#include "tstgui_SelectDataFiles.moc"
