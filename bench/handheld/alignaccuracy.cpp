// Measures the engine's alignment on a makeburst-handheld folder, every frame against frame 0.
//   alignaccuracy DIR [--warp]
// per frame and as RMS over frames 1..N-1, the corner error: how far apart the four corners of
// the area land under the estimated and the true homography, in frame pixels. --warp also warps
// each frame and prints the warp's time and its PSNR against clean.png over the covered pixels
// (passers-by included, so compare runs, not absolute values).
//   alignaccuracy DIR --truth-median OUT
// writes the median of the frames warped with their true transforms, the best an aligned median
// can do.
//   alignaccuracy DIR --residual [ALIGNED...]
// for pictures already in the reference's grid (ALIGNED, one per frame, such as another aligner's
// output; without them the engine's own warped frames) the corner error of what is left: each is
// aligned by the engine to its frame warped with the true transform, both cut to the largest
// rectangle inside the area every frame covers, and the residual's corners are taken on the
// whole area. It measures any aligner the same way, an engine's fit included.
#include "burst.h"

#include "engine/decode/imageloader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace {

std::optional<QImage> decoded(const QString &path)
{
    Outcome<QImage> image = decodeImageFile(path);
    if (!image) {
        std::fprintf(stderr, "alignaccuracy: %s: %s\n", qPrintable(path), qPrintable(image.reason()));
        return std::nullopt;
    }
    return std::move(*image);
}

void printRms(std::size_t frames, double squares, int measured)
{
    if (measured)
        std::printf("RMS corner error over frames 1-%zu: %.3f px", frames - 1, std::sqrt(squares / measured));
}

int reportAccuracy(const std::vector<Truth> &truths, const QImage &reference, const QImage *clean)
{
    // The reference's own features are found by the first align(): frame 0's row includes them.
    const AlignmentReference aligner(reference);
    QElapsedTimer timer;
    std::printf("%-14s %10s %10s%s\n", "frame", "align ms", "corner px", clean ? "   warp ms  PSNR dB" : "");
    double squares = 0, alignMs = 0, warpMs = 0;
    int measured = 0, failed = 0;
    for (std::size_t i = 0; i < truths.size(); ++i) {
        const std::optional<QImage> frame = decoded(truths[i].file);
        if (!frame)
            return 1;
        timer.restart();
        const Outcome<FrameAlignment> fit = aligner.align(*frame);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        const QString name = QFileInfo(truths[i].file).fileName();
        if (!fit) {
            std::printf("%-14s %10.1f  not aligned: %s\n", qPrintable(name), ms, qPrintable(fit.reason()));
            ++failed;
            continue;
        }
        const double square = cornerSquareError(fit->toFrame, truths[i].toFrame, aligner.area());
        std::printf("%-14s %10.1f %10.3f", qPrintable(name), ms, std::sqrt(square));
        if (i > 0) {
            squares += square;
            alignMs += ms;
            ++measured;
        }
        if (clean) {
            timer.restart();
            const std::optional<WarpedFrame> warped = warpFrame(*frame, fit->toFrame, aligner.area());
            const double wms = double(timer.nsecsElapsed()) / 1e6;
            if (i > 0)
                warpMs += wms;
            if (warped)
                std::printf(" %10.1f %8.2f", wms, psnr(warped->picture, *clean, &warped->coverage).value_or(0));
            else
                std::printf(" %10s", "no memory");
        }
        std::printf("\n");
    }
    if (measured) {
        printRms(truths.size(), squares, measured);
        std::printf("; align %.1f ms per frame", alignMs / measured);
        if (clean)
            std::printf(", warp %.1f ms per frame", warpMs / measured);
        std::printf("\n");
    }
    return failed ? 1 : 0;
}

std::optional<WarpedFrame> warped(const QImage &frame, const Homography &toFrame, QSize area)
{
    std::optional<WarpedFrame> warped = warpFrame(frame, toFrame, area);
    if (!warped)
        std::fputs("alignaccuracy: no memory to warp a frame\n", stderr);
    return warped;
}

