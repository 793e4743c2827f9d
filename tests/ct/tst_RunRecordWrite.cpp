#include "ct/RunRecord.h"
#include "util/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <thread>

// A run record is replaced only by a whole record that keeps every slice it listed,
// is never read from or written to a special file, and survives runs writing at once.
class TestRunRecordWrite : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SafeFile::setFailingWrites(QString()); }
    void refusals_data();
    void refusals();
    void concurrentWritersKeepEverySlice();
};

namespace {

RunRecord recordOf(const QString &folder, int slice)
{
    RunRecord r;
    r.folder = folder;
    r.name = "r";
    r.tag = "7112_0eV";
    r.settings = RunRecord::programKeys();
    r.slices[slice] = {QDir(folder).filePath(QString("r-7112_0eV-%1.tif").arg(slice))};
    return r;
}

QList<int> slicesIn(const QString &path)
{
    QByteArray bytes;
    if (SafeFile::readAll(path, RunRecord::maxBytes, &bytes) != SafeFile::Read)
        return {};
    QList<int> slices;
    for (const QJsonValue &v : QJsonDocument::fromJson(bytes)["slices"].toArray())
        slices << v["slice"].toInt();
    return slices;
}

} // namespace

void TestRunRecordWrite::refusals_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QList<int>>("slices");
    QTest::newRow("merged over the old record") << "" << true << QList<int>{1, 2};
    QTest::newRow("full disk: old record kept whole") << "full" << false << QList<int>{1};
    QTest::newRow("FIFO at the record path: neither read nor written")
        << "fifo" << false << QList<int>{};
    QTest::newRow("folder at the record path") << "folder" << false << QList<int>{};
}

void TestRunRecordWrite::refusals()
{
    QFETCH(QString, setUp);
    QFETCH(bool, written);
    QFETCH(QList<int>, slices);
    QTemporaryDir dir;
    const RunRecord first = recordOf(dir.path(), 1);
    const QString path = first.filePath();
    if (setUp == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (setUp == "folder")
        QVERIFY(QDir().mkpath(path));
    else
        QVERIFY(first.write());
    if (setUp == "full")
        SafeFile::setFailingWrites(".json");
    QCOMPARE(recordOf(dir.path(), 2).write(), written);
    QCOMPARE(slicesIn(path), slices);
}

void TestRunRecordWrite::concurrentWritersKeepEverySlice()
{
    // Two runs saving into one folder, each merging its slices into the record.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTemporaryDir dir;
        auto writer = [&dir](int from) {
            for (int s = from; s < from + 4; ++s)
                recordOf(dir.path(), s).write();
        };
        std::thread a(writer, 0);
        std::thread b(writer, 4);
        a.join();
        b.join();
        QCOMPARE(slicesIn(recordOf(dir.path(), 0).filePath()),
                 (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    }
}

QTEST_GUILESS_MAIN(TestRunRecordWrite)
#include "tst_RunRecordWrite.moc"
