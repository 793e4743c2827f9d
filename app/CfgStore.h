#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// Command-line options and configuration entries in one store, plus every
// non-blank configuration line (the configuration file is also a start-up
// batch script). Keys are exact-case; a repeated key replaces the value in place.
class CfgStore
{
public:
    void init(int argc, const char *const *argv);
    void init(const QStringList &arguments);
    bool read(const QString &fileName);
    void set(const QString &key, const QString &value);
    bool has(const QString &key) const;
    QString value(const QString &key, const QString &defaultValue = QString()) const;
    QStringList lines() const { return storedLines; }
    // Lines read by one read(), INCLUDEs counted in, before reading stops.
    static constexpr int maxLines = 100000;
    void clear();

    // The process-wide store.
    static CfgStore &global();

private:
    bool readFile(const QString &fileName);

    QVector<QPair<QString, QString>> entries;
    QStringList storedLines;
    // Files being read, innermost last: an INCLUDE naming one of them is a cycle.
    QStringList readingChain;
    int linesRead = 0;
    bool linesCut = false;
};
