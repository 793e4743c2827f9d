#include "support/TestSupport.h"
#include "util/Numbers.h"
#include "util/TextLine.h"

#include <QTest>
#include <climits>
#include <cmath>
#include <limits>

class TestTextLine : public QObject
{
    Q_OBJECT
private slots:
    void removeComment_data();
    void removeComment();
    void isBlank_data();
    void isBlank();
    void takeItem_data();
    void takeItem();
    void takeItemWarnings();
    void stripContinuation_data();
    void stripContinuation();
    void itemsAfter();
    void spaces();
    void numbersFromText_data();
    void numbersFromText();
    void saturation();
};

void TestTextLine::removeComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no comment") << "a b c"
                                << "a b c";
    QTest::newRow("plain comment") << "DataRoot /x # note"
                                   << "DataRoot /x ";
    QTest::newRow("hash in double quotes") << "a \"#b\" c"
                                           << "a \"#b\" c";
    QTest::newRow("hash in apostrophes") << "a '#b' #c"
                                         << "a '#b' ";
    QTest::newRow("unmatched apostrophe") << "it's #1"
                                          << "it's #1";
    QTest::newRow("apostrophe closes double quote") << "a \"b' #c"
                                                    << "a \"b' ";
    QTest::newRow("comment only") << "#all"
                                  << "";
}

void TestTextLine::removeComment()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(::removeComment(line), expected);
    QString comment = "untouched";
    ::splitComment(line, comment);
    if (expected == line)
        QCOMPARE(comment, QString("untouched"));
}

void TestTextLine::isBlank_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("blank");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("spaces and tabs") << "  \t " << true;
    QTest::newRow("comment only") << "   # x" << true;
    QTest::newRow("text") << " a" << false;
    QTest::newRow("quoted hash") << "\"#\"" << false;
}

void TestTextLine::isBlank()
{
    QFETCH(QString, line);
    QFETCH(bool, blank);
    QCOMPARE(::isBlank(line), blank);
}

void TestTextLine::takeItem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("rest");
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("blanks only") << " \t "
                                 << ""
                                 << "";
    QTest::newRow("two words") << "ab cd"
                               << "ab"
                               << " cd";
    QTest::newRow("leading blanks") << "  ab"
                                    << "ab"
                                    << "";
    QTest::newRow("two quoted words") << "\"a b\" \"c\""
                                      << "a b"
                                      << " \"c\"";
    QTest::newRow("empty quotes") << "\"\""
                                  << ""
                                  << "";
    QTest::newRow("item right after quote") << "\"a\"b"
                                            << "a"
                                            << "b";
    QTest::newRow("unterminated quote") << "x \"a b"
                                        << "x"
                                        << " \"a b";
    QTest::newRow("tab separated") << "a\tb"
                                   << "a"
                                   << "\tb";
}

void TestTextLine::takeItem()
{
    QFETCH(QString, line);
    QFETCH(QString, item);
    QFETCH(QString, rest);
    QString got = "stale";
    QCOMPARE(::takeItem(line, got), rest);
    QCOMPARE(got, item);
}

void TestTextLine::takeItemWarnings()
{
    TestSupport::MessageLog log;
    QString item;
    QCOMPARE(::takeItem("\"a b", item), QString());
    QCOMPARE(item, QString("a b"));
    QVERIFY(log.contains("In a line [\"a b] item is started from quote but not ended by quote"));

    log.clear();
    QCOMPARE(::takeItem("ab\" cd", item), QString(" cd"));
    QCOMPARE(item, QString("ab\""));
    QVERIFY(log.contains("item is started from not quote but ended by quote"));

    log.clear();
    ::takeItem("\"\"", item);
    QVERIFY(log.messages().isEmpty());
}

void TestTextLine::stripContinuation_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("stripped");
    QTest::addColumn<QString>("after");
    QTest::newRow("no backslash") << "abc" << false << "abc";
    QTest::newRow("backslash at end") << "abc \\" << true << "abc ";
    QTest::newRow("backslash then blanks") << "abc\\  " << true << "abc";
    QTest::newRow("blank line") << "   " << false << "   ";
    QTest::newRow("inner backslash") << "a\\b" << false << "a\\b";
}

void TestTextLine::stripContinuation()
{
    QFETCH(QString, line);
    QFETCH(bool, stripped);
    QFETCH(QString, after);
    QCOMPARE(::stripContinuation(line), stripped);
    QCOMPARE(line, after);
}

void TestTextLine::itemsAfter()
{
    QCOMPARE(::itemsAfter("Key=a b ", "Key="), QStringList({"a", "b", ""}));
    QCOMPARE(::itemsAfter("Key=", "Key="), QStringList());
    QCOMPARE(::itemsAfter("Key=\"x y\",z", "Key="), QStringList({"x y", ",z"}));
    QVERIFY(::startsWithKey("Prop_ImageWidth=12", "Prop_ImageWidth="));
    QVERIFY(!::startsWithKey("Prop", "Prop_ImageWidth="));
    QVERIFY(!::startsWithKey("prop_ImageWidth=12", "Prop_ImageWidth="));
}

void TestTextLine::spaces()
{
    QCOMPARE(::spaces(0), QString());
    QCOMPARE(::spaces(100), QString(100, ' '));
    QCOMPARE(::spaces(150).size(), 101);
    QCOMPARE(::spaces(-1).size(), 101);
}

void TestTextLine::numbersFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("intValue");
    QTest::newRow("integer") << "12" << 12.0 << 12;
    QTest::newRow("real") << "2.5" << 2.5 << 0;
    QTest::newRow("nan") << "nan" << 0.0 << 0;
    QTest::newRow("inf") << "inf" << 0.0 << 0;
    QTest::newRow("minus inf") << "-inf" << 0.0 << 0;
    QTest::newRow("word") << "abc" << 0.0 << 0;
    QTest::newRow("empty") << "" << 0.0 << 0;
    QTest::newRow("int overflow") << "3000000000" << 3e9 << 0;
    QTest::newRow("huge double") << "1e400" << 0.0 << 0;
}

void TestTextLine::numbersFromText()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(int, intValue);
    QCOMPARE(Numbers::toFiniteDouble(text), value);
    QCOMPARE(Numbers::toInt(text), intValue);
}

void TestTextLine::saturation()
{
    QCOMPARE(Numbers::saturateToInt(std::numeric_limits<double>::quiet_NaN()), 0);
    QCOMPARE(Numbers::saturateToInt(1e300), INT_MAX);
    QCOMPARE(Numbers::saturateToInt(-std::numeric_limits<double>::infinity()), INT_MIN);
    QCOMPARE(Numbers::saturateToInt(-2.7), -2);
    QCOMPARE(Numbers::floorToInt(-2.2), -3);
    QCOMPARE(Numbers::roundToInt(2.5), 3);
    QCOMPARE(Numbers::text(1.0 / 3.0), QString("0.333333"));
}

QTEST_GUILESS_MAIN(TestTextLine)
#include "tst_TextLine.moc"
