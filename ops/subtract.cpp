#include "ops/subtract.h"

#include "engine/decode/decode.h"
#include "engine/stack/stack.h"
#include "ops/ophost.h"

void runSubtraction(OpHost &host, const PathQuestion &askPath)
{
    host.BeginWork();
    const std::optional<QString> path = askPath();
    if (!path) {
        host.EndWork();
        return;
    }
    // A file that does not load leaves the earlier second picture in place.
    if (Outcome<QImage> picture = decodeImageFile(*path))
        host.setSecondImage(std::move(*picture));
    const QSize extent = host.canvas().size();
    host.Cap(QStringLiteral("Generating Subtraction..."));
    subtractSurface(host.canvas(), host.secondImage(), extent);
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
