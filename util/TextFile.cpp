#include "TextFile.h"

#include <QFile>
#include <QFileInfo>

TextFile::Result TextFile::readLines(const QString &fileName, QStringList *lines)
{
    lines->clear();
    if (fileName.isEmpty())
        return CanNotOpen;
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        return NotRegular;
    if (info.size() > maxBytes)
        return TooLarge;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return CanNotOpen;
    // The file may have grown since its size was looked at: read it piece by piece
    // and never take more than the limit (a read of the limit at once would first
    // allocate all 16 MB for a script of a few lines).
    QByteArray bytes;
    char piece[65536];
    qint64 got = 0;
    while ((got = file.read(piece, sizeof piece)) > 0) {
        if (bytes.size() + got > maxBytes)
            return TooLarge;
        bytes.append(piece, got);
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
