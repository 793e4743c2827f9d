#include "TestSupport.h"

#include <QDir>
#include <QMutexLocker>

namespace TestSupport {

QString sharedDataDir()
{
    QDir dir(QStringLiteral(ORVO2_SHARED_DATA));
    return dir.exists() ? dir.absolutePath() : QString();
}

MessageLog *MessageLog::active = nullptr;

MessageLog::MessageLog()
{
    active = this;
    previous = qInstallMessageHandler(&MessageLog::handler);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(previous);
    active = nullptr;
}

void MessageLog::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (active) {
        QMutexLocker lock(&active->mutex);
        active->lines << msg;
    }
    if (type == QtFatalMsg && active && active->previous)
        active->previous(type, context, msg);
}

QStringList MessageLog::messages() const
{
    QMutexLocker lock(&mutex);
    return lines;
}

bool MessageLog::contains(const QString &text) const
{
    return count(text) > 0;
}

int MessageLog::count(const QString &text) const
{
    QMutexLocker lock(&mutex);
    int n = 0;
    for (const QString &line : lines)
        if (line.contains(text))
            ++n;
    return n;
}

void MessageLog::clear()
{
    QMutexLocker lock(&mutex);
    lines.clear();
}

} // namespace TestSupport
