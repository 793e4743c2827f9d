#include "TextLine.h"

#include <QDebug>

namespace {

// "\s" without Unicode properties: space, tab, LF, VT, FF and CR.
bool isAsciiSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r';
}

const QString &spaceConstant()
{
    static const QString constant(101, QLatin1Char(' '));
    return constant;
}

} // namespace

QString splitComment(const QString &line, QString &comment)
{
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
        } else if (c == QLatin1Char('#') && !inQuotes) {
            comment = line.mid(i + 1);
            return line.left(i);
        }
    }
    return line;
}

QString removeComment(const QString &line)
{
    QString comment;
    return splitComment(line, comment);
}

bool isBlank(const QString &line)
{
    return removeComment(line).simplified().isEmpty();
}

bool stripContinuation(QString &line)
{
    qsizetype last = line.size() - 1;
    while (last >= 0 && isAsciiSpace(line.at(last)))
        --last;
    if (last < 0 || line.at(last) != QLatin1Char('\\'))
        return false;
    line.truncate(last);
    return true;
}

QString takeItem(const QString &line, QString &item)
{
    item.clear();
    qsizetype s = 0;
    while (s < line.size() && isAsciiSpace(line.at(s)))
        ++s;
    if (s >= line.size())
        return QString();
    if (line.at(s) == QLatin1Char('"')) {
        const qsizetype q = line.indexOf(QLatin1Char('"'), s + 1);
        if (q >= 0) {
            item = line.mid(s + 1, q - s - 1);
            return line.mid(q + 1);
        }
        qDebug().noquote()
            << QStringLiteral("In a line [%1] item is started from quote but not ended by quote")
                   .arg(line);
        item = line.mid(s + 1);
        return QString();
    }
    qsizetype w = s;
    while (w < line.size() && !isAsciiSpace(line.at(w)))
        ++w;
    item = line.mid(s, w - s);
    if (item.endsWith(QLatin1Char('"')))
        qDebug().noquote()
            << QStringLiteral("In a line [%1] item is started from not quote but ended by quote")
                   .arg(line);
    return w < line.size() ? line.mid(w) : QString();
}

bool startsWithKey(const QString &line, const QString &key)
{
    return line.size() >= key.size() && QStringView(line).left(key.size()) == key;
}

QStringList itemsAfter(const QString &line, const QString &key)
{
    QStringList items;
    QString rest = line.mid(key.size());
    if (rest.isEmpty())
        return items;
    while (!rest.isEmpty()) {
        QString item;
        rest = takeItem(rest, item);
        items << item;
    }
    return items;
}

QString spaces(int n)
{
    if (n < 0 || n > 100)
        return spaceConstant();
    return spaceConstant().left(n);
}
