#include "ops/channelplanes.h"

#include "ops/mediankernel.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace {

std::uint8_t *zeroedBytes(std::uint64_t size)
{
    // calloc hands out fresh zero pages for large blocks without touching them.
    return static_cast<std::uint8_t *>(std::calloc(static_cast<std::size_t>(std::max<std::uint64_t>(size, 1)), 1));
}

} // namespace

std::uint64_t ChannelPlanes::bytesNeeded(QSize area, int imageCount)
{
    return 3u * std::uint64_t(imageCount) * std::uint64_t(area.width()) * std::uint64_t(area.height());
}

ChannelPlanes::ChannelPlanes(QSize area, int imageCount)
    : m_area(area), m_count(imageCount),
      m_imageStride(std::size_t(area.width()) * std::size_t(area.height())),
      m_red(zeroedBytes(bytesNeeded(area, imageCount) / 3)),
      m_green(zeroedBytes(bytesNeeded(area, imageCount) / 3)),
      m_blue(zeroedBytes(bytesNeeded(area, imageCount) / 3))
{
}

void ChannelPlanes::copyImage(int index, const QImage &picture)
{
    const QSize copied = m_area.boundedTo(picture.size());
    const std::size_t block = std::size_t(index) * m_imageStride;
    for (int y = 0; y < copied.height(); ++y) {
        const auto *source = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        const std::size_t row = block + std::size_t(y) * std::size_t(m_area.width());
        std::uint8_t *red = m_red.get() + row;
        std::uint8_t *green = m_green.get() + row;
        std::uint8_t *blue = m_blue.get() + row;
        for (int x = 0; x < copied.width(); ++x) {
            red[x] = static_cast<std::uint8_t>(qRed(source[x]));
            green[x] = static_cast<std::uint8_t>(qGreen(source[x]));
            blue[x] = static_cast<std::uint8_t>(qBlue(source[x]));
        }
    }
}

void ChannelPlanes::paintRows(std::uint8_t *bits, qsizetype bytesPerLine, int width, int firstRow, int endRow) const
{
    const auto count = static_cast<std::size_t>(width);
    std::vector<std::uint8_t> red(count), green(count), blue(count);
    for (int y = firstRow; y < endRow; ++y) {
        const std::size_t row = std::size_t(y) * std::size_t(m_area.width());
        medianRow(m_red.get() + row, m_imageStride, m_count, red.data(), count);
        medianRow(m_green.get() + row, m_imageStride, m_count, green.data(), count);
        medianRow(m_blue.get() + row, m_imageStride, m_count, blue.data(), count);
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        for (std::size_t x = 0; x < count; ++x)
            target[x] = qRgb(red[x], green[x], blue[x]);
    }
}

void ChannelPlanes::paintMedians(QImage &surface) const
{
    const QSize painted = m_area.boundedTo(surface.size());
    if (painted.isEmpty())
        return;
    // Detach here, on the calling thread, before workers get row pointers.
    std::uint8_t *bits = surface.bits();
    const qsizetype bytesPerLine = surface.bytesPerLine();
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, painted.height());
    std::vector<std::jthread> threads;
    for (int w = 1; w < workers; ++w)
        threads.emplace_back([=, this] {
            paintRows(bits, bytesPerLine, painted.width(), painted.height() * w / workers,
                      painted.height() * (w + 1) / workers);
        });
    paintRows(bits, bytesPerLine, painted.width(), 0, painted.height() / workers);
}
