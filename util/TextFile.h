#pragma once

#include <QString>
#include <QStringList>

// Scripts and configurations are small text files. Reading one refuses what is
// not a regular file (a device such as /dev/zero, a pipe, a directory) and what is
// larger than any script a person writes, before a byte of it is held in memory.
namespace TextFile {

constexpr qint64 maxBytes = 16 * 1024 * 1024;

enum Result { Read, CanNotOpen, NotRegular, TooLarge };

// The lines of a UTF-8 text file without their line ends; "\r\n", "\n" and a
// lone "\r" each end a line. A last line without a line end is a line.
Result readLines(const QString &fileName, QStringList *lines);

// The debug text for a refused file ("" for Read and CanNotOpen, whose message
// belongs to the caller).
QString refusal(Result result);

} // namespace TextFile
