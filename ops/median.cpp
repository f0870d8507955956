#include "ops/median.h"

#include "imaging/framebuffers.h"
#include "imaging/imageloader.h"
#include "ops/decodepool.h"
#include "ops/ophost.h"
#include "ops/stackplanes.h"

#include <system_error>
#include <thread>

namespace {

// Freed frame buffers a run keeps for its next decodes: the decoding room holds three frames of
// the stacked area, and the canvas and a decoder at its turn one each.
constexpr int KeptFrames = 5;

// The kernel zeroes fresh pages on first touch, as slowly as the host of a virtual machine
// hands them back; done here, image by image in loading order, while the first frames decode.
std::jthread faultInPlanes(const StackPlanes &planes, int count)
{
    try {
        return std::jthread([&planes, count](const std::stop_token &stop) {
            for (int i = 0; i < count && !stop.stop_requested(); ++i)
                planes.prefault(i);
        });
    } catch (const std::system_error &) {
        return {}; // the copies fault the pages in themselves
    }
}

QStringList listedPaths(const OpHost &host, int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << host.imagePath(i).value_or(QString());
    return paths;
}

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
    runMedian(host, probe, DecodePool::shared(), decodeImageDevice, scratchFolder);
}

void runMedian(OpHost &host, const MemoryProbe &probe, DecodePool &pool, const FrameDecoder &decoder,
               const QString &scratchFolder)
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
    // Workers decode the listed files ahead; the loop below only changes where pixels come from.
    std::optional<FramesAhead> ahead(std::in_place, pool, decoder, listedPaths(host, count),
                                     std::int64_t(decodingRoom(area)));
    // Frames the loop is done with come back for the next decodes: the canvas's, and those in
    // flight and in the room of the frames ahead.
    keepFrameBuffers(KeptFrames);
    std::jthread faulting = faultInPlanes(*planes, count);
    // Nothing of the loading outlives it: no frame of this run reaches a later one.
    const auto endLoading = [&] {
        ahead.reset();
        keepFrameBuffers(0);
        faulting = {};
    };

    for (int i = 0; i < count; ++i) {
        // An entry removed meanwhile counts as a file that does not load: the canvas's
        // current picture stands in for it, as for any failed load.
        if (const std::optional<QString> path = host.imagePath(i)) {
            if (std::optional<QImage> picture = ahead->take(i, *path))
                host.setCanvas(std::move(*picture));
        } else {
            ahead->skip(i);
        }
        host.Cap(QStringLiteral("Processing image: %1").arg(i + 1));
        // The stop request can only change at an event point, so testing it once per image,
        // where the first point would be copied, is the same as testing after every point.
        if (!area.isEmpty() && host.stopFlag()) {
            // Released before the buttons come back: a new run may start at the next event point.
            endLoading();
            planes.reset();
            host.EndWork();
            host.Cap(QStringLiteral("Done"));
            host.beep();
            return;
        }
        planes->copyImage(i, host.canvas());
        host.letEventsRun();
    }
    endLoading();

    host.Cap(QStringLiteral("Generating Median..."));
    planes->paintMedians(host.canvas());
    planes.reset();
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
}
