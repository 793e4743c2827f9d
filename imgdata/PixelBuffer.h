#pragma once

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
    void reset();
    unsigned char *data() const { return bytes; }
    size_t size() const { return length; }
    explicit operator bool() const { return bytes != nullptr; }

private:
    unsigned char *bytes = nullptr;
    size_t length = 0;
    bool mapped = false;
};
