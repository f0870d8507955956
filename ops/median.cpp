#include "ops/median.h"

#include "imaging/imageloader.h"
#include "ops/ophost.h"
#include "ops/stackplanes.h"

namespace {

QString notEnoughMemory(QSize area, int count)
{
    return QStringLiteral("Not enough memory to stack %1 images of %2 x %3 pixels.")
        .arg(count)
        .arg(area.width())
        .arg(area.height());
}

} // namespace

void runMedian(OpHost &host, const MemoryProbe &probe, const QString &scratchFolder)
{
    host.BeginWork();
    host.setStopFlag(false);
    const int count = host.imageCount();
    if (count < 2) {
        host.EndWork();
        host.Cap(QStringLiteral("Done"));
        host.showInformation(QStringLiteral("Must be at least 2 images"));
        return;
    }
    // The stacked area is the canvas as it is now, before any listed file replaces it.
    const QSize area = host.canvas().size();
    std::optional<StackPlanes> planes(std::in_place, area, count, probe(), scratchFolder);
    if (!planes->valid()) {
        host.EndWork();
        host.showWarning(notEnoughMemory(area, count));
        return;
    }

    for (int i = 0; i < count; ++i) {
        // An entry removed meanwhile counts as a file that does not load: the canvas's
        // current picture stands in for it, as for any failed load.
        if (const std::optional<QString> path = host.imagePath(i))
            if (std::optional<QImage> picture = decodeImageFile(*path))
                host.setCanvas(std::move(*picture));
        host.Cap(QStringLiteral("Processing image: %1").arg(i + 1));
        // The stop request can only change at an event point, so testing it once per image,
        // where the first point would be copied, is the same as testing after every point.
        if (!area.isEmpty() && host.stopFlag()) {
            // Released before the buttons come back: a new run may start at the next event point.
            planes.reset();
            host.EndWork();
            host.Cap(QStringLiteral("Done"));
            host.beep();
            return;
        }
        planes->copyImage(i, host.canvas());
        host.letEventsRun();
    }

    host.Cap(QStringLiteral("Generating Median..."));
    planes->paintMedians(host.canvas());
    planes.reset();
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
