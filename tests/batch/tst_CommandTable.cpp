#include "batch/CommandTable.h"

#include <QTest>

// The command table as the main window uses it: which handlers a line reaches, in
// which order, what it answers, and the list of words it gives.
class TestCommandTable : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void commandsReachTheirHandlers_data();
    void commandsReachTheirHandlers();
    void listsEachWordOnce();

private:
    using Answer = CommandTable::Answer;
    using Origin = CommandTable::Origin;
    CommandTable table;
    QStringList trace;
};

void TestCommandTable::init()
{
    table = CommandTable();
    trace.clear();
    const auto note = [this](const QString &what, Answer answer) {
        return [this, what, answer](const BatchCmd &, Origin) {
            trace << what;
            return answer;
        };
    };
    table.addGuard([this](const BatchCmd &c, Origin) -> std::optional<Answer> {
        if (!c.isCmd(QStringLiteral("guarded")))
            return std::nullopt;
        trace << QStringLiteral("guard");
        return Answer::Ok;
    });
    table.add("alpha", "f", "the first effect", note("alpha1", Answer::Ok));
    table.add("beta", "", "refuses", note("beta", Answer::Ng));
    table.addPrefix("pre_", {{"x", "v", "pre x"}, {"y", "", "pre y"}},
                    [this](const BatchCmd &, const QString &suffix, Origin) {
                        trace << QStringLiteral("pre:") + suffix;
                        return Answer::Ok;
                    });
    table.add("alpha", "", "", CommandTable::effect([this](const BatchCmd &c) {
                  trace << QStringLiteral("alpha2:%1").arg(c.argFlag(0));
              }));
    table.add("later", "", "answers at its end", note("later", Answer::Later));
    table.add("later", "", "", note("later-ng", Answer::Ng));
    table.add("guarded", "", "never reached", note("guarded", Answer::Ng));
    table.add("script", "", "ng for script lines only", [this](const BatchCmd &, Origin origin) {
        trace << QStringLiteral("script");
        return origin == Origin::Script ? Answer::Ng : Answer::Ok;
    });
}

void TestCommandTable::commandsReachTheirHandlers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("fromScript");
    QTest::addColumn<QStringList>("reached");
    QTest::addColumn<Answer>("answer");
    const bool script = true;
    QTest::newRow("one word, two effects in order")
        << "alpha 1" << script << QStringList{"alpha1", "alpha2:1"} << Answer::Ok;
    QTest::newRow("words in any case; a flag is on only at 1")
        << "ALPHA true" << script << QStringList{"alpha1", "alpha2:0"} << Answer::Ok;
    QTest::newRow("ng") << "beta" << script << QStringList{"beta"} << Answer::Ng;
    QTest::newRow("a prefix gets its suffix in lower case")
        << "PRE_X 3" << script << QStringList{"pre:x"} << Answer::Ok;
    QTest::newRow("a suffix not listed is unknown: no handler, ng")
        << "pre_zz" << script << QStringList{} << Answer::Ng;
    QTest::newRow("answering later wins over ng")
        << "later" << script << QStringList{"later", "later-ng"} << Answer::Later;
    QTest::newRow("a guard settles the command")
        << "guarded" << script << QStringList{"guard"} << Answer::Ok;
    QTest::newRow("unknown word: nothing, ng")
        << "gamma 1" << script << QStringList{} << Answer::Ng;
    QTest::newRow("unknown word of the configuration: nothing, ok")
        << "gamma 1" << !script << QStringList{} << Answer::Ok;
    QTest::newRow("script line") << "script" << script << QStringList{"script"} << Answer::Ng;
    QTest::newRow("configuration line")
        << "script" << !script << QStringList{"script"} << Answer::Ok;
}

void TestCommandTable::commandsReachTheirHandlers()
{
    QFETCH(QString, line);
    QFETCH(bool, fromScript);
    QFETCH(QStringList, reached);
    QFETCH(Answer, answer);
    const Answer answered =
        table.run(BatchCmd(line), fromScript ? Origin::Script : Origin::Configuration);
    QCOMPARE(trace, reached);
    QCOMPARE(answered, answer);
}

void TestCommandTable::listsEachWordOnce()
{
    QStringList words;
    for (const CommandTable::Word &w : table.words())
        words << w.word;
    QCOMPARE(words, QStringList({"alpha", "beta", "pre_x", "pre_y", "later", "guarded", "script"}));
    QVERIFY(table.isRegistered("PRE_Y"));
    QVERIFY(!table.isRegistered("pre_zz"));
    QCOMPARE(table.listing().first(), QString("alpha f  the first effect"));
    QCOMPARE(table.listing().at(2), QString("pre_x v  pre x"));
}

QTEST_GUILESS_MAIN(TestCommandTable)
#include "tst_CommandTable.moc"
