// Aligns every frame of a makeburst-handheld folder to its frame 0 with the engine and prints,
// per frame and as RMS over frames 1..N-1, the corner error: how far apart the four corners of
// the area land under the estimated and the true homography, in frame pixels. With --warp it
// also warps each frame and prints the warp's time and its PSNR against clean.png over the
// covered pixels (passers-by included, so compare runs, not absolute values).
#include "engine/alignment.h"
#include "engine/imageloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Truth {
    QString file;
    Homography toFrame;
};

std::vector<Truth> readTruths(const QDir &dir)
{
    std::vector<Truth> truths;
    QFile file(dir.filePath("transforms.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return truths;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(' ', Qt::SkipEmptyParts);
        if (fields.size() != 10 || fields[0].startsWith('#'))
            continue;
        Truth truth{dir.filePath(fields[0]), {}};
        for (std::size_t i = 0; i < 9; ++i)
            truth.toFrame.m[i] = fields[static_cast<int>(i) + 1].toDouble();
        truths.push_back(truth);
    }
    return truths;
}

QPointF mapped(const Homography &h, double x, double y)
{
    const auto &m = h.m;
    const double w = m[6] * x + m[7] * y + m[8];
    return {(m[0] * x + m[1] * y + m[2]) / w, (m[3] * x + m[4] * y + m[5]) / w};
}

// Mean square over the area's four corners.
double cornerSquareError(const Homography &estimated, const Homography &truth, QSize area)
{
    const double w = area.width() - 1, h = area.height() - 1;
    double sum = 0;
    for (const QPointF corner : {QPointF(0, 0), QPointF(w, 0), QPointF(w, h), QPointF(0, h)}) {
        const QPointF d = mapped(estimated, corner.x(), corner.y()) - mapped(truth, corner.x(), corner.y());
        sum += QPointF::dotProduct(d, d);
    }
    return sum / 4;
}

double coveredPsnr(const WarpedFrame &warped, const QImage &clean)
{
    double sum = 0;
    qint64 samples = 0;
    for (int y = 0; y < clean.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(warped.picture.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(clean.constScanLine(y));
        const RowSpan span = warped.coverage[static_cast<std::size_t>(y)];
        for (int x = span.begin; x < span.end; ++x)
            for (const int shift : {0, 8, 16}) {
                const double d = int((a[x] >> shift) & 0xff) - int((b[x] >> shift) & 0xff);
                sum += d * d;
                ++samples;
            }
    }
    return samples ? 10 * std::log10(255.0 * 255.0 * double(samples) / std::max(sum, 1e-9)) : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool warp = arguments.contains("--warp");
    if (arguments.size() != (warp ? 3 : 2)) {
        std::fputs("usage: alignaccuracy DIR [--warp]\n", stderr);
        return 2;
    }
    const QDir dir(arguments[1]);
    const std::vector<Truth> truths = readTruths(dir);
    QString reason;
    const std::optional<QImage> reference = truths.empty() ? std::nullopt : decodeImageFile(truths[0].file, &reason);
    if (!reference) {
        std::fprintf(stderr, "alignaccuracy: no frame 0 in %s/transforms.txt %s\n", qPrintable(dir.path()),
                     qPrintable(reason));
        return 1;
    }
    std::optional<QImage> clean;
    if (warp && !(clean = decodeImageFile(dir.filePath("clean.png"), &reason))) {
        std::fprintf(stderr, "alignaccuracy: clean.png: %s\n", qPrintable(reason));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const AlignmentReference aligner(*reference);
    std::printf("reference features: %lld ms\n", timer.elapsed());
    std::printf("%-14s %10s %10s%s\n", "frame", "align ms", "corner px", warp ? "   warp ms  PSNR dB" : "");
    double squares = 0, alignMs = 0, warpMs = 0;
    int measured = 0, failed = 0;
    for (std::size_t i = 0; i < truths.size(); ++i) {
        const std::optional<QImage> frame = decodeImageFile(truths[i].file, &reason);
        if (!frame) {
            std::fprintf(stderr, "alignaccuracy: %s: %s\n", qPrintable(truths[i].file), qPrintable(reason));
            return 1;
        }
        timer.restart();
        const std::optional<Homography> fit = aligner.align(*frame, &reason);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        const QString name = QFileInfo(truths[i].file).fileName();
        if (!fit) {
            std::printf("%-14s %10.1f  not aligned: %s\n", qPrintable(name), ms, qPrintable(reason));
            ++failed;
            continue;
        }
        const double square = cornerSquareError(*fit, truths[i].toFrame, aligner.area());
        std::printf("%-14s %10.1f %10.3f", qPrintable(name), ms, std::sqrt(square));
        if (i > 0) {
            squares += square;
            alignMs += ms;
            ++measured;
        }
        if (warp) {
            timer.restart();
            const std::optional<WarpedFrame> warped = warpFrame(*frame, *fit, aligner.area());
            const double wms = double(timer.nsecsElapsed()) / 1e6;
            if (i > 0)
                warpMs += wms;
            if (warped)
                std::printf(" %10.1f %8.2f", wms, coveredPsnr(*warped, *clean));
            else
                std::printf(" %10s", "no memory");
        }
        std::printf("\n");
    }
    if (measured) {
        std::printf("RMS corner error over frames 1-%zu: %.3f px; align %.1f ms per frame", truths.size() - 1,
                    std::sqrt(squares / measured), alignMs / measured);
        if (warp)
            std::printf(", warp %.1f ms per frame", warpMs / measured);
        std::printf("\n");
    }
    return failed ? 1 : 0;
}
