#include "ResultLayout.h"

#include <QDir>

QString sliceNumberText(int sliceNo)
{
    return QString::asprintf("%05d", sliceNo);
}

QString ResultLayout::fileName(const QString &name, const QString &tag, const QString &slice,
                               const QString &extension)
{
    return QStringLiteral("%1-%2-%3.%4").arg(name, tag, slice, extension);
}

bool ResultLayout::isNamePartAllowed(const QString &part)
{
    return !part.contains(QLatin1Char('/')) && !part.contains(QLatin1Char('\\')) &&
           !part.contains(QLatin1String(".."));
}

QStringList ResultLayout::foldersOf(const QString &base, const QString &tag,
                                    const QString &slice) const
{
    if (!inSubFolders)
        return {base};
    // QDir joins with "/", which Qt maps to the platform's separator on every system.
    QStringList folders;
    if (ofEnergy)
        folders << QDir(base).filePath(tag);
    if (ofSlice)
        folders << QDir(base).filePath(slice);
    return folders;
}

QString ResultLayout::recordFileName(const QString &name, const QString &tag)
{
    return QStringLiteral("%1-%2.json").arg(name, tag);
}

QString ResultLayout::recordFolder(const QString &base, const QString &tag) const
{
    return inSubFolders && ofEnergy ? QDir(base).filePath(tag) : base;
}

QString ResultLayout::recordPath(const QString &base, const QString &name, const QString &tag) const
{
    return QDir(recordFolder(base, tag)).filePath(recordFileName(name, tag));
}

QStringList ResultLayout::foldersToSearch(const QString &base, const QStringList &skipped) const
{
    if (!inSubFolders)
        return {base};
    if (!ofEnergy && !ofSlice)
        return {};
    QStringList folders;
    const QDir dir(base);
    const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &sub : subs) {
        if (!skipped.contains(sub))
            folders << dir.filePath(sub);
    }
    return folders;
}

QString ResultLayout::fileFilter(const QString &name, const QString &extension)
{
    return QStringLiteral("%1-*.%2").arg(name, extension);
}

QRegularExpression ResultLayout::filePattern(const QString &name, const QString &extension)
{
    return QRegularExpression(
        QStringLiteral("^%1-(.*)-(\\d{5,})\\.%2$")
            .arg(QRegularExpression::escape(name), QRegularExpression::escape(extension)));
}
