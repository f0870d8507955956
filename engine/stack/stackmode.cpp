#include "engine/stack/stackmode.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int MaxClippingRounds = 10;

__extension__ typedef __int128 Int128;

// The mean rule in integers: floor((2 S + k) / (2 k)).
template <typename T>
T roundedMean(std::uint64_t sum, std::uint64_t k)
{
    return T((2 * sum + k) / (2 * k));
}

// Totals in Wide, the clipping test's products in Product; the callers pick types that are
// exact for their n. A round keeps the values near the mean, so what is left is always the
// samples within [low, high].
template <typename T, typename Wide, typename Product>
T clippedMean(const T *samples, std::size_t stride, int n, Product p2)
{
    Wide m = 0, sum = 0, squares = 0;
    int low = 0, high = std::numeric_limits<T>::max();
    for (int round = 0; round <= MaxClippingRounds; ++round) {
        const Product spread = p2 * Product(m * squares - sum * sum);
        Wide keptCount = 0, keptSum = 0, keptSquares = 0;
        int keptLow = std::numeric_limits<T>::max(), keptHigh = 0;
        for (int i = 0; i < n; ++i) {
            const int v = samples[std::size_t(i) * stride];
            if (v < low || v > high)
                continue;
            // Round 0 only sums all the values.
            if (round > 0) {
                const Wide d = m * v - sum;
                if (10000 * Product(d) * d > spread)
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
    return roundedMean<T>(std::uint64_t(sum), std::uint64_t(m));
}

// Most pixels lose nothing in the first round, and that shows at their extremes alone: |m v - S|
// is largest at the least or the greatest value. So a block of pixels first takes sums, squares
// and extremes image row by image row, which vectorises, and only the pixels whose extremes
// would be dropped go through the rounds one by one. Sums stay in 32 bits, m Q and S^2 in 64;
// Squares and Product must hold the rest for the caller's n.
template <typename T, typename Squares, typename Product>
void clippedMeanBlock(const T *first, std::size_t imageStride, int n, Product p2, T *out,
                      std::size_t count)
{
    constexpr std::size_t Block = 256;
    std::uint32_t sums[Block];
    Squares squares[Block];
    T least[Block], greatest[Block];
    for (std::size_t x0 = 0; x0 < count; x0 += Block) {
        const std::size_t width = std::min(Block, count - x0);
        std::fill_n(sums, width, 0u);
        std::fill_n(squares, width, Squares(0));
        std::fill_n(least, width, std::numeric_limits<T>::max());
        std::fill_n(greatest, width, T(0));
        for (int i = 0; i < n; ++i) {
            const T *row = first + std::size_t(i) * imageStride + x0;
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
            const Product spread = p2 * Product(m * std::int64_t(squares[x]) - sum * sum);
            const std::int64_t low = m * least[x] - sum, high = m * greatest[x] - sum;
            out[x0 + x] = 10000 * Product(low) * low <= spread && 10000 * Product(high) * high <= spread
                              ? roundedMean<T>(std::uint64_t(sum), std::uint64_t(m))
                              : clippedMean<T, std::int64_t>(first + x0 + x, imageStride, n, p2);
        }
    }
}

// 8 bits, up to m = 23000 values, all in 64 bits: 10000 (m v - S)^2 <= 6.5e8 m^2 and
// p^2 (m Q - S^2) <= 1e6 m^2 255^2 / 4 = 1.7e10 m^2, below 2^63 there; Q < 2^32.
constexpr int ExactIn64Bits = 23000;

// 16 bits: m Q and S^2 reach 65535^2 m^2, within 2^63 up to m = 46340, and the sums stay in
// 32 bits; p^2 (m Q - S^2) passes 2^63 from m = 93, so the test's products take 128 bits.
constexpr int SixteenBitTotalsIn64Bits = 46340;

} // namespace

void sigmaClippedMeanRow(const std::uint8_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint8_t *out, std::size_t count)
{
    const std::int64_t p2 = std::int64_t(kappaHundredths) * kappaHundredths;
    if (n <= ExactIn64Bits) {
        clippedMeanBlock<std::uint8_t, std::uint32_t>(first, imageStride, n, p2, out, count);
        return;
    }
    for (std::size_t x = 0; x < count; ++x)
        out[x] = clippedMean<std::uint8_t, Int128>(first + x, imageStride, n, Int128(p2));
}

void sigmaClippedMeanRow(const std::uint16_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint16_t *out, std::size_t count)
{
    const Int128 p2 = Int128(kappaHundredths) * kappaHundredths;
    if (n <= SixteenBitTotalsIn64Bits) {
        clippedMeanBlock<std::uint16_t, std::uint64_t>(first, imageStride, n, p2, out, count);
        return;
    }
    for (std::size_t x = 0; x < count; ++x)
        out[x] = clippedMean<std::uint16_t, Int128>(first + x, imageStride, n, p2);
}
