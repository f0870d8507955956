// PNG output of a 12 MP picture: Qt's writer at its defaults beside ours, wall time (ours runs
// on two threads), into a buffer that keeps its memory between iterations. "bytes" is the file
// size; CPU time is that of all threads for ours. The smooth picture stands for a photo, the noisy one for a frame shot at high ISO.
// Beside them, on one thread, the rows filtered as ours are and compressed whole by zlib and by
// libdeflate (when built with it) at the level given: the question a reader asks is what a plain
// fast deflate costs for a file of the same size. Their "bytes" count the PNG's chunk framing.
#include "bench/surfaces.h"
#include "engine/write/pngfilter.h"
#include "engine/write/pngwriter.h"
#include "engine/write/rowpacking.h"

#include <QBuffer>
#include <QImageWriter>

#include <zlib.h>
#if OMBRELUX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <array>
#include <functional>
#include <vector>

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

enum Picture { Smooth, Noisy };

// At 16 bits a sample when `deep`: the same picture, for the 16-bit PNG beside the 8-bit one.
const QImage &picture(Picture which, bool deep = false)
{
    static std::array<QImage, 4> made;
    QImage &image = made[std::size_t(which + 2 * deep)];
    if (image.isNull())
        image = which == Smooth ? photoSurface(Width, Height, 1.5, 11, deep) : photoSurface(Width, Height, 12, 12, deep);
    return image;
}

void timeWriter(benchmark::State &state, const std::function<bool(const QImage &, QIODevice &)> &write,
                bool deep = false)
{
    const QImage &image = picture(Picture(state.range(0)), deep);
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

// Twice the bytes to filter and compress, and the low byte of each sample noise.
void BM_PngOurs16(benchmark::State &state)
{
    timeWriter(state, writePng, true);
}

// Signature, IHDR, IDAT's framing and IEND around the compressed rows.
constexpr std::size_t PngFraming = 8 + 25 + 12 + 12;

std::vector<std::uint8_t> filteredRows(const QImage &image)
{
    const std::size_t bytes = std::size_t(image.width()) * 3;
    std::vector<std::uint8_t> rows((bytes + 1) * std::size_t(image.height()));
    std::vector<std::uint8_t> above(bytes, 0), row(bytes);
    for (int y = 0; y < image.height(); ++y) {
        packRgbRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)), std::size_t(image.width()), row.data());
        filterPngRow(row.data(), above.data(), bytes, 3, rows.data() + std::size_t(y) * (bytes + 1));
        above.swap(row);
    }
    return rows;
}

// Filtering, compressing and the IDAT's CRC, as a writer must do them for each file.
void timeDeflate(benchmark::State &state, const std::function<std::size_t(const std::vector<std::uint8_t> &,
                                                                          std::vector<std::uint8_t> &)> &compress)
{
    const QImage &image = picture(Picture(state.range(0)));
    std::vector<std::uint8_t> out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<std::uint8_t> rows = filteredRows(image);
        bytes = compress(rows, out);
        if (bytes == 0)
            state.SkipWithError("deflate failed");
        benchmark::DoNotOptimize(crc32_z(0, out.data(), bytes));
    }
    state.counters["bytes"] = double(bytes + PngFraming);
    state.counters["level"] = double(state.range(1));
    reportMegapixels(state, double(Width) * Height);
}

void BM_PngZlib(benchmark::State &state)
{
    const int level = int(state.range(1));
    timeDeflate(state, [level](const std::vector<std::uint8_t> &rows, std::vector<std::uint8_t> &out) {
        uLongf size = compressBound(uLong(rows.size()));
        out.resize(size);
        return compress2(out.data(), &size, rows.data(), uLong(rows.size()), level) == Z_OK ? std::size_t(size) : 0;
    });
}

#if OMBRELUX_HAVE_LIBDEFLATE
void BM_PngLibdeflate(benchmark::State &state)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(int(state.range(1)));
    timeDeflate(state, [compressor](const std::vector<std::uint8_t> &rows, std::vector<std::uint8_t> &out) {
        out.resize(libdeflate_zlib_compress_bound(compressor, rows.size()));
        return libdeflate_zlib_compress(compressor, rows.data(), rows.size(), out.data(), out.size());
    });
    libdeflate_free_compressor(compressor);
}
#endif

} // namespace

BENCHMARK(BM_PngQt)->ArgName("noisy")->Arg(Smooth)->Arg(Noisy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngOurs)->ArgName("noisy")->Arg(Smooth)->Arg(Noisy)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngOurs16)->ArgName("noisy")->Arg(Smooth)->Arg(Noisy)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngZlib)->ArgNames({"noisy", "level"})->ArgsProduct({{Smooth, Noisy}, {1, 9}})->UseRealTime()->Unit(benchmark::kMillisecond);
#if OMBRELUX_HAVE_LIBDEFLATE
BENCHMARK(BM_PngLibdeflate)->ArgNames({"noisy", "level"})->ArgsProduct({{Smooth, Noisy}, {1, 12}})->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
