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
            const QString stopped =
                QStringLiteral("the stack would exceed the memory budget after %1 of %2 frames")
                    .arg(result.loaded.size())
                    .arg(files.size());
            qDebug().noquote() << QStringLiteral("Loading stopped: %1 (budget %2 MB)")
                                      .arg(stopped)
                                      .arg(MemoryBudget::limit() >> 20);
            stack.setCutShort(QStringLiteral("loading stopped: ") + stopped);
            result.skipped += files.size() - i;
            result.cutShort = true;
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
