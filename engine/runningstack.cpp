#include "engine/runningstack.h"

#include <algorithm>
#include <cstring>

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

void RunningStack::add(const QImage &frame)
{
    ++m_frames;
    if (m_mode == StackMode::Mean)
        addToSums(frame);
    else
        addToExtreme(frame);
}

void RunningStack::addToSums(const QImage &frame)
{
    // Black adds nothing, so only the frame's part is walked.
    const QSize part = m_area.boundedTo(frame.size());
    const auto bytes = 4 * std::size_t(part.width());
    for (int y = 0; y < part.height(); ++y) {
        const std::uint8_t *row = frame.constScanLine(y);
        std::uint32_t *sums = m_sums.get() + 4 * std::size_t(y) * std::size_t(m_area.width());
        for (std::size_t i = 0; i < bytes; ++i)
            sums[i] += row[i];
    }
}

void RunningStack::addToExtreme(const QImage &frame)
{
    const QSize part = m_area.boundedTo(frame.size());
    const bool minimum = m_mode == StackMode::Minimum;
    for (int y = 0; y < m_area.height(); ++y) {
        auto *extreme = reinterpret_cast<QRgb *>(m_extreme.scanLine(y));
        int x = 0;
        if (y < part.height()) {
            // Byte-wise, so the compiler makes it pminub / pmaxub; the alpha bytes stay 0xff.
            const std::uint8_t *row = frame.constScanLine(y);
            auto *bytes = reinterpret_cast<std::uint8_t *>(extreme);
            const auto count = 4 * std::size_t(part.width());
            if (minimum)
                for (std::size_t i = 0; i < count; ++i)
                    bytes[i] = std::min(bytes[i], row[i]);
            else
                for (std::size_t i = 0; i < count; ++i)
                    bytes[i] = std::max(bytes[i], row[i]);
            x = part.width();
        }
        // Beyond the frame it is black: the minimum falls to it, the maximum keeps its value.
        if (minimum)
            std::fill(extreme + x, extreme + m_area.width(), Black);
    }
}

bool RunningStack::paint(QImage &surface) const
{
    const QSize painted = m_area.boundedTo(surface.size());
    if (painted.isEmpty() || m_frames == 0)
        return true;
    std::uint8_t *bits = surface.bits();
    if (!bits)
        return false;
    const qsizetype bytesPerLine = surface.bytesPerLine();
    if (m_mode != StackMode::Mean) {
        for (int y = 0; y < painted.height(); ++y)
            std::memcpy(bits + y * bytesPerLine, m_extreme.constScanLine(y), 4 * std::size_t(painted.width()));
        return true;
    }
    // floor((2 S + k) / (2 k)) through a product in double, which falls short by one only where
    // the quotient is a whole number (the reciprocal rounded down); one integer test mends that.
    const std::uint32_t k = m_frames;
    const double reciprocal = 1.0 / (2.0 * double(k));
    for (int y = 0; y < painted.height(); ++y) {
        const std::uint32_t *sums = m_sums.get() + 4 * std::size_t(y) * std::size_t(m_area.width());
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        for (int x = 0; x < painted.width(); ++x) {
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
    return true;
}
