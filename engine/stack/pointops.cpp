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

void brightenRow(std::uint16_t *samples, std::size_t count)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= count; i += 8) {
        auto *block = reinterpret_cast<__m128i *>(samples + i);
        const __m128i v = _mm_loadu_si128(block);
        _mm_storeu_si128(block, _mm_adds_epu16(v, _mm_srli_epi16(v, 1)));
    }
#endif
    for (; i < count; ++i) {
        const unsigned v = samples[i] + (samples[i] >> 1u);
        samples[i] = static_cast<std::uint16_t>(v > 65535u ? 65535u : v);
    }
}

void brightenSurface(QImage &surface, QSize extent)
{
    const QSize area = extent.boundedTo(surface.size());
    const auto samples = static_cast<std::size_t>(area.width()) * 4u;
    const bool deep = surface.format() == QImage::Format_RGBX64;
    for (int y = 0; y < area.height(); ++y) {
        if (deep)
            brightenRow(reinterpret_cast<std::uint16_t *>(surface.scanLine(y)), samples);
        else
            brightenRow(surface.scanLine(y), samples);
    }
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

void subtractRow(std::uint16_t *canvas, const std::uint16_t *second, std::size_t pixels)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // As at 8 bits, on 16-bit lanes, the second picture's alpha samples masked to 0.
    const __m128i colour = _mm_set1_epi64x(0x0000ffffffffffff);
    for (; i + 2 <= pixels; i += 2) {
        auto *target = reinterpret_cast<__m128i *>(canvas + 4 * i);
        const __m128i subtrahend =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(second + 4 * i)), colour);
        _mm_storeu_si128(target, _mm_subs_epu16(_mm_loadu_si128(target), subtrahend));
    }
#endif
    for (std::size_t sample = 4 * i; sample < 4 * pixels; ++sample)
        if ((sample & 3u) != 3u)
            canvas[sample] = static_cast<std::uint16_t>(canvas[sample] > second[sample] ? canvas[sample] - second[sample] : 0);
}

void subtractSurface(QImage &canvas, const QImage &second, QSize extent)
{
    const QSize area = extent.boundedTo(canvas.size()).boundedTo(second.size());
    const bool deep = canvas.format() == QImage::Format_RGBX64;
    for (int y = 0; y < area.height(); ++y) {
        if (deep)
            subtractRow(reinterpret_cast<std::uint16_t *>(canvas.scanLine(y)),
                        reinterpret_cast<const std::uint16_t *>(second.constScanLine(y)), std::size_t(area.width()));
        else
            subtractRow(canvas.scanLine(y), second.constScanLine(y), std::size_t(area.width()));
    }
}
