#include "CfgStore.h"

#include "util/TextFile.h"
#include "util/TextLine.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

CfgStore &CfgStore::global()
{
    static CfgStore store;
    return store;
}

void CfgStore::init(int argc, const char *const *argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromUtf8(argv[i]);
    init(arguments);
}

void CfgStore::init(const QStringList &arguments)
{
    const auto isOption = [](const QString &arg) { return arg.startsWith(QLatin1Char('-')); };
    qsizetype i = 0;
    while (i < arguments.size()) {
        if (!isOption(arguments.at(i))) {
            ++i;
            continue;
        }
        const QString key = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size() && !isOption(arguments.at(i + 1));
        set(key, hasValue ? arguments.at(i + 1) : QString());
        // Every word up to the next option belongs to this one.
        ++i;
        while (i < arguments.size() && !isOption(arguments.at(i)))
            ++i;
    }
}

bool CfgStore::read(const QString &fileName)
{
    linesRead = 0;
    linesCut = false;
    return readFile(fileName);
}

bool CfgStore::readFile(const QString &fileName)
{
    QStringList fileLines;
    const TextFile::Result result = TextFile::readLines(fileName, &fileLines);
    if (result != TextFile::Read) {
        // What the failure means for the run: the file's settings are not applied.
        const QString why = result != TextFile::CanNotOpen ? TextFile::refusal(result)
                            : QFileInfo::exists(fileName)  ? QStringLiteral("not readable")
                                                           : QStringLiteral("no such file");
        qDebug() << "Can't open config file : " << fileName << why
                 << "- its settings are not applied, the program goes on without them";
        return false;
    }
    const QString identity = QFileInfo(fileName).canonicalFilePath();
    if (readingChain.contains(identity)) {
        qDebug() << "INCLUDE cycle cut : " << fileName;
        return false;
    }
    readingChain << identity;

    for (const QString &line : fileLines) {
        // Files included over and over (twice at each of twenty levels is a million
        // reads) must not keep start-up busy for ever.
        if (linesCut)
            break;
        if (++linesRead > maxLines) {
            linesCut = true;
            qDebug() << "Too many configuration lines, reading stopped after" << maxLines
                     << "lines in" << fileName;
            break;
        }
        const QString text = removeComment(line);
        if (isBlank(text))
            continue;
        storedLines << text;
        QString key, value;
        takeItem(takeItem(text, key), value);
        if (key.toUpper() == QLatin1String("INCLUDE"))
            readFile(value);
        else
            set(key, value);
    }
    readingChain.removeLast();
    return true;
}

void CfgStore::set(const QString &key, const QString &value)
{
    for (auto &entry : entries) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    entries.append(qMakePair(key, value));
}

bool CfgStore::has(const QString &key) const
{
    for (const auto &entry : entries)
        if (entry.first == key)
            return true;
    return false;
}

QString CfgStore::value(const QString &key, const QString &defaultValue) const
{
    for (const auto &entry : entries)
        if (entry.first == key)
            return entry.second;
    return defaultValue;
}

void CfgStore::clear()
{
    entries.clear();
    storedLines.clear();
    readingChain.clear();
}
