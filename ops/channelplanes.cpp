#include "ops/channelplanes.h"

#include "ops/mediankernel.h"

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Splits RGB32 words into three byte rows.
void splitRow(const QRgb *source, std::uint8_t *red, std::uint8_t *green, std::uint8_t *blue, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi32(0xff);
    const auto channel = [&](const __m128i (&words)[4], int shift) {
        __m128i lanes[4];
        for (int i = 0; i < 4; ++i)
            lanes[i] = _mm_and_si128(_mm_srli_epi32(words[i], shift), low);
        return _mm_packus_epi16(_mm_packs_epi32(lanes[0], lanes[1]), _mm_packs_epi32(lanes[2], lanes[3]));
    };
    for (; x + 16 <= width; x += 16) {
        __m128i words[4];
        for (int i = 0; i < 4; ++i)
            words[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + x + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(red + x), channel(words, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(green + x), channel(words, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(blue + x), channel(words, 0));
    }
#endif
    for (; x < width; ++x) {
        red[x] = static_cast<std::uint8_t>(qRed(source[x]));
        green[x] = static_cast<std::uint8_t>(qGreen(source[x]));
        blue[x] = static_cast<std::uint8_t>(qBlue(source[x]));
    }
}

} // namespace

ChannelPlanes::Plane ChannelPlanes::zeroedPlane(std::uint64_t bytes)
{
    // Fresh anonymous pages come zeroed. Huge pages cut the page faults of first touch, which
    // otherwise cost as much as the copying itself, by a factor of 512.
    const auto size = static_cast<std::size_t>(std::max<std::uint64_t>(bytes, 1));
    void *plane = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (plane == MAP_FAILED)
        return Plane(nullptr, Unmap{});
#if defined(MADV_HUGEPAGE)
    madvise(plane, size, MADV_HUGEPAGE);
#endif
    return Plane(static_cast<std::uint8_t *>(plane), Unmap{size});
}

void ChannelPlanes::Unmap::operator()(std::uint8_t *p) const
{
    munmap(p, bytes);
}

std::uint64_t ChannelPlanes::bytesNeeded(QSize area, int imageCount)
{
    return 3u * std::uint64_t(imageCount) * std::uint64_t(area.width()) * std::uint64_t(area.height());
}

ChannelPlanes::ChannelPlanes(QSize area, int imageCount)
    : m_area(area), m_count(imageCount),
      m_imageStride(std::size_t(area.width()) * std::size_t(area.height())),
      m_red(zeroedPlane(bytesNeeded(area, imageCount) / 3)),
      m_green(zeroedPlane(bytesNeeded(area, imageCount) / 3)),
      m_blue(zeroedPlane(bytesNeeded(area, imageCount) / 3))
{
}

void ChannelPlanes::prefault([[maybe_unused]] int index) const
{
#if defined(MADV_POPULATE_WRITE)
    // Page-aligned bounds around the block; neighbouring blocks' pages are only mapped, not written.
    const auto page = std::uintptr_t(4096);
    for (std::uint8_t *plane : {m_red.get(), m_green.get(), m_blue.get()}) {
        const auto begin = reinterpret_cast<std::uintptr_t>(plane + std::size_t(index) * m_imageStride) & ~(page - 1);
        const auto end = reinterpret_cast<std::uintptr_t>(plane + std::size_t(index + 1) * m_imageStride);
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
        const std::size_t row = block + std::size_t(y) * std::size_t(m_area.width());
        splitRow(reinterpret_cast<const QRgb *>(picture.constScanLine(y)), m_red.get() + row, m_green.get() + row,
                 m_blue.get() + row, copied.width());
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
    const auto firstRowOf = [&](int worker) { return int(qint64(painted.height()) * worker / workers); };
    // Workers take the lower bands; whatever no thread could be started for stays here.
    std::vector<std::jthread> threads;
    int ownEnd = painted.height();
    for (int worker = workers - 1; worker >= 1; --worker) {
        const int first = firstRowOf(worker);
        const int end = ownEnd;
        try {
            threads.emplace_back([=, this] { paintRows(bits, bytesPerLine, painted.width(), first, end); });
        } catch (const std::system_error &) {
            break;
        }
        ownEnd = first;
    }
    paintRows(bits, bytesPerLine, painted.width(), 0, ownEnd);
}
