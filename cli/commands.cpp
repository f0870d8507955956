#include "cli/commands.h"

#include "cli/commandline.h"
#include "cli/console.h"
#include "engine/imageloader.h"
#include "engine/pointops.h"
#include "engine/stackrun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Every value from 2 up reaches 255 within this many passes, and 0 and 1 stay: more change nothing.
constexpr int PassesToFixedPoint = 13;

QString loading(qsizetype number, qsizetype count)
{
    return QStringLiteral("loading %1/%2").arg(number).arg(count);
}

std::optional<QImage> readInput(const QString &kind, const QString &path)
{
    QString reason;
    std::optional<QImage> picture = decodeImageFile(path, &reason);
    if (!picture)
        report(QStringLiteral("cannot read %1 %2: %3").arg(kind, path, reason));
    return picture;
}

// Unlike the window, a frame that does not load ends the run: it would change the result unseen.
std::optional<QImage> stackMedian(const QStringList &frames)
{
    showProgress(loading(1, frames.size()));
    // The first frame gives the stacked area, so it is decoded here and not read ahead.
    std::optional<QImage> first = readInput(QStringLiteral("frame"), frames.first());
    if (!first)
        return std::nullopt;
    const QSize area = first->size();
    QStringList ahead = frames;
    ahead.first().clear();
    StackRun run(area, ahead);
    if (const std::optional<QString> refusal = run.refusal()) {
        report(*refusal);
        return std::nullopt;
    }
    const auto cannotStack = [](const QString &reason) {
        report(QStringLiteral("cannot stack: ") + reason);
        return std::nullopt;
    };
    if (const std::optional<QString> failure = run.add(0, *std::exchange(first, std::nullopt)))
        return cannotStack(*failure);
    for (int i = 1; i < frames.size(); ++i) {
        showProgress(loading(i + 1, frames.size()));
        const LoadedPicture loaded = run.take(i, frames[i]);
        if (!loaded.picture) {
            report(QStringLiteral("cannot read frame %1: %2").arg(frames[i], loaded.failure));
            return std::nullopt;
        }
        if (const std::optional<QString> failure = run.add(i, *loaded.picture))
            return cannotStack(*failure);
    }
    run.endLoading();
    showProgress(QStringLiteral("median"));
    QImage medians(area, QImage::Format_RGB32);
    if (medians.isNull() && !area.isEmpty())
        return cannotStack(QString::fromLocal8Bit(std::strerror(ENOMEM)));
    if (const std::optional<QString> failure = run.finish(medians))
        return cannotStack(*failure);
    return medians;
}

std::optional<QImage> subtractSecond(const QStringList &inputs)
{
    showProgress(loading(1, 2));
    std::optional<QImage> image = readInput(QStringLiteral("image"), inputs[0]);
    if (!image)
        return std::nullopt;
    showProgress(loading(2, 2));
    const std::optional<QImage> second = readInput(QStringLiteral("image"), inputs[1]);
    if (!second)
        return std::nullopt;
    showProgress(QStringLiteral("subtract"));
    subtractSurface(*image, *second, image->size());
    return image;
}

std::optional<QImage> brightenPasses(const QString &input, int passes)
{
    showProgress(loading(1, 1));
    std::optional<QImage> image = readInput(QStringLiteral("image"), input);
    if (!image)
        return std::nullopt;
    showProgress(QStringLiteral("brighten"));
    for (int pass = 0; pass < std::min(passes, PassesToFixedPoint); ++pass)
        brightenSurface(*image, image->size());
    return image;
}

std::optional<QImage> compute(const Job &job)
{
    switch (job.command) {
    case Command::Median:
        return stackMedian(job.inputs);
    case Command::Subtract:
        return subtractSecond(job.inputs);
    case Command::Brighten:
        return brightenPasses(job.inputs.first(), job.passes);
    }
    return std::nullopt;
}

} // namespace

ExitStatus runJob(const Job &job)
{
    enableProgress(!job.quiet);
    const std::optional<QImage> result = compute(job);
    if (!result) {
        endProgress();
        return ExitStatus::Failure;
    }
    showProgress(QStringLiteral("saving"));
    // A batch keeps an existing OUT intact on any failure, so never writes it in place.
    if (const std::optional<QString> reason =
            writeImageFile(*result, job.output, job.format.writer(), InPlace::Refused)) {
        report(QStringLiteral("cannot write %1: %2").arg(job.output, *reason));
        return ExitStatus::Failure;
    }
    endProgress();
    return ExitStatus::Success;
}
