#include "engine/planerows.h"


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <memory>
#include <new>
#include <exception>
#include <thread>
#include <vector>

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

namespace {

// Three channel rows of `width` stacked values for each worker.
struct ValueRows {
    std::uint8_t *red;
    std::uint8_t *green;
    std::uint8_t *blue;
};

void paintRows(const StackOptions &options, const PlaneRows &planes, ValueRows out, std::uint8_t *bits, qsizetype bytesPerLine, int width,
               int firstRow, int endRow)
{
    const auto count = static_cast<std::size_t>(width);
    for (int y = firstRow; y < endRow; ++y) {
        const std::size_t row = std::size_t(y) * std::size_t(planes.rowLength);
        stackRow(options, planes.red + row, planes.imageStride, planes.imageCount, out.red, count);
        stackRow(options, planes.green + row, planes.imageStride, planes.imageCount, out.green, count);
        stackRow(options, planes.blue + row, planes.imageStride, planes.imageCount, out.blue, count);
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        for (std::size_t x = 0; x < count; ++x)
            target[x] = qRgb(out.red[x], out.green[x], out.blue[x]);
    }
}

} // namespace

bool paintStackRows(const StackOptions &options, const PlaneRows &planes, std::uint8_t *bits, qsizetype bytesPerLine,
                    int width, int rows)
{
    if (rows <= 0 || width <= 0)
        return true;
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, rows);
    const auto count = std::size_t(width);
    // Taken before any row is painted, so a refusal leaves the picture as it was.
    std::unique_ptr<std::uint8_t[]> buffers(new (std::nothrow) std::uint8_t[3 * count * std::size_t(workers)]);
    if (!buffers)
        return false;
    const auto rowsOf = [&](int worker) {
        std::uint8_t *red = buffers.get() + 3 * count * std::size_t(worker);
        return ValueRows{red, red + count, red + 2 * count};
    };
    const auto firstRowOf = [&](int worker) { return int(qint64(rows) * worker / workers); };
    // Workers take the lower bands; whatever no thread could be started for stays here.
    std::vector<std::jthread> threads;
    int ownEnd = rows;
    for (int worker = workers - 1; worker >= 1; --worker) {
        const int first = firstRowOf(worker);
        const int end = ownEnd;
        const ValueRows out = rowsOf(worker);
        try {
            threads.emplace_back([=, &options, &planes] { paintRows(options, planes, out, bits, bytesPerLine, width, first, end); });
        } catch (const std::exception &) { // no thread, or no room to hold one
            break;
        }
        ownEnd = first;
    }
    paintRows(options, planes, rowsOf(0), bits, bytesPerLine, width, 0, ownEnd);
    return true;
}
