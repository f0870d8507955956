#include "engine/stack/pointops.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void brightenRow(std::uint8_t *bytes, std::size_t count)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // v + (v >> 1) with a saturating byte add stays in 8 bits; the shift runs on 16-bit lanes,
    // so the bit that crosses in from the neighbouring byte is masked off. SSE2 is on every x86-64.
    const __m128i low7 = _mm_set1_epi8(0x7f);
    for (; i + 16 <= count; i += 16) {
        auto *block = reinterpret_cast<__m128i *>(bytes + i);
        const __m128i v = _mm_loadu_si128(block);
        _mm_storeu_si128(block, _mm_adds_epu8(v, _mm_and_si128(_mm_srli_epi16(v, 1), low7)));
    }
#endif
    for (; i < count; ++i) {
        const unsigned v = bytes[i] + (bytes[i] >> 1u);
        bytes[i] = static_cast<std::uint8_t>(v > 255u ? 255u : v);
    }
}

void brightenSurface(QImage &surface, QSize extent)
{
    const QSize area = extent.boundedTo(surface.size());
    const auto rowBytes = static_cast<std::size_t>(area.width()) * 4u;
    for (int y = 0; y < area.height(); ++y)
        brightenRow(surface.scanLine(y), rowBytes);
}

void subtractRow(std::uint8_t *canvas, const std::uint8_t *second, std::size_t pixels)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // Saturating byte subtraction, the second picture's alpha bytes masked to 0 so the
    // canvas keeps 0xff there. SSE2 is on every x86-64.
    const __m128i colour = _mm_set1_epi32(0x00ffffff);
    for (; i + 4 <= pixels; i += 4) {
        auto *target = reinterpret_cast<__m128i *>(canvas + 4 * i);
        const __m128i subtrahend =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(second + 4 * i)), colour);
        _mm_storeu_si128(target, _mm_subs_epu8(_mm_loadu_si128(target), subtrahend));
    }
#endif
    for (std::size_t byte = 4 * i; byte < 4 * pixels; ++byte)
        if ((byte & 3u) != 3u)
            canvas[byte] = static_cast<std::uint8_t>(canvas[byte] > second[byte] ? canvas[byte] - second[byte] : 0);
}

void subtractSurface(QImage &canvas, const QImage &second, QSize extent)
{
    const QSize area = extent.boundedTo(canvas.size()).boundedTo(second.size());
    for (int y = 0; y < area.height(); ++y)
        subtractRow(canvas.scanLine(y), second.constScanLine(y), static_cast<std::size_t>(area.width()));
}
