#include "engine/stack/stackmode.h"

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

namespace {

constexpr int ExactIn64Bits = 23000;

// Most pixels lose nothing in the first round, and that shows at their extremes alone: |m v - S|
// is largest at the least or the greatest value. So a block of pixels first takes sums, squares
// and extremes image row by image row, which vectorises, and only the pixels whose extremes
// would be dropped go through the rounds one by one.
void clippedMeanBlock(const std::uint8_t *first, std::size_t imageStride, int n, std::int64_t p2,
                      std::uint8_t *out, std::size_t count)
{
    constexpr std::size_t Block = 256;
    std::uint32_t sums[Block], squares[Block];
    std::uint8_t least[Block], greatest[Block];
    for (std::size_t x0 = 0; x0 < count; x0 += Block) {
        const std::size_t width = std::min(Block, count - x0);
        std::fill_n(sums, width, 0u);
        std::fill_n(squares, width, 0u);
        std::fill_n(least, width, std::uint8_t(255));
        std::fill_n(greatest, width, std::uint8_t(0));
        for (int i = 0; i < n; ++i) {
            const std::uint8_t *row = first + std::size_t(i) * imageStride + x0;
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t v = row[x];
                sums[x] += v;
                squares[x] += v * v;
                least[x] = std::min(least[x], row[x]);
                greatest[x] = std::max(greatest[x], row[x]);
            }
        }
        for (std::size_t x = 0; x < width; ++x) {
            const std::int64_t m = n, sum = sums[x];
            const std::int64_t spread = p2 * (m * std::int64_t(squares[x]) - sum * sum);
            const std::int64_t low = m * least[x] - sum, high = m * greatest[x] - sum;
            out[x0 + x] = 10000 * low * low <= spread && 10000 * high * high <= spread
                              ? roundedMean(std::uint64_t(sum), std::uint64_t(m))
                              : clippedMean<std::int64_t>(first + x0 + x, imageStride, n, p2);
        }
    }
}

} // namespace

void sigmaClippedMeanRow(const std::uint8_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint8_t *out, std::size_t count)
{
    const std::int64_t p2 = std::int64_t(kappaHundredths) * kappaHundredths;
    // Squares of 23000 values stay below 2^32.
    if (n <= ExactIn64Bits) {
        clippedMeanBlock(first, imageStride, n, p2, out, count);
        return;
    }
    for (std::size_t x = 0; x < count; ++x)
        out[x] = clippedMean<Int128>(first + x, imageStride, n, Int128(p2));
}
