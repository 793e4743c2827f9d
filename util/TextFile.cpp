#include "TextFile.h"

#include "SafeFile.h"

TextFile::Result TextFile::readLines(const QString &fileName, QStringList *lines)
{
    lines->clear();
    QByteArray bytes;
    switch (SafeFile::readAll(fileName, maxBytes, &bytes)) {
    case SafeFile::Read:
        break;
    case SafeFile::NotRegular:
        return NotRegular;
    case SafeFile::TooLarge:
        return TooLarge;
    case SafeFile::CanNotOpen:
    case SafeFile::ReadFailed:
        return CanNotOpen;
    }
    const QString text = QString::fromUtf8(bytes);
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines->append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines->append(text.mid(start));
    return Read;
}

QString TextFile::refusal(Result result)
{
    switch (result) {
    case NotRegular:
        return QStringLiteral("Not a regular file :");
    case TooLarge:
        return QStringLiteral("Text file larger than 16 MB :");
    case Read:
    case CanNotOpen:
        break;
    }
    return QString();
}
