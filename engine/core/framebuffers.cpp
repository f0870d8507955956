#include "engine/core/framebuffers.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstddef>
#include <deque>
#include <mutex>

namespace {

struct Buffer {
    void *memory;
    std::size_t bytes;
};

struct KeptBuffers {
    std::mutex mutex;
    std::deque<Buffer> free;
    std::size_t limit = 0;
};

// Never destroyed: a picture may outlive everything else at exit and still return its buffer.
KeptBuffers &kept()
{
    static auto *buffers = new KeptBuffers;
    return *buffers;
}

void giveBack(void *info)
{
    auto *buffer = static_cast<Buffer *>(info);
    {
        KeptBuffers &buffers = kept();
        const std::lock_guard lock(buffers.mutex);
        if (buffers.free.size() < buffers.limit) {
            buffers.free.push_back(*buffer);
            delete buffer;
            return;
        }
    }
    munmap(buffer->memory, buffer->bytes);
    delete buffer;
}

void *takeKept(std::size_t bytes)
{
    KeptBuffers &buffers = kept();
    const std::lock_guard lock(buffers.mutex);
    for (auto it = buffers.free.begin(); it != buffers.free.end(); ++it) {
        if (it->bytes == bytes) {
            void *memory = it->memory;
            buffers.free.erase(it);
            return memory;
        }
    }
    return nullptr;
}

} // namespace

void *freshPages(std::size_t bytes)
{
    void *memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return memory;
}

void Unmap::operator()(void *memory) const
{
    munmap(memory, bytes);
}

QImage recycledImage(QSize size, QImage::Format format)
{
    if (size.isEmpty())
        return {};
    const qsizetype bytesPerLine = qsizetype(size.width()) * (format == QImage::Format_RGBX64 ? 8 : 4);
    const auto bytes = std::size_t(bytesPerLine) * std::size_t(size.height());
    void *memory = takeKept(bytes);
    if (!memory)
        memory = freshPages(bytes);
    if (!memory)
        return {};
    return QImage(static_cast<uchar *>(memory), size.width(), size.height(), bytesPerLine, format,
                  giveBack, new Buffer{memory, bytes});
}

void keepFrameBuffers(int count)
{
    std::deque<Buffer> dropped;
    {
        KeptBuffers &buffers = kept();
        const std::lock_guard lock(buffers.mutex);
        buffers.limit = std::size_t(count);
        while (buffers.free.size() > buffers.limit) {
            dropped.push_back(buffers.free.front());
            buffers.free.pop_front();
        }
    }
    for (const Buffer &buffer : dropped)
        munmap(buffer.memory, buffer.bytes);
}

void keepScratchMemory()
{
    // Below a frame's size, so frames still come and go as mappings of their own; the free
    // space a heap keeps at its top is let go past two of those.
    constexpr int ScratchLimit = 32 << 20;
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, ScratchLimit);
        mallopt(M_TRIM_THRESHOLD, 2 * ScratchLimit);
    });
}
