#include "app/CfgStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestCfgStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void arguments_data();
    void arguments();
    void readEntriesAndLines();
    void includeAnyCase();
    void includeCycleIsCut();
    void deepAcyclicInclude();
    void missingAndEmptyFile();
    void fileWinsOverCommandLine();
    void badBytesAndLongLines();
    void refusedFiles_data();
    void refusedFiles();
    void crOnlyLineEnds();
    void includeExplosionIsCut();
    void fuzzRegressions();

private:
    QString write(const QString &name, const QByteArray &text);
    QTemporaryDir dir;
};

QString TestCfgStore::write(const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(text);
    return path;
}

void TestCfgStore::init()
{
    QVERIFY(dir.isValid());
}

void TestCfgStore::arguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("value");
    const QStringList consumed{"prog", "-c", "a.cfg", "extra", "-nw"};
    QTest::newRow("option with value") << consumed << "-c" << true << "a.cfg";
    QTest::newRow("extra word is consumed") << consumed << "extra" << false << "";
    QTest::newRow("flag at end") << consumed << "-nw" << true << "";
    QTest::newRow("program path ignored") << consumed << "prog" << false << "";
    QTest::newRow("-b then -x: empty name") << QStringList{"p", "-b", "-x"} << "-b" << true << "";
    QTest::newRow("-x after -b") << QStringList{"p", "-b", "-x"} << "-x" << true << "";
    QTest::newRow("later option wins")
        << QStringList{"p", "-d", "a", "-d", "b"} << "-d" << true << "b";
    QTest::newRow("lone dash is an option") << QStringList{"p", "-", "v"} << "-" << true << "v";
    QTest::newRow("case sensitive") << QStringList{"p", "-NW"} << "-nw" << false << "";
}

void TestCfgStore::arguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, key);
    QFETCH(bool, present);
    QFETCH(QString, value);
    CfgStore store;
    store.init(args);
    QCOMPARE(store.has(key), present);
    QCOMPARE(store.value(key), value);
}

void TestCfgStore::readEntriesAndLines()
{
    const QString path = write("a.cfg", "DataRoot /data/x # where data lives\n"
                                        "   # only a comment\n"
                                        "   \t\n"
                                        "Spaced \"/a dir/with space\" more\n"
                                        "key one\n"
                                        "key two\n"
                                        "quoted '#not comment' #real\n");
    CfgStore store;
    QVERIFY(store.read(path));
    QCOMPARE(store.value("DataRoot"), QString("/data/x"));
    QCOMPARE(store.value("Spaced"), QString("/a dir/with space"));
    QCOMPARE(store.value("key"), QString("two"));
    QCOMPARE(store.value("quoted"), QString("'#not"));
    QCOMPARE(store.lines(), QStringList({"DataRoot /data/x ", "Spaced \"/a dir/with space\" more",
                                         "key one", "key two", "quoted '#not comment' "}));
}

void TestCfgStore::includeAnyCase()
{
    const QString inner = write("inner.cfg", "Inner 1\n");
    write("outer.cfg", QString("First a\niNcLuDe %1\nLast b\n").arg(inner).toUtf8());
    CfgStore store;
    QVERIFY(store.read(dir.filePath("outer.cfg")));
    QCOMPARE(store.value("Inner"), QString("1"));
    QCOMPARE(store.lines().size(), 4);
    QCOMPARE(store.lines().at(2), QString("Inner 1"));
    QVERIFY(store.lines().at(1).startsWith("iNcLuDe"));
}

void TestCfgStore::includeCycleIsCut()
{
    const QString a = dir.filePath("cyc_a.cfg");
    const QString b = dir.filePath("cyc_b.cfg");
    write("cyc_a.cfg", QString("A 1\nINCLUDE %1\n").arg(b).toUtf8());
    write("cyc_b.cfg", QString("B 1\nINCLUDE %1\nINCLUDE %2\n").arg(a, b).toUtf8());
    TestSupport::MessageLog log;
    CfgStore store;
    QVERIFY(store.read(a));
    QCOMPARE(store.value("A"), QString("1"));
    QCOMPARE(store.value("B"), QString("1"));
    QCOMPARE(log.count("INCLUDE cycle"), 2);
    // Each file once per chain: A, INCLUDE b, B, INCLUDE a, INCLUDE b.
    QCOMPARE(store.lines().size(), 5);
}

void TestCfgStore::deepAcyclicInclude()
{
    const int depth = 60;
    for (int i = 0; i < depth; ++i) {
        const QByteArray next =
            i + 1 < depth
                ? QString("INCLUDE %1\n").arg(dir.filePath(QString("d%1.cfg").arg(i + 1))).toUtf8()
                : QByteArray();
        write(QString("d%1.cfg").arg(i), QString("Level%1 x\n").arg(i).toUtf8() + next);
    }
    // The same file twice in a row (not a cycle) is read twice.
    write("twice.cfg", QString("INCLUDE %1\nINCLUDE %1\n").arg(dir.filePath("d58.cfg")).toUtf8());
    CfgStore store;
    QVERIFY(store.read(dir.filePath("d0.cfg")));
    QCOMPARE(store.value(QString("Level%1").arg(depth - 1)), QString("x"));
    CfgStore twice;
    QVERIFY(twice.read(dir.filePath("twice.cfg")));
    QCOMPARE(twice.lines().size(), 2 + 2 * 3);
}

