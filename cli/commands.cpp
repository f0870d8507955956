#include "cli/commands.h"

#include "cli/clihost.h"
#include "cli/commandline.h"
#include "cli/console.h"
#include "imaging/imageloader.h"
#include "ops/brighten.h"
#include "ops/median.h"
#include "ops/subtract.h"

#include <algorithm>

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

std::optional<QImage> stackMedian(const QStringList &frames)
{
    showProgress(loading(1, frames.size()));
    std::optional<QImage> first = readInput(QStringLiteral("frame"), frames.first());
    if (!first)
        return std::nullopt;
    CliHost host(frames, std::move(*first));
    runMedian(host);
    if (const std::optional<int> failed = host.failedFrame()) {
        // Decoded again only for the reason; should it load this time, it still failed once.
        QString reason = QStringLiteral("not a picture or damaged");
        decodeImageFile(frames[*failed], &reason);
        report(QStringLiteral("cannot read frame %1: %2").arg(frames[*failed], reason));
        return std::nullopt;
    }
    if (!host.refusal().isEmpty()) {
        report(host.refusal());
        return std::nullopt;
    }
    return std::move(host.canvas());
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
