#include "engine/stack/runningstack.h"

#include <algorithm>
#include <new>

namespace {

constexpr QRgb Black = 0xff000000u;

std::size_t pixelsOf(QSize area)
{
    return std::size_t(area.width()) * std::size_t(area.height());
}

} // namespace

std::uint64_t RunningStack::bytesNeeded(QSize area, StackMode mode)
{
    return (mode == StackMode::Mean ? 16u : 4u) * std::uint64_t(pixelsOf(area));
}

RunningStack::RunningStack(QSize area, StackMode mode) : m_area(area), m_mode(mode)
{
    if (mode == StackMode::Mean) {
        m_sums = freshArray<std::uint32_t>(4 * pixelsOf(area));
        return;
    }
    m_extreme = QImage(area, QImage::Format_RGB32);
    // Where no frame has been, the minimum starts above every value and the maximum at black.
    m_extreme.fill(mode == StackMode::Minimum ? 0xffffffffu : Black);
}

bool RunningStack::valid() const
{
    return m_mode == StackMode::Mean ? m_sums != nullptr || m_area.isEmpty() : !m_extreme.isNull() || m_area.isEmpty();
}

void RunningStack::add(const QImage &frame, const Coverage *coverage)
{
    ++m_frames;
    if (m_mode == StackMode::Mean)
        addToSums(frame, coverage);
    else
        addToExtreme(frame, coverage);
}

namespace {

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

} // namespace

void RunningStack::addToSums(const QImage &frame, const Coverage *coverage)
{
    // Black adds nothing, so only the frame's part is walked.
    const QSize part = m_area.boundedTo(frame.size());
    for (int y = 0; y < part.height(); ++y) {
        const RowSpan span = spanOf(coverage, part, y);
        const std::uint8_t *row = frame.constScanLine(y);
        std::uint32_t *sums = m_sums.get() + 4 * std::size_t(y) * std::size_t(m_area.width());
        for (int i = 4 * span.begin; i < 4 * span.end; ++i)
            sums[i] += row[i];
    }
}

void RunningStack::addToExtreme(const QImage &frame, const Coverage *coverage)
{
    const QSize part = m_area.boundedTo(frame.size());
    const bool minimum = m_mode == StackMode::Minimum;
    for (int y = 0; y < m_area.height(); ++y) {
        auto *extreme = reinterpret_cast<QRgb *>(m_extreme.scanLine(y));
        if (y < part.height()) {
            const RowSpan span = spanOf(coverage, part, y);
            // Byte-wise, so the compiler makes it pminub / pmaxub; the alpha bytes stay 0xff.
            const std::uint8_t *row = frame.constScanLine(y);
            auto *bytes = reinterpret_cast<std::uint8_t *>(extreme);
            if (minimum)
                for (int i = 4 * span.begin; i < 4 * span.end; ++i)
                    bytes[i] = std::min(bytes[i], row[i]);
            else
                for (int i = 4 * span.begin; i < 4 * span.end; ++i)
                    bytes[i] = std::max(bytes[i], row[i]);
        }
        // Beyond an unwarped frame it is black: the minimum falls to it, the maximum keeps its value.
        if (minimum && !coverage)
            std::fill(extreme + (y < part.height() ? part.width() : 0), extreme + m_area.width(), Black);
    }
}

// floor((2 S + k) / (2 k)) through a product in double, which falls short by one only where the
// quotient is a whole number (the reciprocal rounded down); one integer test mends that.
void RunningStack::paintMeanRow(const std::uint32_t *sums, QRgb *target, int begin, int end, std::uint32_t k) const
{
    const double reciprocal = 1.0 / (2.0 * double(k));
    for (int x = begin; x < end; ++x) {
        const std::uint32_t *s = sums + 4 * std::size_t(x);
        const auto mean = [&](int channel) {
            const std::uint64_t dividend = 2 * std::uint64_t(s[channel]) + k;
            auto q = std::uint64_t(double(dividend) * reciprocal);
            return int((q + 1) * 2 * k <= dividend ? q + 1 : q);
        };
        // Little-endian words: blue, green, red, alpha.
        target[x] = qRgb(mean(2), mean(1), mean(0));
    }
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
    for (int y = 0; y < painted.height(); ++y) {
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        const std::uint32_t *sums = m_sums.get() + 4 * std::size_t(y) * std::size_t(m_area.width());
        const QRgb *extreme = m_extreme.isNull() ? nullptr : reinterpret_cast<const QRgb *>(m_extreme.constScanLine(y));
        const auto paintRun = [&](int begin, int end, std::uint32_t k) {
            if (k == 0)
                return; // no sample: the pixel stays
            if (m_mode == StackMode::Mean)
                paintMeanRow(sums, target, begin, end, k);
            else
                std::copy(extreme + begin, extreme + end, target + begin);
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
