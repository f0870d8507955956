// The median phase alone, on one channel of a burst of n frames: the fast kernel beside a
// streaming read of the same planes (the memory floor) and beside the exchange sort it
// replaces. "MP/s" counts output pixels, so all rows for one n compare directly.
// Single-threaded. Samples are uniform random bytes or 16-bit values, which leaves the exchange
// sort's branches unpredictable. Run a Release build.

#include "engine/stack/mediankernel.h"
#include "engine/stack/mediankernel_paths.h"
#include "reference/exchangesortmedian.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kWidth = 4000; // 12 megapixels
constexpr std::size_t kHeight = 3000;
constexpr std::size_t kReferenceWidth = 1000; // 1 megapixel: the exchange sort is slow
constexpr std::size_t kReferenceHeight = 1000;

template <class T>
std::vector<T> &heldSamples()
{
    static std::vector<T> samples;
    return samples;
}

struct HeldStack {
    int n = 0;
    std::size_t pixels = 0;
    std::size_t sampleSize = 0;
};

// n planes of width x height samples, one after another. Only the latest stack is kept, at
// either depth: 50 frames of 12 megapixels are already 600 MB.
template <class T>
const T *stackOf(int n, std::size_t pixels)
{
    static HeldStack held;
    std::vector<T> &buffer = heldSamples<T>();
    if (n != held.n || pixels != held.pixels || sizeof(T) != held.sampleSize) {
        heldSamples<std::uint8_t>() = {};
        heldSamples<std::uint16_t>() = {};
        buffer.assign(static_cast<std::size_t>(n) * pixels, 0);
        std::uint64_t state = 0x9e3779b97f4a7c15u ^ static_cast<std::uint64_t>(n);
        for (auto &sample : buffer) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            sample = static_cast<T>(state >> 24);
        }
        held = {n, pixels, sizeof(T)};
    }
    return buffer.data();
}

void reportPixels(benchmark::State &state, std::size_t pixels, int n, std::size_t sampleSize = 1)
{
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels * sampleSize) * n);
}

template <class T>
using RowFn = void (*)(const T *, std::size_t, int, T *, std::size_t);

template <class T>
void medianPhase(benchmark::State &state, RowFn<T> row, int n, std::size_t width, std::size_t height)
{
    const std::size_t pixels = width * height;
    const T *planes = stackOf<T>(n, pixels);
    std::vector<T> out(pixels);
    for (auto _ : state) {
        for (std::size_t y = 0; y < height; ++y)
            row(planes + y * width, pixels, n, out.data() + y * width, width);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    reportPixels(state, pixels, n, sizeof(T));
}

// Touches every sample byte once, in address order.
void streamingRead(benchmark::State &state, int n)
{
    const std::size_t pixels = kWidth * kHeight;
    const std::size_t bytes = static_cast<std::size_t>(n) * pixels;
    const std::uint8_t *planes = stackOf<std::uint8_t>(n, pixels);
    for (auto _ : state) {
        std::uint64_t sum = 0;
#if defined(__x86_64__)
        // Four independent sums, so that the adds never limit the read.
        __m128i total[4] = {};
        std::size_t i = 0;
        for (; i + 64 <= bytes; i += 64)
            for (int k = 0; k < 4; ++k) {
                const __m128i v =
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(planes + i + 16 * k));
                total[k] = _mm_add_epi64(total[k], _mm_sad_epu8(v, _mm_setzero_si128()));
            }
        for (const __m128i &t : total)
            sum += static_cast<std::uint64_t>(_mm_cvtsi128_si64(t)) +
                   static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(t, t)));
        for (; i < bytes; ++i)
            sum += planes[i];
#else
        for (std::size_t i = 0; i < bytes; ++i)
            sum += planes[i];
#endif
        benchmark::DoNotOptimize(sum);
    }
    reportPixels(state, pixels, n);
}

// Rows for one n sit together, so the stack is filled once per n.
const bool registered = [] {
    for (int n : {3, 5, 10, 20, 50}) {
        const std::string suffix = "/n:" + std::to_string(n);
        benchmark::RegisterBenchmark(("median_12MP" + suffix).c_str(), medianPhase<std::uint8_t>,
                                     RowFn<std::uint8_t>{medianRow}, n, kWidth, kHeight)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("median_vec16_12MP" + suffix).c_str(),
                                     medianPhase<std::uint8_t>, medianRowVec16, n, kWidth, kHeight)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("streaming_read_12MP" + suffix).c_str(), streamingRead, n)
            ->Unit(benchmark::kMillisecond);
        if (n != 10 && n != 20)
            continue;
        // 16 bits a sample: half the pixels per vector, so about half the 8-bit figure.
        benchmark::RegisterBenchmark(("median16_12MP" + suffix).c_str(),
                                     medianPhase<std::uint16_t>, RowFn<std::uint16_t>{medianRow}, n, kWidth, kHeight)
            ->Unit(benchmark::kMillisecond);
#if defined(__x86_64__)
        if (sse41Supported())
            benchmark::RegisterBenchmark(("median16_sse41_12MP" + suffix).c_str(),
                                         medianPhase<std::uint16_t>, medianRowSse41, n, kWidth,
                                         kHeight)
                ->Unit(benchmark::kMillisecond);
#endif
    }
    for (int n : {3, 5, 10, 20})
        benchmark::RegisterBenchmark(("exchange_sort_1MP/n:" + std::to_string(n)).c_str(),
                                     medianPhase<std::uint8_t>, RowFn<std::uint8_t>{referenceMedianRow}, n,
                                     kReferenceWidth, kReferenceHeight)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
