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

void splitRow(const QRgb *source, std::uint8_t *red, std::uint8_t *green, std::uint8_t *blue, int width)
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

namespace {

// The run's kernel, looked up once, with its parameter.
struct RowKernel {
    PlaneKernel kernel;
    int kappaHundredths;

    void operator()(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out, std::size_t count) const
    {
        kernel(first, imageStride, n, kappaHundredths, out, count);
    }
};

// A worker's rows: three channel rows of `width` stacked values, and with coverage the samples of
// a run that only some images cover, gathered image by image.
struct WorkRows {
    std::uint8_t *red;
    std::uint8_t *green;
    std::uint8_t *blue;
    std::uint8_t *gathered;
    RunScratch runs;
};

// One channel's values over [begin, end) of a plane row from the covering images alone: where
// all cover, straight from the planes as without coverage.
void stackCovered(const RowKernel &stackRow, const std::uint8_t *row, const PlaneRows &planes, const std::vector<int> &covering,
                  std::uint8_t *gathered, std::uint8_t *out, int begin, int end)
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

void stackCoveredRow(const RowKernel &stackRow, const PlaneRows &planes, WorkRows &work, const QRgb *target,
                     std::size_t row, int y, int width)
{
    planes.coverage->forEachRun(planes.firstRow + y, width, work.runs, [&](int begin, int end, const std::vector<int> &covering) {
        if (covering.empty()) {
            for (int x = begin; x < end; ++x) {
                work.red[x] = std::uint8_t(qRed(target[x]));
                work.green[x] = std::uint8_t(qGreen(target[x]));
                work.blue[x] = std::uint8_t(qBlue(target[x]));
            }
            return;
        }
        stackCovered(stackRow, planes.red + row, planes, covering, work.gathered, work.red, begin, end);
        stackCovered(stackRow, planes.green + row, planes, covering, work.gathered, work.green, begin, end);
        stackCovered(stackRow, planes.blue + row, planes, covering, work.gathered, work.blue, begin, end);
    });
}

void paintRows(const RowKernel &stackRow, const PlaneRows &planes, WorkRows &work, std::uint8_t *bits, qsizetype bytesPerLine,
               int width, int firstRow, int endRow)
{
    const auto count = static_cast<std::size_t>(width);
    for (int y = firstRow; y < endRow; ++y) {
        const std::size_t row = std::size_t(y) * std::size_t(planes.rowLength);
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        if (planes.coverage) {
            stackCoveredRow(stackRow, planes, work, target, row, y, width);
        } else {
            stackRow(planes.red + row, planes.imageStride, planes.imageCount, work.red, count);
            stackRow(planes.green + row, planes.imageStride, planes.imageCount, work.green, count);
            stackRow(planes.blue + row, planes.imageStride, planes.imageCount, work.blue, count);
        }
        for (std::size_t x = 0; x < count; ++x)
            target[x] = qRgb(work.red[x], work.green[x], work.blue[x]);
    }
}

} // namespace

bool paintStackRows(const StackOptions &options, const PlaneRows &planes, std::uint8_t *bits, qsizetype bytesPerLine,
                    int width, int rows)
{
    if (rows <= 0 || width <= 0)
        return true;
    WorkerPool &pool = WorkerPool::shared();
    const int bands = std::clamp(pool.threads(), 1, rows);
    const auto count = std::size_t(width);
    const std::size_t gathered = planes.coverage ? count * std::size_t(planes.imageCount) : 0;
    const std::size_t perBand = 3 * count + gathered;
    // Taken before any row is painted, so a refusal leaves the picture as it was.
    std::unique_ptr<std::uint8_t[]> buffers(new (std::nothrow) std::uint8_t[perBand * std::size_t(bands)]);
    std::vector<WorkRows> work;
    try {
        work.resize(std::size_t(bands));
        for (int band = 0; band < bands; ++band) {
            std::uint8_t *red = buffers.get() + perBand * std::size_t(band);
            work[std::size_t(band)] = {red, red + count, red + 2 * count, red + 3 * count, {}};
            if (planes.coverage)
                planes.coverage->reserve(work[std::size_t(band)].runs);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!buffers)
        return false;
    const RowKernel stackRow{modeEntry(options.mode).kernel, options.kappaHundredths};
    const auto firstRowOf = [&](int band) { return int(qint64(rows) * band / bands); };
    pool.forEach(bands, [&](int band) {
        paintRows(stackRow, planes, work[std::size_t(band)], bits, bytesPerLine, width, firstRowOf(band), firstRowOf(band + 1));
    });
    return true;
}
