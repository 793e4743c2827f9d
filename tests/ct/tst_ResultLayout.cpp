// Where results lie: the saver writes by ResultLayout, and the same layout shows the
// next file, finds the results again and the set's run record beside them.

#include "ct/DataSaver.h"
#include "ct/ResultLayout.h"
#include "ct/RunRecord.h"
#include "ct/SavingData.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

class tst_ResultLayout : public QObject
{
    Q_OBJECT

private slots:
    void writerAndReaderAgree_data();
    void writerAndReaderAgree();
};

void tst_ResultLayout::writerAndReaderAgree_data()
{
    QTest::addColumn<ResultLayout>("layout");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("slice");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("record");
    QTest::newRow("in the folder itself")
        << ResultLayout{false, true, true} << "ct"
        << "7120eV" << 42 << QStringList{"ct-7120eV-00042.tif"} << "ct-7120eV.json";
    QTest::newRow("energy sub folder")
        << ResultLayout{true, true, false} << "ct"
        << "7_120keV" << 7 << QStringList{"7_120keV/ct-7_120keV-00007.tif"}
        << "7_120keV/ct-7_120keV.json";
    QTest::newRow("slice sub folder: record in the base folder")
        << ResultLayout{true, false, true} << "ct"
        << "7120eV" << 7 << QStringList{"00007/ct-7120eV-00007.tif"} << "ct-7120eV.json";
    QTest::newRow("both kinds: written twice, record with the energy")
        << ResultLayout{true, true, true} << "ct"
        << "7120eV" << 42 << QStringList{"00042/ct-7120eV-00042.tif", "7120eV/ct-7120eV-00042.tif"}
        << "7120eV/ct-7120eV.json";
    QTest::newRow("hyphens in name and tag, six digit slice")
        << ResultLayout{} << "my-ct"
        << "Fe-K-7120eV" << 123456 << QStringList{"my-ct-Fe-K-7120eV-123456.tif"}
        << "my-ct-Fe-K-7120eV.json";
}

void tst_ResultLayout::writerAndReaderAgree()
{
    QFETCH(ResultLayout, layout);
    QFETCH(QString, name);
    QFETCH(QString, tag);
    QFETCH(int, slice);
    QFETCH(QStringList, files);
    QFETCH(QString, record);
    QTemporaryDir dir;
    const QDir base(dir.path());
    DataSaver saver;
    saver.setSubFolders(layout.inSubFolders, layout.ofEnergy, layout.ofSlice);
    auto *data = new SavingData(dir.path(), name, tag, slice);
    data->writeDat = false;
    data->tiff = "not read here";
    saver.saveDataWDiscard(data);
    auto *runRecord = new RunRecord;
    runRecord->folder = dir.path();
    runRecord->name = name;
    runRecord->tag = tag;
    saver.writeRunRecordWDiscard(runRecord, {DataSaver::sourceKey(dir.path(), name, tag)});

    QStringList written;
    for (QDirIterator it(dir.path(), {"*.tif"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        written << base.relativeFilePath(it.next());
    written.sort();
    QCOMPARE(written, files);
    QCOMPARE(base.relativeFilePath(layout.recordPath(dir.path(), name, tag)), record);
    QVERIFY(QFile::exists(base.filePath(record)));
    // The next-file preview names a file the saver writes.
    const QString no = sliceNumberText(slice);
    const QString next = QDir(layout.foldersOf(dir.path(), tag, no).first())
                             .filePath(ResultLayout::fileName(name, tag, no, "tif"));
    QVERIFY(files.contains(base.relativeFilePath(next)));
    // The reader finds every file again, with its tag and slice.
    QStringList found;
    const QRegularExpression pattern = ResultLayout::filePattern(name, "tif");
    for (const QString &folder : layout.foldersToSearch(dir.path(), {})) {
        for (const QString &file :
             QDir(folder).entryList({ResultLayout::fileFilter(name, "tif")})) {
            const QRegularExpressionMatch m = pattern.match(file);
            QVERIFY2(m.hasMatch() && m.captured(1) == tag && m.captured(2).toInt() == slice,
                     qPrintable(file));
            found << base.relativeFilePath(QDir(folder).filePath(file));
        }
    }
    found.sort();
    QCOMPARE(found, files);
}

QTEST_GUILESS_MAIN(tst_ResultLayout)
#include "tst_ResultLayout.moc"
