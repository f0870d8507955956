#include "ops/brighten.h"

#include "imaging/picturebox.h"
#include "ops/ophost.h"

void brightenRow(std::uint8_t *bytes, std::size_t count)
{
    // Written so the compiler turns it into saturating vector adds.
    for (std::size_t i = 0; i < count; ++i) {
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
    const QSize extent = host.canvas().surface().size();
    host.Cap(QStringLiteral("Generating Ombrelux..."));
    PictureBox &canvas = host.canvas();
    brightenSurface(canvas.surface(), extent);
    canvas.surfaceChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