int writeTruthMedian(const std::vector<Truth> &truths, QSize area, const QString &out)
{
    std::vector<WarpedFrame> frames;
    for (const Truth &truth : truths) {
        const std::optional<QImage> frame = decoded(truth.file);
        std::optional<WarpedFrame> truthWarped = frame ? warped(*frame, truth.toFrame, area) : std::nullopt;
        if (!truthWarped)
            return 1;
        frames.push_back(std::move(*truthWarped));
    }
    if (!medianOfWarped(frames, area).save(out)) {
        std::fprintf(stderr, "alignaccuracy: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}

int reportResidual(const std::vector<Truth> &truths, const QImage &reference, const QStringList &alignedFiles)
{
    const QSize area = reference.size();
    if (!alignedFiles.isEmpty() && std::size_t(alignedFiles.size()) != truths.size()) {
        std::fprintf(stderr, "alignaccuracy: %lld aligned pictures for %zu frames\n", qlonglong(alignedFiles.size()),
                     truths.size());
        return 2;
    }
    // A few pixels in from the interior's edge: another aligner's masks may fray there.
    const QRect crop = largestRectangleIn(interiorOf(truths, area, area)).adjusted(4, 4, -4, -4);
    std::printf("measured on %dx%d at (%d, %d)\n%-14s %12s\n", crop.width(), crop.height(), crop.x(), crop.y(),
                "frame", "residual px");
    std::optional<AlignmentReference> ours;
    if (alignedFiles.isEmpty())
        ours.emplace(reference);
    double squares = 0;
    int measured = 0, failed = 0;
    for (std::size_t i = 0; i < truths.size(); ++i) {
        const std::optional<QImage> frame = decoded(truths[i].file);
        const std::optional<WarpedFrame> truth = frame ? warped(*frame, truths[i].toFrame, area) : std::nullopt;
        if (!truth)
            return 1;
        QString reason;
        std::optional<QImage> aligned;
        if (ours) {
            const Outcome<FrameAlignment> fit = ours->align(*frame);
            if (!fit)
                reason = fit.reason();
            const std::optional<WarpedFrame> oursWarped = fit ? warped(*frame, fit->toFrame, area) : std::nullopt;
            if (oursWarped)
                aligned = oursWarped->picture;
        } else if (!(aligned = decoded(alignedFiles[int(i)]))) {
            return 1;
        } else if (aligned->size() != area) {
            std::fprintf(stderr, "alignaccuracy: %s is not %dx%d\n", qPrintable(alignedFiles[int(i)]), area.width(),
                         area.height());
            return 1;
        }
        const Outcome<FrameAlignment> residual = aligned ? AlignmentReference(truth->picture.copy(crop)).align(aligned->copy(crop))
                                                         : Outcome<FrameAlignment>(Failure{reason});
        const QString name = QFileInfo(alignedFiles.isEmpty() ? truths[i].file : alignedFiles[int(i)]).fileName();
        if (!residual) {
            std::printf("%-14s  not aligned: %s\n", qPrintable(name), qPrintable(residual.reason()));
            ++failed;
            continue;
        }
        const double square = cornerSquareError(residual->toFrame, Homography{}, area, -QPointF(crop.topLeft()));
        std::printf("%-14s %12.3f\n", qPrintable(name), std::sqrt(square));
        if (i > 0) {
            squares += square;
            ++measured;
        }
    }
    printRms(truths.size(), squares, measured);
    std::printf("%s", measured ? " (residual)\n" : "");
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString mode = arguments.value(2);
    const bool usable = (arguments.size() == 2) || (arguments.size() == 3 && mode == "--warp")
        || (arguments.size() == 4 && mode == "--truth-median") || (arguments.size() >= 3 && mode == "--residual");
    if (!usable) {
        std::fputs("usage: alignaccuracy DIR [--warp | --truth-median OUT | --residual [ALIGNED...]]\n", stderr);
        return 2;
    }
    const QDir dir(arguments[1]);
    const std::vector<Truth> truths = readTruths(dir);
    if (truths.empty()) {
        std::fprintf(stderr, "alignaccuracy: no frames in %s/transforms.txt\n", qPrintable(dir.path()));
        return 1;
    }
    const std::optional<QImage> reference = decoded(truths[0].file);
    if (!reference)
        return 1;
    if (mode == "--truth-median")
        return writeTruthMedian(truths, reference->size(), arguments[3]);
    if (mode == "--residual")
        return reportResidual(truths, *reference, arguments.mid(3));
    std::optional<QImage> clean;
    if (mode == "--warp" && !(clean = decoded(dir.filePath("clean.png"))))
        return 1;
    return reportAccuracy(truths, *reference, clean ? &*clean : nullptr);
}
