#include "DemoGenerator.h"
#include "SeqRunFixture.h"

#include <QDir>
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
    void missingScriptWithoutExecuteExitsWithOne();
    void exitStatusAndSummary_data();
    void exitStatusAndSummary();
    void configRunAnswersNoScriptLine();

private:
    // Script lines that load the generated scan of one energy with its I0 and BG.
    QString loadLines(const QString &projectionPattern = QString());
    QString data;
    DemoSettings settings;
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
    const SeqRunFixture::Run r = SeqRunFixture::runProgram(
        exe, args, dir.path(), QProcessEnvironment::systemEnvironment(), 60000, true);
    log = r.status == -1 ? QStringLiteral("<timeout>") : r.out;
    return r.status;
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
    // The typo is logged and fails the run; the label is no typo.
    QCOMPARE(runProgram(exe, {"-nw", "-e", "-c", cfg, "-b", script, "-x"}, log), 2);
    QVERIFY2(log.contains(":echo starting\n"), qPrintable(log));
    QVERIFY(log.contains("Unknown batch command : unknown_word\n"));
    QVERIFY(log.contains("body-cmd \"Skip\""));
    QCOMPARE(log.count("Unknown batch command"), 1);
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
    // No configuration file was named and config.cfg is not there.
    QVERIFY(!log.contains("Can't open config file"));
}

void TestProgram::configLinesRunAtStartUp()
{
    const QString cfg = write("lines.cfg", "first_line 1\n# comment\nsecond_line\n");
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-config", cfg}, log), 0);
    QVERIFY2(log.indexOf("body-cmd \"first_line\"") >= 0, qPrintable(log));
    QVERIFY(log.indexOf("body-cmd \"first_line\"") < log.indexOf("body-cmd \"second_line\""));
}

QString TestProgram::loadLines(const QString &projectionPattern)
{
    if (data.isEmpty()) {
        data = dir.filePath("demo");
        settings.outDir = data;
        settings.width = 48;
        settings.height = 8;
        settings.projections = 30;
        settings.energies = 2;
        settings.noise = false;
        settings.layout = DemoSettings::Layout::Flat;
        if (!DemoGenerator(settings).generate())
            return QString();
    }
    const QString text = DemoGenerator::energyText(DemoGenerator(settings).energyAt(0));
    const QString pattern = projectionPattern.isEmpty()
                                ? QString("%1-%2-*.img").arg(settings.sample, text)
                                : projectionPattern;
    return QString("images_load \"%1/proj\" %2\n"
                   "i0_load \"%1/i0/%3\"\n"
                   "bg_load \"%1/bg/%4\"\n"
                   "ct_rot_ax_is_v 1\nct_cor %5\ncalc_ct2 1\nct_auto_exec 1\nct_threads 2\n")
        .arg(data, pattern, DemoGenerator::i0FileName(text), DemoGenerator::bgFileName())
        .arg(settings.corOrDefault());
}

void TestProgram::missingScriptWithoutExecuteExitsWithOne()
{
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-b", dir.filePath("missing.bat")}, log), 1);
    QVERIFY2(log.contains("Can't open batch file"), qPrintable(log));
}

