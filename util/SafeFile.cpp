#include "SafeFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QMutex faultMutex;

// The temporary files being written now, so that a process ending early removes
// them (an orderly end removes each one as its writer finishes).
QMutex temporariesMutex;
QSet<QString> &temporaries()
{
    static QSet<QString> paths;
    return paths;
}

void track(const QString &tempPath, bool on)
{
    if (tempPath.isEmpty())
        return;
    QMutexLocker lock(&temporariesMutex);
    if (on)
        temporaries().insert(tempPath);
    else
        temporaries().remove(tempPath);
}
QString failingFragment = QString::fromLocal8Bit(qgetenv("ORVO2_FAIL_WRITES"));

bool writesFailFor(const QString &path)
{
    QMutexLocker lock(&faultMutex);
    return !failingFragment.isEmpty() && QFileInfo(path).fileName().contains(failingFragment);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Unbuffered, so that every failed write is seen by the writer that made it.
class OutputDevice : public QIODevice
{
public:
    explicit OutputDevice(SafeFile::Output *output)
        : output(output)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        return output->write(data, size) ? size : -1;
    }

private:
    SafeFile::Output *output;
};

} // namespace

struct SafeFile::Output::State
{
    QString path;
    QString tempPath;
    int fd = -1;
    bool failed = false;
    bool faulty = false;
    std::unique_ptr<OutputDevice> device;
};

SafeFile::Output::Output(const QString &path)
    : state(new State)
{
    static std::atomic<unsigned> serial{0};
    state->path = path;
    state->faulty = writesFailFor(path);
    int error = 0;
    for (int attempt = 0; attempt < 16 && state->fd < 0; ++attempt) {
        // Unique and not guessable: a name planted in advance is never the one used.
        state->tempPath = QStringLiteral("%1.%2-%3-%4.part")
                              .arg(path)
                              .arg(QCoreApplication::applicationPid())
                              .arg(serial.fetch_add(1))
                              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        state->fd = ::open(encoded(state->tempPath).constData(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        error = errno;
        if (state->fd < 0 && error != EEXIST)
            break;
    }
    if (state->fd < 0) {
        state->failed = true;
        state->tempPath.clear();
        qDebug() << "Can not write file" << path << systemReason(error);
    }
    track(state->tempPath, true);
}

SafeFile::Output::~Output()
{
    if (state->fd >= 0)
        ::close(state->fd);
    if (!state->tempPath.isEmpty())
        ::unlink(encoded(state->tempPath).constData());
    track(state->tempPath, false);
}

bool SafeFile::Output::isOpen() const
{
    return state->fd >= 0;
}

bool SafeFile::Output::ok() const
{
    return state->fd >= 0 && !state->failed;
}

const QString &SafeFile::Output::path() const
{
    return state->path;
}

const QString &SafeFile::Output::temporaryPath() const
{
    return state->tempPath;
}

int SafeFile::Output::descriptor() const
{
    return state->faulty ? -1 : state->fd;
}

qint64 SafeFile::Output::seek(qint64 offset, int whence)
{
    if (!ok())
        return -1;
    const off_t at = ::lseek(state->fd, static_cast<off_t>(offset), whence);
    if (at < 0)
        fail(systemReason(errno));
    return at;
}

qint64 SafeFile::Output::readBack(void *data, qint64 size)
{
    if (!ok())
        return -1;
    ssize_t got = -1;
    do
        got = ::read(state->fd, data, static_cast<size_t>(size));
    while (got < 0 && errno == EINTR);
    return got;
}

bool SafeFile::Output::write(const void *data, qint64 size)
{
    if (!ok())
        return false;
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t done = -1;
        int error = ENOSPC;
        if (!state->faulty) {
            done = ::write(state->fd, bytes, static_cast<size_t>(size));
            error = errno;
        }
        if (done < 0 && error == EINTR)
            continue;
        if (done <= 0) {
            fail(systemReason(done < 0 ? error : ENOSPC));
            return false;
        }
        bytes += done;
        size -= done;
    }
    return true;
}

QIODevice *SafeFile::Output::device()
{
    if (!state->device)
        state->device = std::make_unique<OutputDevice>(this);
    return state->device.get();
}

void SafeFile::Output::fail(const QString &reason)
{
    if (!state->failed)
        qDebug() << "Can not write file" << state->path << reason;
    state->failed = true;
}

bool SafeFile::Output::commit(bool sync)
{
    if (!ok()) {
        if (!state->failed)
            fail(QStringLiteral("not open"));
        return false;
    }
    if (sync && ::fsync(state->fd) != 0)
        fail(systemReason(errno));
    // close() reports what a network file system could not write back.
    const int closed = ::close(state->fd);
    const int closeError = errno;
    state->fd = -1;
    if (closed != 0 && closeError != EINTR)
        fail(systemReason(closeError));
    if (state->failed)
        return false;
    // rename() replaces the old file in one step: a reader sees the old or the new.
    if (std::rename(encoded(state->tempPath).constData(), encoded(state->path).constData()) != 0) {
        fail(systemReason(errno));
        return false;
    }
    track(state->tempPath, false);
    state->tempPath.clear();
    return true;
}

int SafeFile::removeTemporaries()
{
    QMutexLocker lock(&temporariesMutex);
    int removed = 0;
    for (const QString &path : std::as_const(temporaries()))
        if (::unlink(encoded(path).constData()) == 0)
            ++removed;
    temporaries().clear();
    return removed;
}

bool SafeFile::write(const QString &path, const Writer &writer, bool sync)
{
    Output file(path);
    if (!file.ok())
        return false;
    if (!writer(file.device()))
        file.fail(QStringLiteral("the writer stopped"));
    return file.commit(sync);
}

bool SafeFile::writeBytes(const QString &path, const QByteArray &bytes, bool sync)
{
    Output file(path);
    return file.write(bytes.constData(), bytes.size()) && file.commit(sync);
}

void SafeFile::setFailingWrites(const QString &nameFragment)
{
    QMutexLocker lock(&faultMutex);
    failingFragment = nameFragment;
}

SafeFile::ReadResult SafeFile::readAll(const QString &path, qint64 maxBytes, QByteArray *bytes)
{
    bytes->clear();
    if (path.isEmpty())
        return CanNotOpen;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return CanNotOpen;
    struct stat info;
    ReadResult result = Read;
    if (::fstat(fd, &info) != 0)
        result = CanNotOpen;
    else if (!S_ISREG(info.st_mode))
        result = NotRegular;
    else if (info.st_size > maxBytes)
        result = TooLarge;
    // The file may grow while it is read: never take more than the bound.
    char piece[65536];
    while (result == Read) {
        const ssize_t got = ::read(fd, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = ReadFailed;
        else if (got == 0)
            break;
        else if (bytes->size() + got > maxBytes)
            result = TooLarge;
        else
            bytes->append(piece, got);
    }
    ::close(fd);
    if (result != Read)
        bytes->clear();
    return result;
}

QString SafeFile::refusal(ReadResult result)
{
    switch (result) {
    case NotRegular:
        return QStringLiteral("Not a regular file :");
    case TooLarge:
        return QStringLiteral("File larger than its size bound :");
    case ReadFailed:
        return QStringLiteral("Read error :");
    case Read:
    case CanNotOpen:
        break;
    }
    return QString();
}

bool SafeFile::isAbsentOrRegular(const QString &path)
{
    struct stat info;
    // Only something that is there can be harmed; when nothing is (or its folder is
    // missing) the write itself says why it fails.
    if (::stat(encoded(path).constData(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode);
}
