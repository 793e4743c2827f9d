#include "batch/Batch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// Plays the main window: records every command and reports it complete
// (through the event loop, as the real window does).
class Responder : public QObject
{
    Q_OBJECT
public:
    explicit Responder(Batch *b)
        : batch(b)
    {
        connect(b, &Batch::batchExCmd, this, &Responder::onCmd, Qt::QueuedConnection);
        connect(this, &Responder::done, b, &Batch::batchCheckEnd, Qt::QueuedConnection);
    }
    QStringList words;
    QList<BatchCmd> cmds;
    // Commands named here answer ng (like "seq_exec_next" with no further set).
    QString ngWord;
    int ngAfter = 0;
signals:
    void done();
private slots:
    void onCmd(BatchCmd c)
    {
        words << c.cmd;
        cmds << c;
        if (!ngWord.isEmpty() && c.isCmd(ngWord))
            batch->setOk(--ngAfter > 0);
        emit done();
    }

private:
    Batch *batch;
};

class TestBatch : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void argumentNumbers();
    void controlFlow_data();
    void controlFlow();
    void ifokKeepsQuotedText();
    void continuationLinesAreReported();
    void missingFileKeepsScript();
    void refusedFileKeepsScript_data();
    void refusedFileKeepsScript();
    void crOnlyLineEnds();
    void fuzzRegressions();
    void execToggles();
    void loadWhileRunningKeepsCurrent();
    void longRunOfControlLines();
    void selfGotoCanBeStopped();
    void acrossThreads();

private:
    QString writeScript(const QByteArray &text);
    QStringList run(const QByteArray &script, const QString &ngWord = QString(), int ngAfter = 0);
    QTemporaryDir dir;
    int scripts = 0;
};

QString TestBatch::writeScript(const QByteArray &text)
{
    const QString path = dir.filePath(QString("s%1.bat").arg(scripts++));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
    return path;
}

QStringList TestBatch::run(const QByteArray &script, const QString &ngWord, int ngAfter)
{
    Batch batch;
    Responder responder(&batch);
    responder.ngWord = ngWord;
    responder.ngAfter = ngAfter;
    QSignalSpy ended(&batch, &Batch::batchEnded);
    batch.batchLoad(writeScript(script));
    batch.batchExec();
    if (ended.isEmpty() && !ended.wait(30000))
        return {"<timeout>"};
    return responder.words;
}

void TestBatch::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("words") << "cmd a b"
                           << "cmd" << QStringList{"a", "b"};
    QTest::newRow("quoted blank") << "cmd \"a b\" c"
                                  << "cmd" << QStringList{"a b", "c"};
    QTest::newRow("empty quoted item ends args") << "cmd a \"\" b"
                                                 << "cmd" << QStringList{"a"};
    QTest::newRow("trailing blanks") << "cmd a   "
                                     << "cmd" << QStringList{"a"};
    QTest::newRow("blank line") << "   "
                                << "" << QStringList{};
    QTest::newRow("empty command word") << "\"\" a"
                                        << "" << QStringList{};
}

void TestBatch::parse()
{
    QFETCH(QString, line);
    QFETCH(QString, cmd);
    QFETCH(QStringList, args);
    BatchCmd c(line);
    QCOMPARE(c.line, line);
    QCOMPARE(c.cmd, cmd);
    QCOMPARE(c.args, args);
}

void TestBatch::argumentNumbers()
{
    BatchCmd c("ct_cor nan 12.5 inf 99999999999 x");
    QVERIFY(c.isCmd("CT_COR"));
    QCOMPARE(c.argDouble(0), 0.0);
    QCOMPARE(c.argDouble(1), 12.5);
    QCOMPARE(c.argDouble(2), 0.0);
    QCOMPARE(c.argInt(3), 0);
    QCOMPARE(c.argInt(4), 0);
    QCOMPARE(c.argInt(9), 0);
    QCOMPARE(c.argText(-1), QString());
    QCOMPARE(c.argsFrom(3), QStringList({"99999999999", "x"}));
    QCOMPARE(c.argsFrom(7), QStringList());
    QCOMPARE(c.restJoined(), QString("nan 12.5 inf 99999999999 x"));
}

