#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One parsed script line: the whole text, the command word and its arguments.
// Copied whole into queued signals.
class BatchCmd
{
public:
    BatchCmd() = default;
    explicit BatchCmd(const QString &text) { parse(text); }

    void parse(const QString &text);
    bool isCmd(const QString &word) const;
    QString argText(int i) const;
    double argDouble(int i) const;
    int argInt(int i) const;
    // A flag is on only when it reads exactly 1: "true", "yes" or 2 are off.
    bool argFlag(int i) const;
    QStringList argsFrom(int i) const;
    QString restJoined() const;
    // The original text after the command word, quotes and blanks as written.
    QString restText() const;

    QString line;
    QString cmd;
    QStringList args;
    // A label of its script (a :goto target) or a condition not met: a line with
    // no command word to carry out or look up.
    bool noCommand = false;

    static void registerMetaType();
};

Q_DECLARE_METATYPE(BatchCmd)
