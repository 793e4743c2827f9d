#include "BatchCmd.h"

#include "util/Numbers.h"
#include "util/TextLine.h"

void BatchCmd::parse(const QString &text)
{
    line = text;
    noCommand = false;
    cmd.clear();
    args.clear();
    QString item;
    QString rest = takeItem(text, cmd);
    if (cmd.isEmpty())
        return;
    do {
        rest = takeItem(rest, item);
        if (!item.isEmpty())
            args << item;
    } while (!item.isEmpty());
}

bool BatchCmd::isCmd(const QString &word) const
{
    return cmd.toUpper() == word.toUpper();
}

QString BatchCmd::argText(int i) const
{
    return (i >= 0 && i < args.size()) ? args.at(i) : QString();
}

double BatchCmd::argDouble(int i) const
{
    return Numbers::toFiniteDouble(argText(i));
}

int BatchCmd::argInt(int i) const
{
    return Numbers::toInt(argText(i));
}

bool BatchCmd::argFlag(int i) const
{
    return argInt(i) == 1;
}

QStringList BatchCmd::argsFrom(int i) const
{
    if (i < 0)
        i = 0;
    return i < args.size() ? args.mid(i) : QStringList();
}

QString BatchCmd::restJoined() const
{
    return args.join(QLatin1Char(' '));
}

QString BatchCmd::restText() const
{
    QString word;
    QString rest = takeItem(line, word);
    qsizetype start = 0;
    while (start < rest.size() && rest.at(start).isSpace())
        ++start;
    return rest.mid(start);
}

void BatchCmd::registerMetaType()
{
    qRegisterMetaType<BatchCmd>("BatchCmd");
}
