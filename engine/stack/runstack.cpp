#include "engine/stack/runstack.h"

#include "engine/stack/stackrun.h"

#include <cerrno>
#include <utility>

namespace {

StackResult failed(const QString &reason)
{
    return {StackResult::Kind::Failed, reason, {}};
}

// Frame `index` at its turn: brought, read ahead or decoded now, or gone from the caller's list.
FrameTaken takeFrame(StackRun &run, StackPlan &plan, const StackEvents &events, int index,
                     std::optional<Coverage> &coverage)
{
    FrameTaken taken{.index = index};
    StackFrame &frame = plan.frames[index];
    if (!frame.picture.isNull()) {
        taken.picture = std::exchange(frame.picture, QImage());
        taken.brought = true;
        coverage.reset();
        return taken;
    }
    const std::optional<QString> path = events.pathAtTurn ? events.pathAtTurn(index) : std::optional(frame.path);
    if (!path) {
        run.skip(index);
        taken.removed = true;
        return taken;
    }
    LoadedPicture loaded = run.take(index, *path);
    if (loaded.picture)
        coverage = std::move(loaded.coverage);
    taken.picture = std::move(loaded.picture);
    taken.failure = std::move(loaded.failure);
    taken.unaligned = loaded.unaligned;
    taken.alignment = loaded.alignment;
    return taken;
}

StackResult finishOnto(StackRun &run, const StackEvents &events, QSize area, SampleDepth depth)
{
    if (events.surface) {
        if (const Outcome<> finished = run.finish(events.surface()); !finished)
            return failed(finished.reason());
        return {};
    }
    QImage stacked(area, depth == SampleDepth::Sixteen ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    if (stacked.isNull() && !area.isEmpty())
        return failed(qt_error_string(ENOMEM));
    if (const Outcome<> finished = run.finish(stacked); !finished)
        return failed(finished.reason());
    return {StackResult::Kind::Done, {}, std::move(stacked)};
}

QStringList pathsAhead(const StackPlan &plan)
{
    QStringList paths;
    for (const StackFrame &frame : plan.frames)
        paths << (frame.picture.isNull() ? frame.path : QString());
    return paths;
}

} // namespace

void finishAbandonedFrames()
{
    DecodePool::shared().waitForQueued();
}

StackResult runStack(StackPlan plan, const StackEvents &events, const StackResources &resources)
{
    const QImage reference = plan.alignment ? std::exchange(plan.alignment->reference, QImage()) : QImage();
    StackRun run(plan.area, pathsAhead(plan), resources, plan.options, reference,
                 plan.alignment ? plan.alignment->method : AlignMethod::Local);
    if (const Outcome<> admitted = run.admitted(); !admitted)
        return {StackResult::Kind::Refused, admitted.reason(), {}};
    // Where the last frame with a picture covers the area: all of it, unless it was warped.
    std::optional<Coverage> coverage;
    for (int i = 0; i < plan.frames.size(); ++i) {
        if (events.phase)
            events.phase(StackPhase::Loading, i);
        FrameTaken taken = takeFrame(run, plan, events, i, coverage);
        FrameChoice choice = events.frameTaken(taken);
        if (choice.kind == FrameChoice::Kind::Stop)
            return {StackResult::Kind::Stopped, {}, {}};
        if (choice.kind == FrameChoice::Kind::Stack) {
            if (const Outcome<> added = run.add(i, std::exchange(choice.picture, QImage()), coverage); !added)
                return failed(added.reason());
        }
        if (events.frameDone)
            events.frameDone(i);
    }
    run.endLoading();
    if (events.phase)
        events.phase(StackPhase::Stacking, int(plan.frames.size()));
    return finishOnto(run, events, plan.area, plan.options.depth);
}
