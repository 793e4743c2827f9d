#pragma once

#include <QtGlobal>

#include <cstddef>

// The bytes of one image's pixels. Large buffers are mapped with all their pages
// made at once: a stack of hundreds of frames would otherwise take a page fault
// for every 4 KiB as the file is read into it, which costs more than the read.
// Every buffer is charged to the process's memory budget while it lives.
class PixelBuffer
{
public:
    enum Result { Allocated, OverBudget, NoMemory };

    PixelBuffer() = default;
    PixelBuffer(const PixelBuffer &) = delete;
    PixelBuffer &operator=(const PixelBuffer &) = delete;
    ~PixelBuffer() { reset(); }

    // Replaces the buffer with `size` bytes; on OverBudget or NoMemory it is left
    // empty. Without `populate` pages are made as they are first written, so a
    // decoder that fails early has touched only what it wrote.
    Result allocate(size_t size, bool populate = true);
    // Maps `size` bytes at `offset` of an open file read-only instead of copying
    // them: the pages come from the page cache and the kernel may drop them again,
    // so they are not charged to the budget. The caller has checked that the file
    // holds them. False (and empty) where mapping is not available or fails.
    bool mapFile(int fd, qint64 offset, size_t size);
    bool isFileMapped() const { return fileMapped; }
    // For a mapping from a file: whether a page fault reads only the page asked
    // for (true) or, as by default, the kernel's read-ahead window around it.
    // False when the buffer is not mapped from a file or the advice is refused.
    bool adviseRandomAccess(bool random) const;
    // Under that advice, starts reading the pages of `size` bytes at `offset` of
    // the buffer without waiting for them, so that the faults of many buffers'
    // pages are served together; nothing otherwise (the default read-ahead window
    // brings more than these bytes anyway).
    void prefetch(size_t offset, size_t size) const;
    void reset();
    unsigned char *data() const { return bytes; }
    size_t size() const { return length; }
    explicit operator bool() const { return bytes != nullptr; }

private:
    unsigned char *bytes = nullptr;
    size_t length = 0;
    bool mapped = false;
    bool fileMapped = false;
    mutable bool randomAccess = false;
    // The mapping as made: page-aligned, from the start of the file.
    void *mapBase = nullptr;
    size_t mapLength = 0;
};
