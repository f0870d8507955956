#include "ops/subtract.h"

#include "imaging/commondialog.h"
#include "imaging/imageloader.h"
#include "ops/ophost.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

void runSubtraction(OpHost &host)
{
    host.BeginWork();
    const std::optional<QString> path = askOpenPath(host.dialog());
    if (!path) {
        host.EndWork();
        return;
    }
    // A file that does not load leaves the earlier second picture in place.
    if (std::optional<QImage> picture = decodeImageFile(*path))
        host.setSecondImage(std::move(*picture));
    const QSize extent = host.canvas().size();
    host.Cap(QStringLiteral("Generating Subtraction..."));
    subtractSurface(host.canvas(), host.secondImage(), extent);
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
