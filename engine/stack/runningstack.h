#pragma once

#include "engine/align/coverage.h"
#include "engine/core/framebuffers.h"
#include "engine/stack/stackmode.h"

#include <QImage>
#include <QSize>

#include <cstdint>

// A mean, minimum or maximum stack folded frame by frame into running values per pixel, so that
// any number of frames (up to 65535 for the mean, whose sums are 32 bits at either depth) needs
// the memory of the area alone. Frames are RGB32 at 8 bits, RGBX64 at 16.
class RunningStack {
public:
    // valid() false when the memory cannot be had.
    RunningStack(QSize area, StackMode mode, SampleDepth depth);
    static std::uint64_t bytesNeeded(QSize area, StackMode mode, SampleDepth depth);
    bool valid() const;

    // Folds in the frame's part inside the area; beyond a smaller frame's edges it counts black.
    // A frame warped into the area's grid gives its coverage instead, and only what it covers.
    void add(const QImage &frame, const Coverage *coverage = nullptr);

    // Paints the result of the frames added over the part of the area that the surface covers.
    // With the frames' coverage, a pixel's samples are those of the frames that cover it; one
    // that none covers keeps its value. False, with the surface as it was, when it cannot be
    // detached for want of memory.
    bool paint(QImage &surface, const FrameCoverage *coverage = nullptr) const;

private:
    QSize m_area;
    StackMode m_mode;
    SampleDepth m_depth;
    std::uint32_t m_frames = 0;
    // Mean: one sum per sample of each pixel, alpha's included so that rows add as they lie.
    FreshPages<std::uint32_t> m_sums;
    // Minimum or maximum: the running extreme as a picture of the frames' format.
    QImage m_extreme;
};
