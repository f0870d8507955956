// PNG output of a 12 MP picture: Qt's writer at its defaults beside ours, wall time (ours runs
// on two threads), into a buffer that keeps its memory between iterations. "bytes" is the file
// size; CPU time is that of all threads for ours. The smooth picture stands for a photo, the noisy one for a frame shot at high ISO.
#include "bench/surfaces.h"
#include "engine/write/pngwriter.h"

#include <QBuffer>
#include <QImageWriter>

#include <functional>

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

enum Picture { Smooth, Noisy };

const QImage &picture(Picture which)
{
    static const QImage smooth = photoSurface(Width, Height, 1.5, 11);
    static const QImage noisy = photoSurface(Width, Height, 12, 12);
    return which == Smooth ? smooth : noisy;
}

void timeWriter(benchmark::State &state, const std::function<bool(const QImage &, QIODevice &)> &write)
{
    const QImage &image = picture(Picture(state.range(0)));
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    qint64 bytes = 0;
    for (auto _ : state) {
        buffer.seek(0);
        if (!write(image, buffer))
            state.SkipWithError("the writer failed");
        bytes = buffer.pos();
    }
    state.counters["bytes"] = double(bytes);
    state.counters["width"] = Width;
    state.counters["height"] = Height;
    reportMegapixels(state, double(Width) * Height);
}

void BM_PngQt(benchmark::State &state)
{
    timeWriter(state, [](const QImage &image, QIODevice &device) { return QImageWriter(&device, "png").write(image); });
}

void BM_PngOurs(benchmark::State &state)
{
    timeWriter(state, writePng);
}

} // namespace

BENCHMARK(BM_PngQt)->ArgName("noisy")->Arg(Smooth)->Arg(Noisy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngOurs)->ArgName("noisy")->Arg(Smooth)->Arg(Noisy)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
