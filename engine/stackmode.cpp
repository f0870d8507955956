#include "engine/stackmode.h"

#include "engine/mediankernel.h"

#include <algorithm>

namespace {

constexpr int MaxClippingRounds = 10;

// The mean rule in integers: floor((2 S + k) / (2 k)).
std::uint8_t roundedMean(std::uint64_t sum, std::uint64_t k)
{
    return std::uint8_t((2 * sum + k) / (2 * k));
}

// Exact in 64 bits up to m = 23000 values: 10000 (m v - S)^2 <= 6.5e8 m^2 and
// p^2 (m Q - S^2) <= 1e6 m^2 255^2 / 4 = 1.7e10 m^2, below 2^63 there. A round keeps the values
// near the mean, so what is left is always the samples within [low, high].
template <typename Wide>
std::uint8_t clippedMean(const std::uint8_t *samples, std::size_t stride, int n, Wide p2)
{
    Wide m = 0, sum = 0, squares = 0;
    int low = 0, high = 255;
    for (int round = 0; round <= MaxClippingRounds; ++round) {
        const Wide spread = p2 * (m * squares - sum * sum);
        Wide keptCount = 0, keptSum = 0, keptSquares = 0;
        int keptLow = 255, keptHigh = 0;
        for (int i = 0; i < n; ++i) {
            const int v = samples[std::size_t(i) * stride];
            if (v < low || v > high)
                continue;
            // Round 0 only sums all the values.
            if (round > 0) {
                const Wide d = m * v - sum;
                if (10000 * d * d > spread)
                    continue;
            }
            ++keptCount;
            keptSum += v;
            keptSquares += Wide(v) * v;
            keptLow = std::min(keptLow, v);
            keptHigh = std::max(keptHigh, v);
        }
        if (round > 0 && keptCount == m)
            break;
        m = keptCount;
        sum = keptSum;
        squares = keptSquares;
        low = keptLow;
        high = keptHigh;
    }
    return roundedMean(std::uint64_t(sum), std::uint64_t(m));
}

__extension__ typedef __int128 Int128;

} // namespace

void sigmaClippedMeanRow(const std::uint8_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint8_t *out, std::size_t count)
{
    constexpr int ExactIn64Bits = 23000;
    const std::int64_t p2 = std::int64_t(kappaHundredths) * kappaHundredths;
    for (std::size_t x = 0; x < count; ++x)
        out[x] = n <= ExactIn64Bits ? clippedMean<std::int64_t>(first + x, imageStride, n, p2)
                                    : clippedMean<Int128>(first + x, imageStride, n, Int128(p2));
}

void stackRow(const StackOptions &options, const std::uint8_t *first, std::size_t imageStride, int n,
              std::uint8_t *out, std::size_t count)
{
    if (options.mode == StackMode::SigmaClippedMean)
        sigmaClippedMeanRow(first, imageStride, n, options.kappaHundredths, out, count);
    else
        medianRow(first, imageStride, n, out, count);
}
