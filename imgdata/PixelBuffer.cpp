#include "PixelBuffer.h"

#include "MemoryBudget.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
// Below this, the heap serves the buffer from memory it has already touched.
constexpr size_t mapFrom = 64 * 1024;
} // namespace

PixelBuffer::Result PixelBuffer::allocate(size_t size, bool populate)
{
    reset();
    if (size == 0 || size > static_cast<size_t>(INT64_MAX))
        return NoMemory;
    if (!MemoryBudget::reserve(static_cast<qint64>(size)))
        return OverBudget;
// Under AddressSanitizer every buffer comes from the heap, where reads beyond
// its end are caught.
#if defined(__linux__) && defined(MAP_POPULATE) && !defined(__SANITIZE_ADDRESS__)
    if (size >= mapFrom) {
        const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (p != MAP_FAILED) {
            bytes = static_cast<unsigned char *>(p);
            length = size;
            mapped = true;
            return Allocated;
        }
    }
#else
    (void)populate;
#endif
    bytes = new (std::nothrow) unsigned char[size]();
    if (!bytes) {
        MemoryBudget::release(static_cast<qint64>(size));
        return NoMemory;
    }
    length = size;
    return Allocated;
}

bool PixelBuffer::mapFile(int fd, qint64 offset, size_t size)
{
    reset();
#if defined(__linux__)
    if (fd < 0 || offset < 0 || size == 0)
        return false;
    // Mapped from the start of the file so that the offset needs no alignment.
    const size_t length = static_cast<size_t>(offset) + size;
    void *p = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED)
        return false;
    mapBase = p;
    mapLength = length;
    bytes = static_cast<unsigned char *>(p) + offset;
    this->length = size;
    fileMapped = true;
    return true;
#else
    (void)fd;
    (void)offset;
    (void)size;
    return false;
#endif
}

bool PixelBuffer::adviseRandomAccess(bool random) const
{
#if defined(__linux__) && defined(MADV_RANDOM)
    if (!fileMapped)
        return false;
    const bool done = madvise(mapBase, mapLength, random ? MADV_RANDOM : MADV_NORMAL) == 0;
    if (done)
        randomAccess = random;
    return done;
#else
    (void)random;
    return false;
#endif
}

void PixelBuffer::prefetch(size_t offset, size_t size) const
{
#if defined(__linux__) && defined(MADV_WILLNEED)
    if (!fileMapped || !randomAccess || offset >= length || size == 0)
        return;
    size = std::min(size, length - offset);
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t start =
        static_cast<size_t>(bytes - static_cast<unsigned char *>(mapBase)) + offset;
    const size_t first = start / page * page;
    madvise(static_cast<unsigned char *>(mapBase) + first, start + size - first, MADV_WILLNEED);
#else
    (void)offset;
    (void)size;
#endif
}

void PixelBuffer::reset()
{
#if defined(__linux__)
    if (fileMapped) {
        munmap(mapBase, mapLength);
        bytes = nullptr;
        mapBase = nullptr;
        mapLength = 0;
        length = 0;
        fileMapped = false;
        randomAccess = false;
        return;
    }
    if (mapped)
        munmap(bytes, length);
    else
#endif
        delete[] bytes;
    MemoryBudget::release(static_cast<qint64>(length));
    bytes = nullptr;
    length = 0;
    mapped = false;
}
