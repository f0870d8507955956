#include "engine/stack/runningstack.h"

#include <algorithm>
#include <new>

namespace {

std::size_t pixelsOf(QSize area)
{
    return std::size_t(area.width()) * std::size_t(area.height());
}

// A pixel's word and an opaque black one: RGB32 at 8 bits, RGBX64 (alpha in the top 16 bits) at 16.
template <typename Sample>
using Word = std::conditional_t<sizeof(Sample) == 1, std::uint32_t, std::uint64_t>;
template <typename Sample>
constexpr Word<Sample> Black = sizeof(Sample) == 1 ? Word<Sample>(0xff000000u) : Word<Sample>(0xffff000000000000u);

// The part of row y that a frame of `part`'s size gives: all of it, or what its coverage says.
RowSpan spanOf(const Coverage *coverage, QSize part, int y)
{
    if (!coverage)
        return {0, part.width()};
    if (std::size_t(y) >= coverage->size())
        return {};
    const RowSpan span = (*coverage)[std::size_t(y)];
    return {std::max(span.begin, 0), std::min(span.end, part.width())};
}

// Black adds nothing, so only the frame's part is walked.
template <typename Sample>
void addToSums(std::uint32_t *allSums, QSize area, const QImage &frame, const Coverage *coverage)
{
    const QSize part = area.boundedTo(frame.size());
    for (int y = 0; y < part.height(); ++y) {
        const RowSpan span = spanOf(coverage, part, y);
        const auto *row = reinterpret_cast<const Sample *>(frame.constScanLine(y));
        std::uint32_t *sums = allSums + 4 * std::size_t(y) * std::size_t(area.width());
        for (int i = 4 * span.begin; i < 4 * span.end; ++i)
            sums[i] += row[i];
    }
}

template <typename Sample>
void addToExtreme(QImage &extremes, bool minimum, const QImage &frame, const Coverage *coverage)
{
    const QSize area = extremes.size();
    const QSize part = area.boundedTo(frame.size());
    for (int y = 0; y < area.height(); ++y) {
        auto *extreme = reinterpret_cast<Sample *>(extremes.scanLine(y));
        if (y < part.height()) {
            const RowSpan span = spanOf(coverage, part, y);
            // Sample-wise, so the compiler makes it pminub / pmaxub (pminuw at 16 bits); alpha stays full.
            const auto *row = reinterpret_cast<const Sample *>(frame.constScanLine(y));
            if (minimum)
                for (int i = 4 * span.begin; i < 4 * span.end; ++i)
                    extreme[i] = std::min(extreme[i], row[i]);
            else
                for (int i = 4 * span.begin; i < 4 * span.end; ++i)
                    extreme[i] = std::max(extreme[i], row[i]);
        }
        // Beyond an unwarped frame it is black: the minimum falls to it, the maximum keeps its value.
        if (minimum && !coverage) {
            auto *words = reinterpret_cast<Word<Sample> *>(extreme);
            std::fill(words + (y < part.height() ? part.width() : 0), words + area.width(), Black<Sample>);
        }
    }
}

// floor((2 S + k) / (2 k)) through a product in double, which falls short by one only where the
// quotient is a whole number (the reciprocal rounded down); one integer test mends that.
template <typename Sample>
void paintMeanRow(const std::uint32_t *sums, std::uint8_t *row, int begin, int end, std::uint32_t k)
{
    const double reciprocal = 1.0 / (2.0 * double(k));
    auto *target = reinterpret_cast<Sample *>(row);
    for (int x = begin; x < end; ++x) {
        const std::uint32_t *s = sums + 4 * std::size_t(x);
        for (std::size_t channel = 0; channel < 3; ++channel) {
            const std::uint64_t dividend = 2 * std::uint64_t(s[channel]) + k;
            const auto q = std::uint64_t(double(dividend) * reciprocal);
            target[4 * std::size_t(x) + channel] = Sample((q + 1) * 2 * k <= dividend ? q + 1 : q);
        }
        target[4 * std::size_t(x) + 3] = Sample(~Sample(0));
    }
}

} // namespace

std::uint64_t RunningStack::bytesNeeded(QSize area, StackMode mode, SampleDepth depth)
{
    const std::uint64_t extremeBytes = 4u * std::uint64_t(bytesPerSample(depth));
    return (mode == StackMode::Mean ? 16u : extremeBytes) * std::uint64_t(pixelsOf(area));
}

RunningStack::RunningStack(QSize area, StackMode mode, SampleDepth depth) : m_area(area), m_mode(mode), m_depth(depth)
{
    if (mode == StackMode::Mean) {
        m_sums = freshArray<std::uint32_t>(4 * pixelsOf(area));
        return;
    }
    m_extreme = QImage(area, depth == SampleDepth::Sixteen ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    // Where no frame has been, the minimum starts above every value and the maximum at black.
    m_extreme.fill(mode == StackMode::Minimum ? Qt::white : Qt::black);
}

bool RunningStack::valid() const
{
    return m_mode == StackMode::Mean ? m_sums != nullptr || m_area.isEmpty() : !m_extreme.isNull() || m_area.isEmpty();
}

void RunningStack::add(const QImage &frame, const Coverage *coverage)
{
    ++m_frames;
    const bool deep = m_depth == SampleDepth::Sixteen;
    if (m_mode == StackMode::Mean)
        (deep ? addToSums<std::uint16_t> : addToSums<std::uint8_t>)(m_sums.get(), m_area, frame, coverage);
    else
        (deep ? addToExtreme<std::uint16_t> : addToExtreme<std::uint8_t>)(m_extreme, m_mode == StackMode::Minimum,
                                                                         frame, coverage);
}

bool RunningStack::paint(QImage &surface, const FrameCoverage *coverage) const
{
    const QSize painted = m_area.boundedTo(surface.size());
    if (painted.isEmpty() || m_frames == 0)
        return true;
    RunScratch runs;
    try {
        if (coverage)
            coverage->reserve(runs);
    } catch (const std::bad_alloc &) {
        return false;
    }
    std::uint8_t *bits = surface.bits();
    if (!bits)
        return false;
    const qsizetype bytesPerLine = surface.bytesPerLine();
    const auto pixelBytes = std::size_t(4 * bytesPerSample(m_depth));
    const auto paintMean = m_depth == SampleDepth::Sixteen ? paintMeanRow<std::uint16_t> : paintMeanRow<std::uint8_t>;
    for (int y = 0; y < painted.height(); ++y) {
        std::uint8_t *target = bits + y * bytesPerLine;
        const std::uint32_t *sums = m_sums.get() + 4 * std::size_t(y) * std::size_t(m_area.width());
        const std::uint8_t *extreme = m_extreme.isNull() ? nullptr : m_extreme.constScanLine(y);
        const auto paintRun = [&](int begin, int end, std::uint32_t k) {
            if (k == 0)
                return; // no sample: the pixel stays
            if (m_mode == StackMode::Mean)
                paintMean(sums, target, begin, end, k);
            else
                std::copy(extreme + std::size_t(begin) * pixelBytes, extreme + std::size_t(end) * pixelBytes,
                          target + std::size_t(begin) * pixelBytes);
        };
        if (!coverage)
            paintRun(0, painted.width(), m_frames);
        else
            coverage->forEachRun(y, painted.width(), runs, [&](int begin, int end, const std::vector<int> &covering) {
                paintRun(begin, end, std::uint32_t(covering.size()));
            });
    }
    return true;
}
