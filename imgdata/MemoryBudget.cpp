#include "MemoryBudget.h"

#include <QDebug>

#include <atomic>

#if defined(__unix__)
#include <unistd.h>
#endif

namespace {

std::atomic<qint64> limitBytes{0};
std::atomic<qint64> usedBytes{0};
std::atomic<qint64> refused{0};

} // namespace

qint64 MemoryBudget::physicalMemory()
{
#if defined(__unix__) && defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        return static_cast<qint64>(pages) * pageSize;
#endif
    return 0;
}

qint64 MemoryBudget::defaultLimit()
{
    const qint64 memory = physicalMemory();
    // Whole pages, as before: half the page count times the page size.
#if defined(__unix__) && defined(_SC_PAGESIZE)
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (memory > 0 && pageSize > 0)
        return memory / pageSize / 2 * pageSize;
#endif
    return memory > 0 ? memory / 2 : qint64(1) << 30;
}

qint64 MemoryBudget::limit()
{
    const qint64 set = limitBytes.load();
    return set > 0 ? set : defaultLimit();
}

void MemoryBudget::setLimit(qint64 bytes)
{
    limitBytes.store(bytes > 0 ? bytes : 0);
}

bool MemoryBudget::setLimitMB(const QString &text)
{
    bool ok = false;
    const qint64 mb = text.trimmed().toLongLong(&ok);
    // 2^43 MB is far beyond any machine and keeps the byte count inside 64 bits.
    if (!ok || mb < 1 || mb > (qint64(1) << 43)) {
        qDebug() << "MemoryLimitMB is not a positive number of megabytes :" << text;
        return false;
    }
    setLimit(mb * 1024 * 1024);
    return true;
}

qint64 MemoryBudget::used()
{
    return usedBytes.load();
}

bool MemoryBudget::reserve(qint64 bytes)
{
    if (bytes < 0)
        return false;
    const qint64 cap = limit();
    qint64 now = usedBytes.load();
    do {
        if (bytes > cap - now) {
            refused.fetch_add(1);
            return false;
        }
    } while (!usedBytes.compare_exchange_weak(now, now + bytes));
    return true;
}

void MemoryBudget::release(qint64 bytes)
{
    if (bytes > 0)
        usedBytes.fetch_sub(bytes);
}

qint64 MemoryBudget::refusals()
{
    return refused.load();
}
