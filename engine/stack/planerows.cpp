#include "engine/stack/planerows.h"


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <memory>
#include <new>
#include <exception>
#include <thread>
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
void stackCovered(const StackOptions &options, const std::uint8_t *row, const PlaneRows &planes, const std::vector<int> &covering,
                  std::uint8_t *gathered, std::uint8_t *out, int begin, int end)
{
    const auto length = std::size_t(end - begin);
    const auto k = int(covering.size());
    if (k == planes.imageCount) {
        stackRow(options, row + begin, planes.imageStride, k, out + begin, length);
        return;
    }
    if (k == 1) {
        std::copy_n(row + std::size_t(covering[0]) * planes.imageStride + std::size_t(begin), length, out + begin);
        return;
    }
    for (int i = 0; i < k; ++i)
        std::copy_n(row + std::size_t(covering[std::size_t(i)]) * planes.imageStride + std::size_t(begin), length,
                    gathered + std::size_t(i) * length);
    stackRow(options, gathered, length, k, out + begin, length);
}

void stackCoveredRow(const StackOptions &options, const PlaneRows &planes, WorkRows &work, const QRgb *target,
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
        stackCovered(options, planes.red + row, planes, covering, work.gathered, work.red, begin, end);
        stackCovered(options, planes.green + row, planes, covering, work.gathered, work.green, begin, end);
        stackCovered(options, planes.blue + row, planes, covering, work.gathered, work.blue, begin, end);
    });
}

void paintRows(const StackOptions &options, const PlaneRows &planes, WorkRows &work, std::uint8_t *bits, qsizetype bytesPerLine,
               int width, int firstRow, int endRow)
{
    const auto count = static_cast<std::size_t>(width);
    for (int y = firstRow; y < endRow; ++y) {
        const std::size_t row = std::size_t(y) * std::size_t(planes.rowLength);
        auto *target = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        if (planes.coverage) {
            stackCoveredRow(options, planes, work, target, row, y, width);
        } else {
            stackRow(options, planes.red + row, planes.imageStride, planes.imageCount, work.red, count);
            stackRow(options, planes.green + row, planes.imageStride, planes.imageCount, work.green, count);
            stackRow(options, planes.blue + row, planes.imageStride, planes.imageCount, work.blue, count);
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
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, rows);
    const auto count = std::size_t(width);
    const std::size_t gathered = planes.coverage ? count * std::size_t(planes.imageCount) : 0;
    const std::size_t perWorker = 3 * count + gathered;
    // Taken before any row is painted, so a refusal leaves the picture as it was.
    std::unique_ptr<std::uint8_t[]> buffers(new (std::nothrow) std::uint8_t[perWorker * std::size_t(workers)]);
    std::vector<WorkRows> work;
    try {
        work.resize(std::size_t(workers));
        for (int worker = 0; worker < workers; ++worker) {
            std::uint8_t *red = buffers.get() + perWorker * std::size_t(worker);
            work[std::size_t(worker)] = {red, red + count, red + 2 * count, red + 3 * count, {}};
            if (planes.coverage)
                planes.coverage->reserve(work[std::size_t(worker)].runs);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!buffers)
        return false;
    const auto firstRowOf = [&](int worker) { return int(qint64(rows) * worker / workers); };
    // Workers take the lower bands; whatever no thread could be started for stays here.
    std::vector<std::jthread> threads;
    int ownEnd = rows;
    for (int worker = workers - 1; worker >= 1; --worker) {
        const int first = firstRowOf(worker);
        const int end = ownEnd;
        WorkRows &rowsOfWorker = work[std::size_t(worker)];
        try {
            threads.emplace_back([=, &options, &planes, &rowsOfWorker] {
                paintRows(options, planes, rowsOfWorker, bits, bytesPerLine, width, first, end);
            });
        } catch (const std::exception &) { // no thread, or no room to hold one
            break;
        }
        ownEnd = first;
    }
    paintRows(options, planes, work[0], bits, bytesPerLine, width, 0, ownEnd);
    return true;
}
