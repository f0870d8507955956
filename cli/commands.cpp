#include "cli/commands.h"

#include "cli/commandline.h"
#include "cli/console.h"
#include "cli/framelist.h"
#include "cli/runreport.h"
#include "engine/decode/decode.h"
#include "engine/stack/stack.h"
#include "engine/write/write.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// Every value from 2 up reaches the top (255, 65535) within this many passes, and 0 and 1 stay:
// more change nothing.
constexpr int passesToFixedPoint(SampleDepth depth)
{
    return depth == SampleDepth::Sixteen ? 27 : 13;
}

QString loading(qsizetype number, qsizetype count)
{
    return QStringLiteral("loading %1/%2").arg(number).arg(count);
}

Outcome<QImage> readInput(const QString &kind, const QString &path, SampleDepth depth)
{
    Outcome<QImage> picture = decodeImageFile(path, depth);
    if (!picture)
        report(QStringLiteral("cannot read %1 %2: %3").arg(kind, quotedName(path), picture.reason()));
    return picture;
}

// Unlike the window, a frame that does not load ends the run: it would change the result unseen.
StackEvents batchEvents(const QStringList &frames, const StackOptions &options, RunReport *runReport)
{
    StackEvents events;
    events.phase = [&frames, options](StackPhase phase, int index) {
        // The first frame's line came before its decode.
        if (phase == StackPhase::Loading && index > 0)
            showProgress(loading(index + 1, frames.size()));
        else if (phase == StackPhase::Stacking)
            showProgress(modeEntry(options.mode).progress);
    };
    events.frameTaken = [&frames, runReport](FrameTaken &frame) {
        if (runReport)
            runReport->taken(frame);
        if (!frame.picture) {
            const QString what = frame.unaligned ? QStringLiteral("align") : QStringLiteral("read");
            report(QStringLiteral("cannot %1 frame %2: %3").arg(what, quotedName(frames[frame.index]), frame.failure));
            return FrameChoice{FrameChoice::Kind::Stop, {}};
        }
        return FrameChoice{FrameChoice::Kind::Stack, std::move(*frame.picture)};
    };
    return events;
}

std::optional<QImage> stackFrames(const QStringList &frames, const StackOptions &options, std::optional<AlignMethod> align,
                                  RunReport *runReport)
{
    if (runReport)
        runReport->setOptions(options);
    showProgress(loading(1, frames.size()));
    // The first frame gives the stacked area, so it is decoded here and not read ahead.
    Outcome<QImage> first = readInput(QStringLiteral("frame"), frames.first(), options.depth);
    if (!first) {
        if (runReport)
            runReport->unread(0, first.reason());
        return std::nullopt;
    }
    StackPlan plan{.frames = {}, .area = first->size(), .options = options, .alignment = {}};
    // Aligned, the first frame is the reference: the others are warped onto it.
    if (align)
        plan.alignment = Alignment{*first, *align};
    for (const QString &path : frames)
        plan.frames.append({path, {}});
    plan.frames.first().picture = std::exchange(*first, QImage());
    StackResult result = runStack(std::move(plan), batchEvents(frames, options, runReport));
    switch (result.kind) {
    case StackResult::Kind::Done:
        return std::move(result.picture);
    case StackResult::Kind::Refused:
        report(result.reason);
        break;
    case StackResult::Kind::Failed:
        report(QStringLiteral("cannot stack: ") + result.reason);
        break;
    case StackResult::Kind::Stopped:
        break;
    }
    return std::nullopt;
}

std::optional<QImage> subtractSecond(const QStringList &inputs, SampleDepth depth)
{
    showProgress(loading(1, 2));
    Outcome<QImage> image = readInput(QStringLiteral("image"), inputs[0], depth);
    if (!image)
        return std::nullopt;
    showProgress(loading(2, 2));
    const Outcome<QImage> second = readInput(QStringLiteral("image"), inputs[1], depth);
    if (!second)
        return std::nullopt;
    showProgress(QStringLiteral("subtract"));
    subtractSurface(*image, *second, image->size());
    return std::move(*image);
}

