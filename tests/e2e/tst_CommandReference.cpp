#include "SeqRunFixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

// `orvo2 -commands` and the README's batch reference name the same words.
class TestCommandReference : public QObject
{
    Q_OBJECT
private slots:
    void programAndReadmeListTheSameWords_data();
    void programAndReadmeListTheSameWords();
};

namespace {

const QRegularExpression commandWord(QStringLiteral("^[a-z][a-z0-9_]*$"));

// The first word of each backticked item of a cell.
QStringList wordsOfCell(const QString &cell)
{
    QStringList words;
    static const QRegularExpression item(QStringLiteral("`([^`]+)`"));
    for (const QRegularExpressionMatch &m : item.globalMatch(cell))
        words << m.captured(1).section(QLatin1Char(' '), 0, 0);
    return words;
}

// The words of the "| command | effect |" tables under "## Batch reference", and of
// its entries written as bullets ("- `ct_cor_auto [FROM TO]`: ...").
QSet<QString> readmeWords()
{
    QFile file(QStringLiteral(ORVO2_SOURCE_DIR "/README.md"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QSet<QString> words;
    bool inReference = false;
    bool inTable = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("## ")))
            inReference = line == QLatin1String("## Batch reference");
        if (!inReference)
            continue;
        // An escaped bar is part of a cell ("dat\|tiff\|both").
        const QStringList cells =
            QString(line).replace(QLatin1String("\\|"), QLatin1String("/")).split(QLatin1Char('|'));
        if (!line.startsWith(QLatin1Char('|'))) {
            inTable = false;
            const QStringList items = wordsOfCell(line);
            if (line.startsWith(QLatin1String("- `")) &&
                commandWord.match(items.first()).hasMatch())
                words << items.first();
        } else if (cells.size() > 2 &&
                   cells.at(1).trimmed().compare("command", Qt::CaseInsensitive) == 0) {
            inTable = cells.at(2).trimmed().compare("effect", Qt::CaseInsensitive) == 0;
        } else if (inTable) {
            for (const QString &w : wordsOfCell(cells.at(1)))
                words << w;
        }
    }
    return words;
}

} // namespace

void TestCommandReference::programAndReadmeListTheSameWords_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("orvo2") << QStringLiteral(ORVO2_EXE);
    QTest::newRow("orvo2-base") << QStringLiteral(ORVO2_BASE_EXE);
}

void TestCommandReference::programAndReadmeListTheSameWords()
{
    QFETCH(QString, program);
    // A platform that does not exist: listing the words must need no window.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("none-at-all"));
    const SeqRunFixture::Run run =
        SeqRunFixture::runProgram(program, {QStringLiteral("-commands")}, QDir::tempPath(), env);
    QCOMPARE(run.status, 0);
    QSet<QString> listed;
    for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        QVERIFY2(commandWord.match(word).hasMatch(), qPrintable(line));
        QVERIFY2(!listed.contains(word), qPrintable(word + " listed twice"));
        // The word and its arguments, then, after two blanks, what it does.
        QVERIFY2(!line.section(QLatin1String("  "), 1).trimmed().isEmpty(), qPrintable(line));
        listed << word;
    }
    const QSet<QString> documented = readmeWords();
    QVERIFY(documented.size() > 60);
    QStringList notListed = (documented - listed).values();
    QStringList notDocumented = (listed - documented).values();
    notListed.sort();
    notDocumented.sort();
    QVERIFY2(notListed.isEmpty(), qPrintable("In the README only: " + notListed.join(", ")));
    QVERIFY2(notDocumented.isEmpty(), qPrintable("Listed only: " + notDocumented.join(", ")));
}

QTEST_GUILESS_MAIN(TestCommandReference)
#include "tst_CommandReference.moc"
