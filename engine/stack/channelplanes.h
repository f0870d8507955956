#pragma once

#include "engine/align/coverage.h"
#include "engine/stack/stackmode.h"

#include "engine/core/framebuffers.h"

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <memory>

// One sample per channel for every image of a stack, of one or two bytes as the depth says: each
// image a contiguous block of width x height samples, so one row of one channel across all images
// is `imageStride` samples apart.
class ChannelPlanes {
public:
    // Zeroed; empty (valid() false) when the memory cannot be had.
    ChannelPlanes(QSize area, int imageCount, SampleDepth depth);

    bool valid() const { return m_red && m_green && m_blue; }
    static std::uint64_t bytesNeeded(QSize area, int imageCount, SampleDepth depth);

    // Maps in image `index`'s pages of all three planes without writing them, so the kernel's
    // zeroing of fresh memory can run on another thread than the copy; safe beside copyImage.
    void prefault(int index) const;

    // Copies the picture's part inside the area as image `index`; beyond the picture the
    // cells stay 0. The picture is RGB32 at 8 bits, RGBX64 at 16.
    void copyImage(int index, const QImage &picture);

    // Writes the stacked values over the part of the area that the surface covers; false, with
    // the surface as it was, when the memory to work in cannot be had.
    bool paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage = nullptr) const;

private:
    using Plane = FreshPages<std::uint8_t>;

    QSize m_area;
    int m_count;
    std::size_t m_sampleBytes;
    std::size_t m_imageStride;
    Plane m_red;
    Plane m_green;
    Plane m_blue;
};
