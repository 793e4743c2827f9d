#include "ScriptCheck.h"

#include "batch/BatchCmd.h"
#include "batch/CommandTable.h"
#include "util/TextLine.h"

namespace {

bool isCondition(const BatchCmd &c)
{
    return c.isCmd(QStringLiteral(":ifok")) || c.isCmd(QStringLiteral(":ifng"));
}

// The interpreter's own words: they never reach the command table.
bool isControl(const BatchCmd &c)
{
    for (const char *word : {":goto", ":end", ":stop", ":echo"})
        if (c.isCmd(QLatin1String(word)))
            return true;
    return false;
}

// The command a line carries out when its condition holds.
BatchCmd commandOf(const QString &text)
{
    BatchCmd c(text);
    if (isCondition(c))
        c.parse(c.restText());
    return c;
}

} // namespace

QSet<QString> ScriptCheck::labels(const QStringList &lines)
{
    QSet<QString> found;
    for (const QString &line : lines) {
        const BatchCmd c = commandOf(removeComment(line));
        if (c.isCmd(QStringLiteral(":goto")) && !c.argText(0).isEmpty())
            found.insert(c.argText(0));
    }
    return found;
}

QStringList ScriptCheck::problems(const CommandTable &table, const QStringList &fileLines)
{
    const QSet<QString> jumpTargets = labels(fileLines);
    QStringList found;
    for (int i = 0; i < fileLines.size(); ++i) {
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        QString text = removeComment(fileLines.at(i));
        QString probe = text;
        if (stripContinuation(probe)) {
            found << where + QStringLiteral("a line ending in a backslash is not executed");
            continue;
        }
        if (isBlank(text))
            continue;
        BatchCmd c = commandOf(text);
        if (c.cmd.isEmpty() || isControl(c) || isCondition(c))
            continue;
        c.noCommand = jumpTargets.contains(c.cmd);
        if (!table.knows(c, CommandTable::Origin::Script)) {
            found << where + QStringLiteral("Unknown batch command : ") + c.cmd;
            continue;
        }
        const ArgumentRule rule = table.ruleOf(c.cmd);
        for (const QString &problem : {rule.countProblem(c), rule.valueProblem(c)})
            if (!problem.isEmpty())
                found << where + problem;
    }
    return found;
}
