#include "util/Csv.h"
#include "util/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The program's one writer and one bounded reader: a failed write leaves the old
// file whole and no temporary file behind; a reader never blocks or reads without end.
class TestSafeFile : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SafeFile::setFailingWrites(QString()); }
    void write_data();
    void write();
    void read_data();
    void read();
    void csvField_data();
    void csvField();
};

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

} // namespace

void TestSafeFile::write_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("written");
    QTest::newRow("new file") << "" << true;
    QTest::newRow("old file replaced whole") << "old" << true;
    QTest::newRow("full disk keeps the old file") << "old,full" << false;
    QTest::newRow("full disk leaves no file") << "full" << false;
    QTest::newRow("link planted at the old temporary name is not followed") << "link" << true;
    QTest::newRow("folder missing") << "nodirectory" << false;
    QTest::newRow("temporary removed by a process ending early keeps the old file")
        << "old,abandoned" << false;
}

void TestSafeFile::write()
{
    QFETCH(QString, setUp);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString path =
        setUp.contains("nodirectory") ? dir.filePath("none/r.json") : dir.filePath("r.json");
    const QString outside = dir.filePath("outside.txt");
    if (setUp.contains("old"))
        QVERIFY(SafeFile::writeBytes(path, "old record"));
    if (setUp.contains("link")) {
        QVERIFY(SafeFile::writeBytes(outside, "not yours"));
        QVERIFY(QFile::link(outside, path + ".part"));
    }
    if (setUp.contains("full"))
        SafeFile::setFailingWrites("r.json");
    if (setUp.contains("abandoned")) {
        SafeFile::Output file(path);
        QVERIFY(file.write("new record", 10));
        QCOMPARE(SafeFile::removeTemporaries(), 1);
        QCOMPARE(file.commit(true), written);
    } else {
        QCOMPARE(SafeFile::writeBytes(path, "new record", true), written);
    }
    const QByteArray expected = written                 ? QByteArray("new record")
                                : setUp.contains("old") ? QByteArray("old record")
                                                        : QByteArray("<none>");
    QCOMPARE(contents(path), expected);
    if (setUp.contains("link"))
        QCOMPARE(contents(outside), QByteArray("not yours"));
    // No temporary file stays, written or not.
    const QStringList left = QDir(dir.path()).entryList({"*.part"}, QDir::Files | QDir::System);
    QCOMPARE(left, setUp.contains("link") ? QStringList{"r.json.part"} : QStringList());
}

void TestSafeFile::read_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("result");
    QTest::newRow("regular file") << "file" << int(SafeFile::Read);
    QTest::newRow("above the size bound") << "large" << int(SafeFile::TooLarge);
    QTest::newRow("FIFO, no writer: refused at once") << "fifo" << int(SafeFile::NotRegular);
    QTest::newRow("link to /dev/zero") << "zero" << int(SafeFile::NotRegular);
    QTest::newRow("folder") << "folder" << int(SafeFile::NotRegular);
    QTest::newRow("missing") << "missing" << int(SafeFile::CanNotOpen);
}

void TestSafeFile::read()
{
    QFETCH(QString, kind);
    QFETCH(int, result);
    QTemporaryDir dir;
    const QString path = dir.filePath("r.json");
    if (kind == "file" || kind == "large")
        QVERIFY(SafeFile::writeBytes(path, QByteArray(kind == "large" ? 101 : 100, 'x')));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", path));
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir("r.json"));
    QByteArray bytes("stale");
    QCOMPARE(int(SafeFile::readAll(path, 100, &bytes)), result);
    QCOMPARE(bytes.size(), result == SafeFile::Read ? 100 : 0);
    QCOMPARE(SafeFile::isAbsentOrRegular(path),
             kind != "fifo" && kind != "zero" && kind != "folder");
}

void TestSafeFile::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "7112_0eV"
                           << "7112_0eV";
    QTest::newRow("comma") << "7112,5eV"
                           << "\"7112,5eV\"";
    QTest::newRow("quote doubled") << "a\"b"
                                   << "\"a\"\"b\"";
    QTest::newRow("line end") << "a\nb"
                              << "\"a\nb\"";
    QTest::newRow("empty") << ""
                           << "";
}

void TestSafeFile::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(Csv::field(text), field);
}

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_SafeFile.moc"
