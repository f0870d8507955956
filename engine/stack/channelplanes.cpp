#include "engine/stack/channelplanes.h"

#include "engine/core/framebuffers.h"
#include "engine/stack/planerows.h"

#include <sys/mman.h>

#include <algorithm>

std::uint64_t ChannelPlanes::bytesNeeded(QSize area, int imageCount, SampleDepth depth)
{
    return 3u * std::uint64_t(bytesPerSample(depth)) * std::uint64_t(imageCount) * std::uint64_t(area.width())
         * std::uint64_t(area.height());
}

ChannelPlanes::ChannelPlanes(QSize area, int imageCount, SampleDepth depth)
    : m_area(area), m_count(imageCount), m_sampleBytes(std::size_t(bytesPerSample(depth))),
      m_imageStride(std::size_t(area.width()) * std::size_t(area.height())),
      m_red(freshArray<std::uint8_t>(bytesNeeded(area, imageCount, depth) / 3)),
      m_green(freshArray<std::uint8_t>(bytesNeeded(area, imageCount, depth) / 3)),
      m_blue(freshArray<std::uint8_t>(bytesNeeded(area, imageCount, depth) / 3))
{
}

void ChannelPlanes::prefault([[maybe_unused]] int index) const
{
#if defined(MADV_POPULATE_WRITE)
    // Page-aligned bounds around the block; neighbouring blocks' pages are only mapped, not written.
    const auto page = std::uintptr_t(4096);
    for (std::uint8_t *plane : {m_red.get(), m_green.get(), m_blue.get()}) {
        const std::size_t block = m_imageStride * m_sampleBytes;
        const auto begin = reinterpret_cast<std::uintptr_t>(plane + std::size_t(index) * block) & ~(page - 1);
        const auto end = reinterpret_cast<std::uintptr_t>(plane + std::size_t(index + 1) * block);
        if (end > begin)
            madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#endif
}

void ChannelPlanes::copyImage(int index, const QImage &picture)
{
    const QSize copied = m_area.boundedTo(picture.size());
    const std::size_t block = std::size_t(index) * m_imageStride;
    for (int y = 0; y < copied.height(); ++y) {
        const std::size_t row = (block + std::size_t(y) * std::size_t(m_area.width())) * m_sampleBytes;
        splitRow(picture, y, m_red.get() + row, m_green.get() + row, m_blue.get() + row, copied.width());
    }
}

bool ChannelPlanes::paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage) const
{
    const QSize painted = m_area.boundedTo(surface.size());
    if (painted.isEmpty())
        return true;
    // Detach here, on the calling thread, before workers get row pointers.
    std::uint8_t *bits = surface.bits();
    return bits && paintStackRows(options, {m_red.get(), m_green.get(), m_blue.get(), m_imageStride, m_count, m_area.width(), coverage, 0}, bits,
                    surface.bytesPerLine(), painted.width(), painted.height());
}