void TestProgram::exitStatusAndSummary_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("summary");

    const QString save = "auto_save_data 1\nauto_save_data_path \"%1\"\nauto_save_data_name r\n";
    QTest::newRow("every slice computed and saved")
        << save + "ct_slice_from 0\nct_slice_to 3\ncalc_exec\n"
        << 0
        << "Summary : sets 0, slices computed 4, files written 4, failures 0, "
           "skipped projection files 0";
    QTest::newRow("result files can not be written")
        << save + "auto_save_data_path \"%1/blocked\"\nct_slice_from 0\nct_slice_to 1\n"
                  "calc_exec\n"
        << 2
        << "Summary : sets 0, slices computed 2, files written 0, failures 3, "
           "skipped projection files 0";
    QTest::newRow("a slice step of 0 is refused, the old step kept")
        << save + "ct_slice_step 0\nct_slice_from 0\nct_slice_to 3\ncalc_exec\n"
        << 0
        << "Summary : sets 0, slices computed 4, files written 4, failures 0, "
           "skipped projection files 0";
    QTest::newRow("slices past the image are refused, not clamped")
        << save + "ct_slice_from 40\nct_slice_to 50\ncalc_exec\n"
        << 2
        << "Summary : sets 0, slices computed 0, files written 0, failures 11, "
           "skipped projection files 0";
    QTest::newRow("an unreadable projection file is skipped")
        << "SKIP" + save + "ct_slice_from 2\nct_slice_to 2\ncalc_exec\n"
        << 0
        << "Summary : sets 0, slices computed 1, files written 1, failures 0, "
           "skipped projection files 1";
    QTest::newRow("two sets of a script loop")
        << save + "seq_exec_dir \"DATA/proj\"\nLoop\nseq_exec_set\nct_slice_from 1\n"
                  "ct_slice_to 1\ncalc_exec\nseq_exec_next\n:ifok :goto Loop\n"
        << 0
        << "Summary : sets 2, slices computed 2, files written 2, failures 0, "
           "skipped projection files 0";
}

void TestProgram::exitStatusAndSummary()
{
    QFETCH(QString, lines);
    QFETCH(int, status);
    QFETCH(QString, summary);
    QString load = loadLines();
    QVERIFY(!load.isEmpty());
    QTemporaryDir out;
    if (lines.startsWith("SKIP")) {
        // A damaged frame among the projections of the scan.
        lines = lines.mid(4);
        const QString text = DemoGenerator::energyText(DemoGenerator(settings).energyAt(0));
        QFile damaged(QString("%1/proj/%2-%3-zz.img").arg(data, settings.sample, text));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("IM");
        damaged.close();
        load = loadLines(QString("%1-%2-*.img").arg(settings.sample, text));
        lines = load + lines.arg(out.path());
        const QString script = write("skip.bat", lines.toUtf8());
        QString log;
        const int got = runProgram(ORVO2_EXE, {"-nw", "-e", "-b", script, "-x"}, log);
        damaged.remove();
        QCOMPARE(got, status);
        QVERIFY2(log.contains(summary), qPrintable(log));
        QVERIFY(log.contains("Projection file skipped"));
        return;
    }
    // A plain file where a save folder should be: no result can be written there.
    QFile blocker(out.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    lines = load + lines.arg(out.path()).replace("DATA", data);
    const QString script = write("status.bat", lines.toUtf8());
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-b", script, "-x"}, log), status);
    QVERIFY2(log.contains(summary), qPrintable(log));
    // One summary, at the end.
    QCOMPARE(log.count("Summary : "), 1);
    QVERIFY(log.trimmed().endsWith(summary));
}

// A "calc_exec" among the configuration lines starts a run at start-up; its end
// must not be taken for the end of the script's own "calc_exec".
void TestProgram::configRunAnswersNoScriptLine()
{
    const QString load = loadLines();
    QVERIFY(!load.isEmpty());
    const QString cfg =
        write("calc.cfg", (load + "ct_slice_from 0\nct_slice_to 7\ncalc_exec\n").toUtf8());
    const QString script = write("after.bat", "ct_slice_from 0\nct_slice_to 3\ncalc_exec\n"
                                              ":echo after the script's run\n");
    QString log;
    QCOMPARE(runProgram(ORVO2_EXE, {"-nw", "-e", "-c", cfg, "-b", script, "-x"}, log), 0);
    const int configRunEnd = log.indexOf("slices done 8 / 8");
    const int scriptRunEnd = log.indexOf("slices done 4 / 4");
    const int echo = log.indexOf(":echo after the script's run");
    QVERIFY2(configRunEnd >= 0 && scriptRunEnd > configRunEnd && echo > scriptRunEnd,
             qPrintable(log));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_Program.moc"