std::optional<QImage> brightenPasses(const QString &input, int passes, SampleDepth depth)
{
    showProgress(loading(1, 1));
    Outcome<QImage> image = readInput(QStringLiteral("image"), input, depth);
    if (!image)
        return std::nullopt;
    showProgress(QStringLiteral("brighten"));
    for (int pass = 0; pass < std::min(passes, passesToFixedPoint(depth)); ++pass)
        brightenSurface(*image, image->size());
    return std::move(*image);
}

// As other stacking tools do: the deepest input's, where the output can hold it.
SampleDepth depthOf(const Job &job)
{
    if (job.depth)
        return *job.depth;
    if (!job.format.holdsSixteenBits)
        return SampleDepth::Eight;
    const bool deep = std::ranges::any_of(job.inputs, [](const QString &path) { return storedDepth(path) == SampleDepth::Sixteen; });
    return deep ? SampleDepth::Sixteen : SampleDepth::Eight;
}

std::optional<QImage> compute(const Job &job, RunReport *runReport)
{
    const SampleDepth depth = depthOf(job);
    switch (job.command) {
    case Command::Stack: {
        StackOptions options = job.stack;
        options.depth = depth;
        return stackFrames(job.inputs, options, job.align, runReport);
    }
    case Command::Subtract:
        return subtractSecond(job.inputs, depth);
    case Command::Brighten:
        return brightenPasses(job.inputs.first(), job.passes, depth);
    }
    return std::nullopt;
}

// The result computed and written, or why not.
ExitStatus computeAndWrite(const Job &job, RunReport *runReport)
{
    const std::optional<QImage> result = compute(job, runReport);
    if (!result) {
        endProgress();
        return ExitStatus::Failure;
    }
    showProgress(QStringLiteral("saving"));
    muteLibraryMessages();
    EncodedEdit addCapture;
    if (job.format.tagged)
        addCapture = [first = CaptureSource{bytesOfName(job.inputs.first()), embeddedExif(job.inputs.first())}](
                         QByteArray &encoded) { return copyCaptureMetadata(first, encoded); };
    // A batch keeps an existing OUT intact on any failure, so never writes it in place.
    if (const Outcome<> written = writeImageFile(*result, job.output, job.format.writer(), InPlace::Refused, addCapture);
        !written) {
        report(QStringLiteral("cannot write %1: %2").arg(quotedName(job.output), written.reason()));
        return ExitStatus::Failure;
    }
    endProgress();
    return ExitStatus::Success;
}

} // namespace

ExitStatus runJob(const Job &given)
{
    enableProgress(!given.quiet);
    Job job = given;
    if (job.command == Command::Stack) {
        ListProblem problem;
        const std::optional<QStringList> frames = expandFrameLists(job.inputs, problem);
        if (!frames) {
            report(problem.message);
            return problem.kind == ListProblem::Kind::Malformed ? ExitStatus::UsageError : ExitStatus::Failure;
        }
        if (frames->size() < 2) {
            report(QStringLiteral("a stack needs two or more frames (see ombrelux-cli --help)"));
            return ExitStatus::UsageError;
        }
        job.inputs = *frames;
    }
    if (job.reportPath.isEmpty())
        return computeAndWrite(job, nullptr);
    const auto unwritable = [&job](const Outcome<> &tried) {
        report(QStringLiteral("cannot write report %1: %2").arg(quotedName(job.reportPath), tried.reason()));
        return ExitStatus::Failure;
    };
    if (const Outcome<> writable = reportWritable(job.reportPath); !writable)
        return unwritable(writable);
    QElapsedTimer clock;
    clock.start();
    RunReport runReport(job.inputs, job.align);
    const ExitStatus status = computeAndWrite(job, &runReport);
    runReport.finished(status == ExitStatus::Success ? QString() : lastReport(), double(clock.nsecsElapsed()) / 1e9);
    if (const Outcome<> written = writeReport(job.reportPath, runReport.json()); !written)
        return unwritable(written);
    return status;
}
