#include "app/CfgStore.h"
#include "config/RunOptions.h"

#include <QTest>

// The options of a cluster task as the command line gives them.
class TestRunOptions : public QObject
{
    Q_OBJECT
private slots:
    void fromCommandLine_data();
    void fromCommandLine();
    void configFileCanGiveThem();
};

void TestRunOptions::fromCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("onlySet");
    QTest::addColumn<int>("threads");
    QTest::addColumn<bool>("listSets");
    QTest::addColumn<QString>("problem");

    QTest::newRow("none") << QStringList{} << -1 << 0 << false << "";
    QTest::newRow("a task") << QStringList{"-nw", "-set", "3", "-threads", "8"} << 3 << 8 << false
                            << "";
    QTest::newRow("set 0 is the first") << QStringList{"-set", "0"} << 0 << 0 << false << "";
    QTest::newRow("listing") << QStringList{"-b", "a.bat", "-sets"} << -1 << 0 << true << "";
    QTest::newRow("set without number") << QStringList{"-set", "-x"} << -1 << 0 << false
                                        << "-set needs a set number counted from 0 : \"\"";
    // A negative number starts with "-": it is an option of its own, -set has no value.
    QTest::newRow("negative set") << QStringList{"-set", "-1"} << -1 << 0 << false
                                  << "-set needs a set number counted from 0 : \"\"";
    QTest::newRow("set as a word") << QStringList{"-set", "two"} << -1 << 0 << false
                                   << "-set needs a set number counted from 0 : \"two\"";
    QTest::newRow("set as a fraction") << QStringList{"-set", "2.5"} << -1 << 0 << false
                                       << "-set needs a set number counted from 0 : \"2.5\"";
    QTest::newRow("no engines") << QStringList{"-threads", "0"} << -1 << 0 << false
                                << "-threads needs a number of engines of 1 or more : \"0\"";
    QTest::newRow("threads beyond int")
        << QStringList{"-threads", "99999999999"} << -1 << 0 << false
        << "-threads needs a number of engines of 1 or more : "
           "\"99999999999\"";
}

void TestRunOptions::fromCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, onlySet);
    QFETCH(int, threads);
    QFETCH(bool, listSets);
    QFETCH(QString, problem);
    CfgStore cfg;
    cfg.init(QStringList{"orvo2"} + args);
    const RunOptions options = RunOptions::fromStore(cfg);
    QCOMPARE(options.onlySet, onlySet);
    QCOMPARE(options.threads, threads);
    QCOMPARE(options.listSets, listSets);
    QCOMPARE(options.problems.join('\n'), problem);
    QCOMPARE(options.ok(), problem.isEmpty());
}

void TestRunOptions::configFileCanGiveThem()
{
    // As for every option, a line of the configuration file with its name counts
    // like the option and wins over the command line.
    CfgStore cfg;
    cfg.init(QStringList{"orvo2", "-set", "1"});
    cfg.set("-set", "4");
    cfg.set("-threads", "2");
    const RunOptions options = RunOptions::fromStore(cfg);
    QCOMPARE(options.onlySet, 4);
    QCOMPARE(options.threads, 2);
}

QTEST_GUILESS_MAIN(TestRunOptions)
#include "tst_RunOptions.moc"
