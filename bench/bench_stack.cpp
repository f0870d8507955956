// The loader on a burst of JPEG frames. A whole median run is timed in fresh processes by
// bench/wholerun.sh: repeated runs in one process keep the planes' pages warm.
#include "bench/surfaces.h"
#include "engine/decode/imageloader.h"

#include <QDir>
#include <QTemporaryDir>

#include <random>

namespace {

constexpr int Frames = 10;
constexpr int Megapixels = 12;

// A burst of JPEG frames of one smooth scene with independent noise, written once.
const QStringList &burst()
{
    static QTemporaryDir dir;
    static QStringList paths;
    if (!paths.isEmpty())
        return paths;
    const QImage scene = benchSurface(Megapixels, 1).scaled(400, 300).scaled(4000, 3000, Qt::IgnoreAspectRatio,
                                                                              Qt::SmoothTransformation);
    std::mt19937 random(7);
    for (int i = 0; i < Frames; ++i) {
        QImage frame = scene.copy();
        for (int y = 0; y < frame.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); x += 3)
                row[x] ^= random() & 0x070707u;
        }
        const QString path = QDir(dir.path()).filePath(QStringLiteral("frame%1.jpg").arg(i));
        frame.save(path, "jpg", 90);
        paths << path;
    }
    return paths;
}

void BM_DecodeOnly(benchmark::State &state)
{
    const QStringList &paths = burst();
    for (auto _ : state)
        for (const QString &path : paths)
            benchmark::DoNotOptimize(decodeImageFile(path));
    reportMegapixels(state, Frames * Megapixels * 1e6);
}

} // namespace

BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
