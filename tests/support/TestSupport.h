#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

// Helpers shared by the test executables.
namespace TestSupport {

// Folder of the measured scans shipped beside the project ("" when absent).
QString sharedDataDir();

// Collects every debug/warning message written while it lives, so a test can
// check the diagnostics a call produced. Messages from any thread are kept.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    QStringList messages() const;
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    mutable QMutex mutex;
    QStringList lines;
    QtMessageHandler previous;
    static MessageLog *active;
};

} // namespace TestSupport
