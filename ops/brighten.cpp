#include "ops/brighten.h"

#include "ops/ophost.h"

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

void runBrightening(OpHost &host)
{
    host.BeginWork();
    // The extent is fixed before the first event point; a picture loaded there is walked
    // only as far as the old one reached.
    const QSize extent = host.canvas().size();
    host.Cap(QStringLiteral("Generating Ombrelux..."));
    brightenSurface(host.canvas(), extent);
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
