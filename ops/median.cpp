#include "ops/median.h"

#include "ops/ophost.h"

namespace {

QStringList listedPaths(const OpHost &host, int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << host.imagePath(i).value_or(QString());
    return paths;
}

} // namespace

void runMedian(OpHost &host, const StackResources &resources)
{
    runStack(host, {}, QStringLiteral("Median"), Framing::AsShot, resources);
}

void runStack(OpHost &host, const StackOptions &options, const QString &name, Framing framing,
              const StackResources &resources)
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
    // Asked before canvas(), which may write it.
    const std::optional<FileIdentity> shown = host.canvasSource();
    // The stacked area is the canvas as it is now, before any listed file replaces it.
    const QSize area = host.canvas().size();
    QStringList paths = listedPaths(host, count);
    // A canvas showing the first entry's file, decoded and untouched, is that frame while the
    // file is still the one read: the run brings it itself, and the first title need not wait
    // for a decode. No event point comes before its turn, so the entry cannot change meanwhile.
    const bool firstShown = shown && !paths[0].isEmpty() && identityOf(paths[0]) == shown;
    if (firstShown)
        paths[0].clear();
    const bool aligned = framing == Framing::Aligned;
    std::optional<StackRun> run(std::in_place, area, paths, resources, options, aligned ? host.canvas() : QImage());
    if (const std::optional<QString> refusal = run->refusal()) {
        run.reset();
        host.EndWork();
        host.showWarning(*refusal);
        return;
    }
    // Released before the buttons come back: a new run may start at the next event point.
    const auto fail = [&](const QString &reason) {
        run.reset();
        host.EndWork();
        host.showWarning(QStringLiteral("The %1 could not be finished: %2").arg(name.toLower(), reason));
        host.Cap(QStringLiteral("Done"));
    };

    // Where the canvas's picture covers the area: all of it, unless it is a warped frame.
    std::optional<Coverage> canvasCoverage;
    int leftOut = 0;
    for (int i = 0; i < count; ++i) {
        // An entry removed meanwhile counts as a file that does not load: the canvas's
        // current picture stands in for it, as for any failed load.
        bool unaligned = false;
        if (i == 0 && firstShown) {
            // On the canvas already.
        } else if (const std::optional<QString> path = host.imagePath(i)) {
            if (LoadedPicture loaded = run->take(i, *path); loaded.picture) {
                host.setCanvas(std::move(*loaded.picture));
                canvasCoverage = std::move(loaded.coverage);
            } else {
                unaligned = loaded.unaligned;
            }
        } else {
            run->skip(i);
        }
        host.Cap(QStringLiteral("Processing image: %1").arg(i + 1));
        // The stop request can only change at an event point, so testing it once per image,
        // where the first point would be copied, is the same as testing after every point.
        if (!area.isEmpty() && host.stopFlag()) {
            run.reset();
            host.EndWork();
            host.Cap(QStringLiteral("Done"));
            host.beep();
            return;
        }
        if (unaligned)
            ++leftOut;
        else if (const std::optional<QString> failure = run->add(i, host.canvas(), canvasCoverage))
            return fail(*failure);
        host.letEventsRun();
    }
    run->endLoading();

    host.Cap(QStringLiteral("Generating ") + name + QStringLiteral("..."));
    if (const std::optional<QString> failure = run->finish(host.canvas()))
        return fail(*failure);
    run.reset();
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
    if (leftOut > 0)
        host.showInformation(QStringLiteral("%1 of %2 images could not be aligned and were left out.").arg(leftOut).arg(count));
}