void TestBatch::controlFlow_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("empty script") << QByteArray() << QStringList{};
    QTest::newRow("commands in order")
        << QByteArray("a\nb # c\n\n#x\nc\n") << QStringList{"a", "b", "c"};
    QTest::newRow("end stops") << QByteArray("a\n:END\nb\n") << QStringList{"a"};
    QTest::newRow("stop stops") << QByteArray("a\n:Stop\nb\n") << QStringList{"a"};
    QTest::newRow("goto jumps to label line")
        << QByteArray("a\n:goto L\nb\nL\nc\n") << QStringList{"a", "L", "c"};
    QTest::newRow("goto label is case sensitive")
        << QByteArray(":goto l\nb\nL\n") << QStringList{"b", "L"};
    QTest::newRow("goto missing label goes on")
        << QByteArray(":goto nowhere\nb\n") << QStringList{"b"};
    QTest::newRow("goto without label finds blank line")
        << QByteArray(":goto\nb\n   \nc\n") << QStringList{"", "c"};
    QTest::newRow("ifok true runs guarded line")
        << QByteArray(":ifok :goto L\nb\nL\n") << QStringList{"L"};
    QTest::newRow("ifng with ok passes to window")
        << QByteArray(":ifng x\n") << QStringList{":ifng"};
    QTest::newRow("echo is not sent") << QByteArray(":echo hi\na\n") << QStringList{"a"};
    QTest::newRow("ifok echo") << QByteArray(":IfOk :echo x\na\n") << QStringList{"a"};
    QTest::newRow("backslash line dropped") << QByteArray("a\nb \\\nc\n") << QStringList{"a", "c"};
    QTest::newRow("line of 1 MB") << QByteArray("w " + QByteArray(1 << 20, 'x') + "\nz\n")
                                  << QStringList{"w", "z"};
    QTest::newRow("bytes that are not UTF-8") << QByteArray("a\xff\xfe b\n\"open quote\nz\n")
                                              << QStringList{"a\ufffd\ufffd", "open quote", "z"};
}

void TestBatch::controlFlow()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, words);
    TestSupport::MessageLog log;
    QCOMPARE(run(script), words);
}

void TestBatch::ifokKeepsQuotedText()
{
    Batch batch;
    Responder responder(&batch);
    QSignalSpy ended(&batch, &Batch::batchEnded);
    batch.batchLoad(writeScript(":ifok auto_save_data_path \"D:\\CT results\"\n"));
    batch.batchExec();
    QVERIFY(ended.wait(30000));
    QCOMPARE(responder.cmds.size(), 1);
    QCOMPARE(responder.cmds.at(0).cmd, QString("auto_save_data_path"));
    QCOMPARE(responder.cmds.at(0).args, QStringList{"D:\\CT results"});
}

void TestBatch::continuationLinesAreReported()
{
    TestSupport::MessageLog log;
    Batch batch;
    batch.batchLoad(writeScript("seq_exec_dir D:\\xafs\\run1\\\nnext\n"));
    QCOMPARE(batch.scriptLines(), QStringList{"next"});
    QVERIFY(log.contains("seq_exec_dir D:\\xafs\\run1\\"));
}

void TestBatch::missingFileKeepsScript()
{
    TestSupport::MessageLog log;
    Batch batch;
    QSignalSpy loaded(&batch, &Batch::batchLoaded);
    batch.batchLoad(writeScript("a\nb\n"));
    batch.batchLoad(dir.filePath("missing.bat"));
    batch.batchLoad(QString());
    QCOMPARE(batch.scriptLines(), QStringList({"a", "b"}));
    QCOMPARE(log.count("Can't open batch file"), 2);
    QCOMPARE(loaded.size(), 3);
    QCOMPARE(loaded.at(1).at(0).toBool(), false);
}

void TestBatch::refusedFileKeepsScript_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("endless device") << "/dev/zero"
                                    << "Not a regular file";
    QTest::newRow("directory") << "."
                               << "Not a regular file";
    QTest::newRow("16 MB and one byte") << "big"
                                        << "Text file larger than 16 MB";
}

