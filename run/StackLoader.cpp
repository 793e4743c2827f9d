#include "StackLoader.h"

#include "imgdata/ImgDatas.h"
#include "imgdata/MemoryBudget.h"

#include <QDebug>

namespace StackLoader {

Result addFiles(ImgDatas &stack, const QStringList &files)
{
    Result result;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const qint64 refusedBefore = MemoryBudget::refusals();
        if (stack.addFile(files.at(i))) {
            result.loaded << files.at(i);
        } else if (MemoryBudget::refusals() != refusedBefore) {
            // Frames of one stack are all of one size: once one does not fit, none
            // of the rest does ("Multi." repeats the same file thousands of times).
            qDebug() << "Loading stopped: the stack would exceed the memory budget"
                     << QStringLiteral("%1 of %2 files loaded, budget %3 MB")
                            .arg(stack.count())
                            .arg(files.size())
                            .arg(MemoryBudget::limit() >> 20);
            result.skipped += files.size() - i;
            break;
        } else {
            // A scan with an unreadable frame is still reconstructed from the others.
            qDebug() << "Projection file skipped :" << files.at(i);
            ++result.skipped;
        }
    }
    if (stack.adviseAccess(MemoryBudget::physicalMemory()))
        qDebug() << "Stack larger than memory: mapped frames are read page by page"
                 << QStringLiteral("%1 MB mapped, %2 MB of memory")
                        .arg(stack.mappedBytes() >> 20)
                        .arg(MemoryBudget::physicalMemory() >> 20);
    return result;
}

} // namespace StackLoader
