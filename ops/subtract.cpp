#include "ops/subtract.h"

#include "imaging/imagelist.h"
#include "imaging/picturebox.h"
#include "ops/ophost.h"

void subtractRow(std::uint8_t *canvas, const std::uint8_t *second, std::size_t pixels)
{
    const std::size_t bytes = pixels * 4u;
    // Plain saturating byte subtraction vectorises; the alpha bytes (0xff - 0xff) are put
    // back afterwards while the row is still in cache.
    for (std::size_t i = 0; i < bytes; ++i)
        canvas[i] = static_cast<std::uint8_t>(canvas[i] > second[i] ? canvas[i] - second[i] : 0);
    for (std::size_t i = 3; i < bytes; i += 4)
        canvas[i] = 0xff;
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
    LoadImageFile(host.secondImage(), *path);
    const QSize extent = host.canvas().surface().size();
    host.Cap(QStringLiteral("Generating Subtraction..."));
    PictureBox &canvas = host.canvas();
    subtractSurface(canvas.surface(), host.secondImage().surface(), extent);
    canvas.surfaceChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
