#include "engine/stack/planerows.h"

#include "engine/core/workerpool.h"
#include "engine/stack/modetable.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

void splitRgb32(const QRgb *source, std::uint8_t *red, std::uint8_t *green, std::uint8_t *blue, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi32(0xff);
    const auto channel = [&](const __m128i (&words)[4], int shift) {
        __m128i lanes[4];
        for (int i = 0; i < 4; ++i)
            lanes[i] = _mm_and_si128(_mm_srli_epi32(words[i], shift), low);
        return _mm_packus_epi16(_mm_packs_epi32(lanes[0], lanes[1]), _mm_packs_epi32(lanes[2], lanes[3]));
    };
    for (; x + 16 <= width; x += 16) {
        __m128i words[4];
        for (int i = 0; i < 4; ++i)
            words[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + x + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(red + x), channel(words, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(green + x), channel(words, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(blue + x), channel(words, 0));
    }
#endif
    for (; x < width; ++x) {
        red[x] = static_cast<std::uint8_t>(qRed(source[x]));
        green[x] = static_cast<std::uint8_t>(qGreen(source[x]));
        blue[x] = static_cast<std::uint8_t>(qBlue(source[x]));
    }
}

// RGBX64 lies as four 16-bit samples a pixel, red first.
void splitRgbx64(const std::uint16_t *source, std::uint16_t *red, std::uint16_t *green, std::uint16_t *blue, int width)
{
    for (int x = 0; x < width; ++x) {
        red[x] = source[4 * x];
        green[x] = source[4 * x + 1];
        blue[x] = source[4 * x + 2];
    }
}

} // namespace

void splitRow(const QImage &picture, int y, std::uint8_t *red, std::uint8_t *green, std::uint8_t *blue, int width)
{
    if (picture.format() == QImage::Format_RGBX64) {
        splitRgbx64(reinterpret_cast<const std::uint16_t *>(picture.constScanLine(y)), reinterpret_cast<std::uint16_t *>(red),
                    reinterpret_cast<std::uint16_t *>(green), reinterpret_cast<std::uint16_t *>(blue), width);
        return;
    }
    splitRgb32(reinterpret_cast<const QRgb *>(picture.constScanLine(y)), red, green, blue, width);
}

namespace {

// A surface row's pixels as channel samples: RGB32 words at 8 bits, RGBX64 at 16.
void readPixel(const std::uint8_t *row, int x, std::uint8_t (&rgb)[3])
{
    const QRgb word = reinterpret_cast<const QRgb *>(row)[x];
    rgb[0] = std::uint8_t(qRed(word));
    rgb[1] = std::uint8_t(qGreen(word));
    rgb[2] = std::uint8_t(qBlue(word));
}

void readPixel(const std::uint8_t *row, int x, std::uint16_t (&rgb)[3])
{
    std::copy_n(reinterpret_cast<const std::uint16_t *>(row) + 4 * x, 3, rgb);
}

void composeRow(const std::uint8_t *red, const std::uint8_t *green, const std::uint8_t *blue, std::uint8_t *row,
                std::size_t count)
{
    auto *target = reinterpret_cast<QRgb *>(row);
    for (std::size_t x = 0; x < count; ++x)
        target[x] = qRgb(red[x], green[x], blue[x]);
}

void composeRow(const std::uint16_t *red, const std::uint16_t *green, const std::uint16_t *blue, std::uint8_t *row,
                std::size_t count)
{
    auto *target = reinterpret_cast<std::uint16_t *>(row);
    for (std::size_t x = 0; x < count; ++x) {
        target[4 * x] = red[x];
        target[4 * x + 1] = green[x];
        target[4 * x + 2] = blue[x];
        target[4 * x + 3] = 0xffff;
    }
}

template <typename Sample>
using KernelOf = void (*)(const Sample *, std::size_t, int, int, Sample *, std::size_t);

template <typename Sample>
KernelOf<Sample> kernelOf(const ModeEntry &entry)
{
    if constexpr (sizeof(Sample) == 1)
        return entry.kernel;
    else
        return entry.kernel16;
}

// The run's kernel, looked up once, with its parameter.
template <typename Sample>
struct RowKernel {
    KernelOf<Sample> kernel;
    int kappaHundredths;

    void operator()(const Sample *first, std::size_t imageStride, int n, Sample *out, std::size_t count) const
    {
        kernel(first, imageStride, n, kappaHundredths, out, count);
    }
};

// The planes typed by their samples.
template <typename Sample>
struct TypedPlanes {
    const Sample *channels[3];
    const PlaneRows &rows;
};

// A worker's rows: three channel rows of `width` stacked values, and with coverage the samples of
// a run that only some images cover, gathered image by image.
template <typename Sample>
struct WorkRows {
    Sample *channels[3];
    Sample *gathered;
    RunScratch runs;
};

// One channel's values over [begin, end) of a plane row from the covering images alone: where
// all cover, straight from the planes as without coverage.
template <typename Sample>
void stackCovered(const RowKernel<Sample> &stackRow, const Sample *row, const PlaneRows &planes,
                  const std::vector<int> &covering, Sample *gathered, Sample *out, int begin, int end)
{
    const auto length = std::size_t(end - begin);
    const auto k = int(covering.size());
    if (k == planes.imageCount) {
        stackRow(row + begin, planes.imageStride, k, out + begin, length);
        return;
    }
    if (k == 1) {
        std::copy_n(row + std::size_t(covering[0]) * planes.imageStride + std::size_t(begin), length, out + begin);
        return;
    }
    for (int i = 0; i < k; ++i)
        std::copy_n(row + std::size_t(covering[std::size_t(i)]) * planes.imageStride + std::size_t(begin), length,
                    gathered + std::size_t(i) * length);
    stackRow(gathered, length, k, out + begin, length);
}

template <typename Sample>
void stackCoveredRow(const RowKernel<Sample> &stackRow, const TypedPlanes<Sample> &planes, WorkRows<Sample> &work,
                     const std::uint8_t *target, std::size_t row, int y, int width)
{
    const PlaneRows &rows = planes.rows;
    rows.coverage->forEachRun(rows.firstRow + y, width, work.runs, [&](int begin, int end, const std::vector<int> &covering) {
        if (covering.empty()) {
            for (int x = begin; x < end; ++x) {
                Sample rgb[3];
                readPixel(target, x, rgb);
                for (int c = 0; c < 3; ++c)
                    work.channels[c][x] = rgb[c];
            }
            return;
        }
        for (int c = 0; c < 3; ++c)
            stackCovered(stackRow, planes.channels[c] + row, rows, covering, work.gathered, work.channels[c], begin, end);
    });
}

template <typename Sample>
void paintRows(const RowKernel<Sample> &stackRow, const TypedPlanes<Sample> &planes, WorkRows<Sample> &work,
               std::uint8_t *bits, qsizetype bytesPerLine, int width, int firstRow, int endRow)
{
    const PlaneRows &rows = planes.rows;
    const auto count = static_cast<std::size_t>(width);
    for (int y = firstRow; y < endRow; ++y) {
        const std::size_t row = std::size_t(y) * std::size_t(rows.rowLength);
        std::uint8_t *target = bits + y * bytesPerLine;
        if (rows.coverage) {
            stackCoveredRow(stackRow, planes, work, target, row, y, width);
        } else {
            for (int c = 0; c < 3; ++c)
                stackRow(planes.channels[c] + row, rows.imageStride, rows.imageCount, work.channels[c], count);
        }
        composeRow(work.channels[0], work.channels[1], work.channels[2], target, count);
    }
}

template <typename Sample>
bool paintStackRowsOf(const StackOptions &options, const PlaneRows &planes, std::uint8_t *bits, qsizetype bytesPerLine,
                      int width, int rows)
{
    WorkerPool &pool = WorkerPool::shared();
    const int bands = std::clamp(pool.threads(), 1, rows);
    const auto count = std::size_t(width);
    const std::size_t gathered = planes.coverage ? count * std::size_t(planes.imageCount) : 0;
    const std::size_t perBand = 3 * count + gathered;
    // Taken before any row is painted, so a refusal leaves the picture as it was.
    std::unique_ptr<Sample[]> buffers(new (std::nothrow) Sample[perBand * std::size_t(bands)]);
    std::vector<WorkRows<Sample>> work;
    try {
        work.resize(std::size_t(bands));
        for (int band = 0; band < bands; ++band) {
            Sample *red = buffers.get() + perBand * std::size_t(band);
            work[std::size_t(band)] = {{red, red + count, red + 2 * count}, red + 3 * count, {}};
            if (planes.coverage)
                planes.coverage->reserve(work[std::size_t(band)].runs);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!buffers)
        return false;
    const RowKernel<Sample> stackRow{kernelOf<Sample>(modeEntry(options.mode)), options.kappaHundredths};
    const TypedPlanes<Sample> typed{{reinterpret_cast<const Sample *>(planes.red), reinterpret_cast<const Sample *>(planes.green),
                                     reinterpret_cast<const Sample *>(planes.blue)},
                                    planes};
    const auto firstRowOf = [&](int band) { return int(qint64(rows) * band / bands); };
    pool.forEach(bands, [&](int band) {
        paintRows(stackRow, typed, work[std::size_t(band)], bits, bytesPerLine, width, firstRowOf(band), firstRowOf(band + 1));
    });
    return true;
}

} // namespace

bool paintStackRows(const StackOptions &options, const PlaneRows &planes, std::uint8_t *bits, qsizetype bytesPerLine,
                    int width, int rows)
{
    if (rows <= 0 || width <= 0)
        return true;
    if (options.depth == SampleDepth::Sixteen)
        return paintStackRowsOf<std::uint16_t>(options, planes, bits, bytesPerLine, width, rows);
    return paintStackRowsOf<std::uint8_t>(options, planes, bits, bytesPerLine, width, rows);
}