void TestCfgStore::missingAndEmptyFile()
{
    TestSupport::MessageLog log;
    CfgStore store;
    QVERIFY(!store.read(dir.filePath("missing.cfg")));
    QVERIFY(log.contains("Can't open config file : "));
    QVERIFY(!store.read(QString()));
    QCOMPARE(log.count("Can't open config file : "), 2);
    write("inc_missing.cfg", "INCLUDE nowhere.cfg\nAfter 1\n");
    QVERIFY(store.read(dir.filePath("inc_missing.cfg")));
    QCOMPARE(store.value("After"), QString("1"));
}

void TestCfgStore::fileWinsOverCommandLine()
{
    CfgStore store;
    store.init(QStringList{"p", "-d", "/cmd"});
    write("d.cfg", "-d /file\n");
    store.read(dir.filePath("d.cfg"));
    QCOMPARE(store.value("-d"), QString("/file"));
}

void TestCfgStore::badBytesAndLongLines()
{
    QByteArray text("Bad \xff\xfe\x80 value\n\"unterminated quote here\n");
    text += "Long " + QByteArray(1 << 20, 'x') + "\n";
    write("bad.cfg", text);
    TestSupport::MessageLog log;
    CfgStore store;
    QVERIFY(store.read(dir.filePath("bad.cfg")));
    QVERIFY(store.has("Bad"));
    QVERIFY(store.has("unterminated quote here"));
    QCOMPARE(store.value("Long").size(), 1 << 20);
    QVERIFY(log.contains("item is started from quote but not ended by quote"));
}

void TestCfgStore::refusedFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("endless device") << "/dev/zero"
                                    << "Not a regular file";
    QTest::newRow("directory") << "."
                               << "Not a regular file";
    QTest::newRow("16 MB and one byte") << "big.cfg"
                                        << "Text file larger than 16 MB";
}

void TestCfgStore::refusedFiles()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const QString big = write("big.cfg", "Big 1\n");
    QVERIFY(QFile::resize(big, 16 * 1024 * 1024 + 1));
    const QString target = name == "big.cfg" ? big : name == "." ? dir.path() : name;
    write("outer.cfg", QString("Before 1\nINCLUDE %1\nAfter 2\n").arg(target).toUtf8());
    TestSupport::MessageLog log;
    CfgStore store;
    QVERIFY(!store.read(target));
    QVERIFY(store.read(dir.filePath("outer.cfg")));
    QCOMPARE(store.value("After"), QString("2"));
    QVERIFY(!store.has("Big"));
    QCOMPARE(log.count(message), 2);
    QCOMPARE(log.count("Can't open config file : "), 2);
}

void TestCfgStore::crOnlyLineEnds()
{
    write("cr.cfg", "A 1\rB 2\r\nC 3\n\rD 4");
    CfgStore store;
    QVERIFY(store.read(dir.filePath("cr.cfg")));
    QCOMPARE(store.lines(), QStringList({"A 1", "B 2", "C 3", "D 4"}));
    QCOMPARE(store.value("A"), QString("1"));
    QCOMPARE(store.value("D"), QString("4"));
}

void TestCfgStore::includeExplosionIsCut()
{
    // Each level includes the next one twice: 2^18 lines in all, far more than
    // any configuration has.
    const int levels = 17;
    for (int i = 0; i < levels; ++i) {
        const QString next = dir.filePath(QString("x%1.cfg").arg(i + 1));
        write(QString("x%1.cfg").arg(i),
              i + 1 < levels ? QString("INCLUDE %1\nINCLUDE %1\n").arg(next).toUtf8()
                             : QByteArray("Leaf 1\nLeaf 2\n"));
    }
    TestSupport::MessageLog log;
    CfgStore store;
    QVERIFY(store.read(dir.filePath("x0.cfg")));
    QCOMPARE(log.count("Too many configuration lines"), 1);
    QCOMPARE(store.lines().size(), CfgStore::maxLines);
    QCOMPARE(store.value("Leaf"), QString("2"));
    // The bound is per read: a later read starts afresh.
    write("small.cfg", "Small 1\n");
    QVERIFY(store.read(dir.filePath("small.cfg")));
    QCOMPARE(store.value("Small"), QString("1"));
}

void TestCfgStore::fuzzRegressions()
{
    QDir folder(QStringLiteral(ORVO2_SOURCE_DIR "/fuzz/regressions/config"));
    const QStringList names = folder.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString &name : names) {
        CfgStore store;
        QVERIFY2(store.read(folder.filePath(name)), qPrintable(name));
        QVERIFY(store.lines().size() <= CfgStore::maxLines);
    }
}

QTEST_GUILESS_MAIN(TestCfgStore)
#include "tst_CfgStore.moc"