void TestBatch::refusedFileKeepsScript()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QString target = name == "." ? dir.path() : name;
    if (name == "big") {
        target = writeScript("big 1\n");
        QVERIFY(QFile::resize(target, 16 * 1024 * 1024 + 1));
    }
    TestSupport::MessageLog log;
    Batch batch;
    QSignalSpy loaded(&batch, &Batch::batchLoaded);
    batch.batchLoad(writeScript("a\nb\n"));
    batch.batchLoad(target);
    QCOMPARE(batch.scriptLines(), QStringList({"a", "b"}));
    QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    QVERIFY(log.contains("Can't open batch file"));
    QCOMPARE(loaded.size(), 2);
    QCOMPARE(loaded.at(1).at(0).toBool(), false);
}

void TestBatch::crOnlyLineEnds()
{
    // Scripts saved by old Macintosh editors end their lines with CR alone.
    QCOMPARE(run("a 1\rb 2\r\nc\n\rd"), QStringList({"a", "b", "c", "d"}));
}

void TestBatch::fuzzRegressions()
{
    QDir folder(QStringLiteral(ORVO2_SOURCE_DIR "/fuzz/regressions/batch"));
    const QStringList names = folder.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString &name : names) {
        QFile f(folder.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList words = run(f.readAll());
        QVERIFY2(!words.contains("<timeout>"), qPrintable(name));
    }
}

void TestBatch::execToggles()
{
    Batch batch;
    batch.batchLoad(writeScript("a\nb\n"));
    batch.batchExec(); // sends "a" and waits
    QVERIFY(batch.isRunning());
    batch.batchExec();
    QVERIFY(!batch.isRunning());
    batch.batchCheckEnd(); // a late completion finds it idle
    QVERIFY(!batch.isRunning());
    QCOMPARE(batch.currentLine(), 1);
}

void TestBatch::loadWhileRunningKeepsCurrent()
{
    Batch batch;
    QList<BatchCmd> sent;
    connect(&batch, &Batch::batchExCmd, this, [&](BatchCmd c) { sent << c; });
    batch.batchLoad(writeScript("a\nb\n"));
    batch.batchExec();
    batch.batchLoad(writeScript("x\ny\nz\n"));
    batch.batchCheckEnd();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.at(1).cmd, QString("y"));
}

void TestBatch::longRunOfControlLines()
{
    QByteArray script;
    for (int i = 0; i < 50000; ++i)
        script += ":echo\n";
    script += "last\n";
    TestSupport::MessageLog log;
    QCOMPARE(run(script), QStringList{"last"});
}

void TestBatch::selfGotoCanBeStopped()
{
    Batch batch;
    batch.batchLoad(writeScript(":goto :goto\n"));
    QSignalSpy ended(&batch, &Batch::batchEnded);
    TestSupport::MessageLog log;
    batch.batchExec();
    QVERIFY(batch.isRunning());
    QMetaObject::invokeMethod(&batch, &Batch::batchStop, Qt::QueuedConnection);
    QVERIFY(ended.wait(30000));
    QVERIFY(!batch.isRunning());
}

void TestBatch::acrossThreads()
{
    BatchCmd::registerMetaType();
    QThread thread;
    auto *batch = new Batch;
    batch->moveToThread(&thread);
    connect(&thread, &QThread::finished, batch, &QObject::deleteLater);
    thread.start();

    QStringList seen;
    connect(batch, &Batch::batchExCmd, this, [&](BatchCmd c) {
        seen << c.cmd;
        if (c.isCmd("seq_exec_next"))
            batch->setOk(seen.count("seq_exec_next") < 3);
        QMetaObject::invokeMethod(batch, &Batch::batchCheckEnd, Qt::QueuedConnection);
    });
    QSignalSpy ended(batch, &Batch::batchEnded);
    const QString path = writeScript("start\nLoop\nwork\nseq_exec_next\n:ifok :goto Loop\ndone\n");
    QMetaObject::invokeMethod(
        batch, [batch, path] { batch->batchLoad(path); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(batch, &Batch::batchExec, Qt::QueuedConnection);
    QVERIFY(ended.wait(30000));
    QCOMPARE(seen,
             QStringList({"start", "Loop", "work", "seq_exec_next", "Loop", "work", "seq_exec_next",
                          "Loop", "work", "seq_exec_next", ":ifok", "done"}));
    thread.quit();
    thread.wait();
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_Batch.moc"
