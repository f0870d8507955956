#include "ops/brighten.h"

#include "engine/stack/stack.h"
#include "ops/ophost.h"

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
