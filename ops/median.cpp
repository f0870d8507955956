#include "ops/median.h"

#include "ops/ophost.h"

namespace {

// The listed files; a canvas showing the first entry's file, decoded and untouched, is that frame
// while the file is still the one read: the run is given it, and the first title need not wait for
// a decode. No event point comes before its turn, so the entry cannot change meanwhile.
QList<StackFrame> listedFrames(OpHost &host, int count)
{
    // Asked before canvas(), which may write it.
    const std::optional<FileIdentity> shown = host.canvasSource();
    QList<StackFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.append({host.imagePath(i).value_or(QString()), {}});
    if (shown && !frames[0].path.isEmpty() && identityOf(frames[0].path) == shown)
        frames[0].picture = host.canvas();
    return frames;
}

// Each frame goes onto the canvas; one that does not load leaves the canvas's current picture to
// stand in for it. Stop is read once per image, where the first event point would come: the request
// can only change at an event point.
StackEvents windowEvents(OpHost &host, QSize area, int &leftOut)
{
    StackEvents events;
    events.pathAtTurn = [&host](int index) { return host.imagePath(index); };
    events.frameTaken = [&host, area, &leftOut](FrameTaken &frame) {
        if (frame.picture && !frame.brought)
            host.setCanvas(std::move(*frame.picture));
        host.Cap(QStringLiteral("Processing image: %1").arg(frame.index + 1));
        if (!area.isEmpty() && host.stopFlag())
            return FrameChoice{FrameChoice::Kind::Stop, {}};
        if (frame.unaligned) {
            ++leftOut;
            return FrameChoice{FrameChoice::Kind::LeaveOut, {}};
        }
        return FrameChoice{FrameChoice::Kind::Stack, host.canvas()};
    };
    events.frameDone = [&host](int) { host.letEventsRun(); };
    events.surface = [&host]() -> QImage & { return host.canvas(); };
    return events;
}

} // namespace

void runMedian(OpHost &host, const StackResources &resources)
{
    stackList(host, {}, QStringLiteral("Median"), Framing::AsShot, resources);
}

void stackList(OpHost &host, const StackOptions &options, const QString &name, Framing framing,
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
    StackPlan plan{.frames = listedFrames(host, count), .area = {}, .options = options, .alignment = {}};
    // The stacked area is the canvas as it is now, before any listed file replaces it.
    plan.area = host.canvas().size();
    if (framing == Framing::Aligned)
        plan.alignment = Alignment{host.canvas()};
    int leftOut = 0;
    StackEvents events = windowEvents(host, plan.area, leftOut);
    events.phase = [&host, &name](StackPhase phase, int) {
        if (phase == StackPhase::Stacking)
            host.Cap(QStringLiteral("Generating ") + name + QStringLiteral("..."));
    };
    // The run is over and its memory freed before the buttons come back: a new run may start at the
    // next event point.
    const StackResult result = runStack(std::move(plan), events, resources);
    switch (result.kind) {
    case StackResult::Kind::Refused:
        host.EndWork();
        host.showWarning(result.reason);
        return;
    case StackResult::Kind::Failed:
        host.EndWork();
        host.showWarning(QStringLiteral("The %1 could not be finished: %2").arg(name.toLower(), result.reason));
        host.Cap(QStringLiteral("Done"));
        return;
    case StackResult::Kind::Stopped:
        host.EndWork();
        host.Cap(QStringLiteral("Done"));
        host.beep();
        return;
    case StackResult::Kind::Done:
        break;
    }
    host.canvasChanged();
    host.Cap(QStringLiteral("Done"));
    host.beep();
    host.EndWork();
    if (leftOut > 0)
        host.showInformation(
            QStringLiteral("%1 of %2 images could not be aligned and were left out.").arg(leftOut).arg(count));
}
