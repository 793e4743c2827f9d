#pragma once

#include <QStringList>

class ImgDatas;

// Adds projection files to a stack within the memory budget. An unreadable file
// is skipped and the rest still loaded; once a frame does not fit the budget the
// rest is skipped too and the stack is marked cut short, so that no run takes the
// part for the scan. Each case is logged with the file or the budget concerned.
namespace StackLoader {

struct Result
{
    // The files the stack took, in load order.
    QStringList loaded;
    qsizetype skipped = 0;
    // The memory budget stopped the load.
    bool cutShort = false;
};

Result addFiles(ImgDatas &stack, const QStringList &files);

} // namespace StackLoader
