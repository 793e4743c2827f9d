#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Runs the real program headless and looks at its exit status and debug lines.
class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void scriptRunsAndExits_data();
    void scriptRunsAndExits();
    void missingScriptExitsWithOne();
    void withoutExecuteQuitsAfterStartUp();
    void configLinesRunAtStartUp();

private:
    QString write(const QString &name, const QByteArray &text);
    int runProgram(const QString &exe, const QStringList &args, QString &log);
    QTemporaryDir dir;
};

QString TestProgram::write(const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
    return path;
}

int TestProgram::runProgram(const QString &exe, const QStringList &args, QString &log)
{
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(exe, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        log = "<timeout>";
        return -1;
    }
    log = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void TestProgram::scriptRunsAndExits_data()
{
    QTest::addColumn<QString>("exe");
    QTest::newRow("orvo2") << QString(ORVO2_EXE);
    QTest::newRow("orvo2-base") << QString(ORVO2_BASE_EXE);
}

void TestProgram::scriptRunsAndExits()
{
    QFETCH(QString, exe);
    const QString cfg = write("run.cfg", "DataRoot /tmp\n");
    const QString script = write("run.bat", ":echo starting\n"
                                            "unknown_word 1 2\n"
                                            ":goto Skip\n"
                                            "never_sent\n"
                                            "Skip\n"
                                            ":ifok :echo still ok\n"
                                            ":end\n"
                                            "after_end\n");
    QString log;
    QCOMPARE(runProgram(exe, {"-nw", "-e", "-c", cfg, "-b", script, "-x"}, log), 0);
    QVERIFY2(log.contains(":echo starting\n"), qPrintable(log));
    QVERIFY(log.contains("cmd \"unknown_word\""));
    QVERIFY(log.contains("body-cmd \"unknown_word\""));
    QVERIFY(log.contains("body-cmd \"Skip\""));
    QVERIFY(log.contains("\n:echo still ok\n"));
    QVERIFY(!log.contains("never_sent"));
    QVERIFY(!log.contains("after_end"));
}

void TestProgram::missingScriptExitsWithOne()
{
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-b", dir.filePath("missing.bat"), "-x"}, log), 1);
    QVERIFY2(log.contains("Can't open batch file"), qPrintable(log));
}

void TestProgram::withoutExecuteQuitsAfterStartUp()
{
    const QString script = write("noexec.bat", "should_not_run\n");
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-b", script}, log), 0);
    QVERIFY2(!log.contains("should_not_run"), qPrintable(log));
    QVERIFY(log.contains("Can't open config file : "));
}

void TestProgram::configLinesRunAtStartUp()
{
    const QString cfg = write("lines.cfg", "first_line 1\n# comment\nsecond_line\n");
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-config", cfg}, log), 0);
    QVERIFY2(log.indexOf("body-cmd \"first_line\"") >= 0, qPrintable(log));
    QVERIFY(log.indexOf("body-cmd \"first_line\"") < log.indexOf("body-cmd \"second_line\""));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_Program.moc"
