#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

// The one way this program writes and reads its own files.
//
// Writing: a full disk, a quota or a planted link must never leave a shorter file
// (or someone else's file) under a result's or a record's name. Every file is
// written to a temporary file of a unique name, created exclusively (no link is
// followed) in the target's own folder so the final rename stays on one file
// system; every write and the final flush and close are checked; only a complete
// file is renamed over the old one. On any failure the temporary file is removed,
// the old file stays as it was, and the failure is logged with the file name and
// the system's reason.
//
// Reading: a FIFO would block the reader forever and a link to /dev/zero would be
// read until memory runs out, so a file is opened without blocking, refused when it
// is not a regular file and refused above a size bound given by the caller.
namespace SafeFile {

// A file being written. Nothing appears under `path` until commit() succeeds.
class Output
{
public:
    explicit Output(const QString &path);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    bool isOpen() const;
    // False once any write has failed; the failure is already logged.
    bool ok() const;
    const QString &path() const;
    // The temporary file's name, for a library that writes the file itself through
    // its own handle (HDF5); empty once committed or when it could not be made.
    const QString &temporaryPath() const;
    // The descriptor of the temporary file, for a writer that must set flags on it
    // (direct I/O); -1 while the fault switch makes this file's writes fail, so that
    // such a writer falls back to write().
    int descriptor() const;
    // Moves the write position as lseek does (libtiff seeks back to patch offsets);
    // -1 on failure.
    qint64 seek(qint64 offset, int whence);
    // Reads back what was written (libtiff links a new page to the last one); the
    // count read or -1.
    qint64 readBack(void *data, qint64 size);
    // Writes all `size` bytes at the current position; false (logged) otherwise.
    bool write(const void *data, qint64 size);
    // A device over write(), for writers that take a QIODevice or a QTextStream.
    QIODevice *device();
    // Records a failure found by the caller (a refused encoding, a stream error).
    void fail(const QString &reason);
    // Closes (checked) and renames over `path`. `sync` waits for the disk first:
    // worth it for a small record that must survive a crash, not for every slice.
    bool commit(bool sync = false);

private:
    struct State;
    std::unique_ptr<State> state;
};

// Removes the temporary files of every Output not yet committed or destroyed, for
// a process that ends without waiting for its writers; the number removed.
int removeTemporaries();

using Writer = std::function<bool(QIODevice *device)>;
// `writer` fills the device; false from it, or any failed write, leaves `path` as it was.
bool write(const QString &path, const Writer &writer, bool sync = false);
bool writeBytes(const QString &path, const QByteArray &bytes, bool sync = false);

// Fault switch for tests: every write to a file whose name contains `nameFragment`
// fails as on a full disk (ENOSPC); an empty fragment turns it off. The environment
// variable ORVO2_FAIL_WRITES sets it at start-up, so that a whole program can be
// tested on a "full disk" without one.
void setFailingWrites(const QString &nameFragment);

enum ReadResult { Read, CanNotOpen, NotRegular, TooLarge, ReadFailed };
// The whole file into `bytes` (cleared first) when it is a regular file of at most
// `maxBytes` bytes.
ReadResult readAll(const QString &path, qint64 maxBytes, QByteArray *bytes);
// The log text of a refusal: "Not a regular file :" and the like.
QString refusal(ReadResult result);
// True when `path` names nothing, or a regular file; false for a FIFO, a device, a
// folder or a socket, which a writer must neither read nor replace.
bool isAbsentOrRegular(const QString &path);

} // namespace SafeFile
