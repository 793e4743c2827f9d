#include "SeqRunFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace SeqRunFixture;

// The real program as a cluster task runs it: -sets lists the sets of a
// sequential script, -set K computes one of them, -threads N sets the engines.
class TestSetOptions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void listsTheSets_data();
    void listsTheSets();
    void oneSetAtATimeMakesTheWholeRun();
    void refusedOptions_data();
    void refusedOptions();
    void threadsOverrideTheScript_data();
    void threadsOverrideTheScript();
    void setWithUnreadableImagesFails();

private:
    Run orvo2(const QStringList &args);
    QString tagOf(int set) const;
    QTemporaryDir dir;
    DemoSettings settings;
    QString script;
    QString results;
};

void TestSetOptions::initTestCase()
{
    QVERIFY(dir.isValid());
    settings = smallSettings(dir.filePath("data"));
    QVERIFY(DemoGenerator(settings).generate());
    results = dir.filePath("results");
    script = dir.filePath("seq.bat");
    QVERIFY(writeFile(script, sequentialScript(settings, results).toUtf8()));
    QVERIFY(writeFile(dir.filePath("none.cfg"), ""));
}

Run TestSetOptions::orvo2(const QStringList &args)
{
    return runProgram(ORVO2_EXE, QStringList{"-e", "-c", dir.filePath("none.cfg")} + args,
                      dir.path());
}

QString TestSetOptions::tagOf(int set) const
{
    return DemoGenerator::energyText(DemoGenerator(settings).energyAt(set));
}

void TestSetOptions::listsTheSets_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QList<int>>("sets");
    QTest::newRow("every set") << QStringList{} << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("with -set 3") << QStringList{"-set", "3"} << QList<int>{3};
}

void TestSetOptions::listsTheSets()
{
    QFETCH(QStringList, extra);
    QFETCH(QList<int>, sets);
    // No -nw and no -x: listing runs headless and runs the script by itself.
    const Run r = orvo2(QStringList{"-b", script, "-sets"} + extra);
    QCOMPARE(r.status, 0);
    QStringList rows = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.takeFirst(), QStringLiteral("# set\ttag\tfiles\ti0"));
    QCOMPARE(rows.size(), sets.size());
    for (int i = 0; i < sets.size(); ++i) {
        const int k = sets.at(i);
        // Each generated energy has its own I0 file: the nearest is that one.
        const QString i0 =
            QStringLiteral("%1/i0/%2").arg(settings.outDir, DemoGenerator::i0FileName(tagOf(k)));
        QCOMPARE(rows.at(i), QStringLiteral("%1\t%2\t%3\t%4")
                                 .arg(k)
                                 .arg(tagOf(k))
                                 .arg(settings.projections)
                                 .arg(i0));
    }
    QVERIFY2(!r.err.contains("body-cmd \"calc_exec\""), "listing must stop before computing");
    QVERIFY(filesUnder(results, {}).isEmpty());
}

void TestSetOptions::oneSetAtATimeMakesTheWholeRun()
{
    const QString whole = dir.filePath("whole");
    Run r = orvo2({"-nw", "-b", script, "-x"});
    QCOMPARE(r.status, 0);
    QVERIFY(QDir().rename(results, whole));
    QCOMPARE(filesUnder(whole, {}).size() % settings.energies, 0);

    for (int k = settings.energies - 1; k >= 0; --k) {
        const QStringList before = filesUnder(results, {});
        r = orvo2({"-nw", "-b", script, "-x", "-set", QString::number(k), "-threads", "1"});
        QCOMPARE(r.status, 0);
        // Only the set asked for was computed: everything new is in its folder.
        QStringList added = filesUnder(results, {});
        for (const QString &f : before)
            added.removeOne(f);
        QVERIFY(!added.isEmpty());
        for (const QString &f : added)
            QVERIFY2(f.startsWith(tagOf(k) + "/"), qPrintable(f));
    }
    const QStringList diffs = differences(whole, results);
    QVERIFY2(diffs.isEmpty(), qPrintable(diffs.join('\n')));
}

void TestSetOptions::refusedOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("set one past the last")
        << QStringList{"-set", "5"}
        << "-set 5: no such set, the data directory has 5 sets, numbered 0 to 4 :";
    QTest::newRow("set far beyond")
        << QStringList{"-set", "70"}
        << "-set 70: no such set, the data directory has 5 sets, numbered 0 to 4 :";
    QTest::newRow("set as a word")
        << QStringList{"-set", "first"} << "-set needs a set number counted from 0 : \"first\"";
    QTest::newRow("no engines") << QStringList{"-threads", "0"}
                                << "-threads needs a number of engines of 1 or more : \"0\"";
}

void TestSetOptions::refusedOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QDir(results).removeRecursively();
    const Run r = orvo2(QStringList{"-nw", "-b", script, "-x"} + args);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY2(!r.err.contains("body-cmd \"calc_exec\""), qPrintable(r.err));
    QVERIFY(filesUnder(results, {}).isEmpty());
}

void TestSetOptions::threadsOverrideTheScript_data()
{
    QTest::addColumn<QString>("threads");
    QTest::addColumn<QString>("message");
    QTest::newRow("fewer than the script's 2") << "1"
                                               << "Engines 1 as -threads says, not 2";
    QTest::newRow("more than the script's 2") << "3"
                                              << "Engines 3 as -threads says, not 2";
    QTest::newRow("more than there are engines")
        << "40"
        << "-threads is more than there are engines, using 32";
}

void TestSetOptions::threadsOverrideTheScript()
{
    QFETCH(QString, threads);
    QFETCH(QString, message);
    const Run r = orvo2({"-nw", "-b", script, "-x", "-set", "0", "-threads", threads});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

void TestSetOptions::setWithUnreadableImagesFails()
{
    // A copy of the data whose set 2 has only truncated projection files.
    DemoSettings broken = smallSettings(dir.filePath("broken"));
    QVERIFY(DemoGenerator(broken).generate());
    const QString tag = tagOf(2);
    const QStringList files =
        QDir(broken.outDir + "/proj").entryList({QStringLiteral("*-%1-*").arg(tag)}, QDir::Files);
    QCOMPARE(files.size(), broken.projections);
    for (const QString &f : files)
        QVERIFY(writeFile(broken.outDir + "/proj/" + f, "ITEX but cut"));
    const QString brokenScript = dir.filePath("broken.bat");
    QVERIFY(
        writeFile(brokenScript, sequentialScript(broken, dir.filePath("broken-results")).toUtf8()));

    Run r = orvo2({"-nw", "-b", brokenScript, "-x", "-set", "2"});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("-set 2 : no projection image of the set could be read"),
             qPrintable(r.err));
    r = orvo2({"-nw", "-b", brokenScript, "-x", "-set", "1"});
    QCOMPARE(r.status, 0);
}

QTEST_GUILESS_MAIN(TestSetOptions)
#include "tst_SetOptions.moc"
