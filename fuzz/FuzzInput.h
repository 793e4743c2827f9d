#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <unistd.h>

// The readers take file names, so every input goes through one file of this
// process, rewritten for each run. The debug channel is silenced: the readers'
// messages are their normal answer to bad input, not findings.
namespace FuzzInput {

inline void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Memory-backed when the system has /dev/shm: rewriting a file on a disk file
// system costs milliseconds, more than the reader's work on most inputs.
inline QString folder()
{
    if (qEnvironmentVariableIsSet("ORVO2_FUZZ_DIR"))
        return qEnvironmentVariable("ORVO2_FUZZ_DIR");
    if (access("/dev/shm", W_OK) == 0)
        return QStringLiteral("/dev/shm");
    return qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
}

inline QString path(const char *kind)
{
    static const QString name = QStringLiteral("%1/orvo2-fuzz-%2-%3")
                                    .arg(folder(), QString::fromLatin1(kind))
                                    .arg(getpid());
    // libFuzzer ends with exit(): the file goes with the process.
    static const bool removedAtExit = [] {
        std::atexit([] { QFile::remove(name); });
        return true;
    }();
    (void)removedAtExit;
    return name;
}

inline QString write(const char *kind, const uint8_t *data, size_t size)
{
    const QString name = path(kind);
    QFile f(name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    return name;
}

// The input's bytes in order, for targets that build their files from them;
// zeros once they run out.
class Bytes
{
public:
    Bytes(const uint8_t *data, size_t size)
        : data(data)
        , size(size)
    {
    }
    unsigned next() { return at < size ? data[at++] : 0u; }
    // Up to `most` of the bytes left, as they are.
    QByteArray take(size_t most)
    {
        const size_t n = std::min(most, size - at);
        const QByteArray bytes(reinterpret_cast<const char *>(data + at), qsizetype(n));
        at += n;
        return bytes;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

} // namespace FuzzInput
