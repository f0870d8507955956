#include "engine/write/pngfilter.h"
#include "engine/write/pngfilter_paths.h"

#include <QtGlobal>

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Byte = std::uint8_t;

enum Filter : Byte { Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// |r| of the residual read as a signed byte: 128 stays 128.
unsigned magnitude(Byte residual)
{
    return std::min(residual, Byte(-residual));
}

// In 16 bits, which the compiler keeps to 16-bit lanes: twice the pixels of plain int.
Byte paethPredictor(Byte left, Byte up, Byte upLeft)
{
    const auto towardsLeftSigned = std::int16_t(up - upLeft), towardsUpSigned = std::int16_t(left - upLeft);
    const auto sum = std::int16_t(towardsLeftSigned + towardsUpSigned);
    const auto towardsLeft = std::int16_t(towardsLeftSigned < 0 ? -towardsLeftSigned : towardsLeftSigned);
    const auto towardsUp = std::int16_t(towardsUpSigned < 0 ? -towardsUpSigned : towardsUpSigned);
    const auto towardsUpLeft = std::int16_t(sum < 0 ? -sum : sum);
    const Byte upOrUpLeft = towardsUp <= towardsUpLeft ? up : upLeft;
    return towardsLeft <= towardsUp && towardsLeft <= towardsUpLeft ? left : upOrUpLeft;
}

// The first pixel has no left neighbour (zero), so every filter's first bytes are plain.
Byte firstPredictor(Filter filter, Byte up)
{
    return filter == Sub ? 0 : filter == Average ? Byte(up >> 1) : up;
}

#if defined(__SSE2__)
__m128i load(const Byte *at);
__m128i paethPredictors(__m128i left, __m128i up, __m128i upLeft);
#endif

std::array<std::uint64_t, 4> costs(const Byte *row, const Byte *above, std::size_t bytes, std::size_t pixel)
{
    std::array<std::uint64_t, 4> total{};
    for (std::size_t i = 0; i < std::min(pixel, bytes); ++i)
        for (const Filter filter : {Sub, Up, Average, Paeth})
            total[filter - 1] += magnitude(Byte(row[i] - firstPredictor(filter, above[i])));
#if defined(__SSE2__)
    const std::array<std::uint64_t, 4> rest = filterCostsSse2(row, above, pixel, pixel, bytes);
#else
    const std::array<std::uint64_t, 4> rest = filterCostsScalar(row, above, pixel, pixel, bytes);
#endif
    for (std::size_t k = 0; k < total.size(); ++k)
        total[k] += rest[k];
    return total;
}

// The pixel size a template argument: the compiler vectorises the loops for each.
template <std::size_t Pixel>
void apply(Filter filter, const Byte *__restrict row, const Byte *__restrict above, std::size_t bytes,
           Byte *__restrict out)
{
    const std::size_t first = std::min(Pixel, bytes);
    for (std::size_t i = 0; i < first; ++i)
        out[i] = Byte(row[i] - firstPredictor(filter, above[i]));
    switch (filter) {
    case Sub:
        for (std::size_t i = Pixel; i < bytes; ++i)
            out[i] = Byte(row[i] - row[i - Pixel]);
        break;
    case Up:
        for (std::size_t i = Pixel; i < bytes; ++i)
            out[i] = Byte(row[i] - above[i]);
        break;
    case Average:
        for (std::size_t i = Pixel; i < bytes; ++i)
            out[i] = Byte(row[i] - Byte((row[i - Pixel] + above[i]) >> 1));
        break;
    case Paeth: {
        std::size_t i = Pixel;
#if defined(__SSE2__)
        // The compiler leaves this loop scalar; at 16 bits a sample Paeth wins many rows (one in
        // seven of a smooth photo), where the scalar loop took a sixth of the writer's time.
        for (; i + 16 <= bytes; i += 16) {
            const __m128i predicted = paethPredictors(load(row + i - Pixel), load(above + i), load(above + i - Pixel));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_sub_epi8(load(row + i), predicted));
        }
#endif
        for (; i < bytes; ++i)
            out[i] = Byte(row[i] - paethPredictor(row[i - Pixel], above[i], above[i - Pixel]));
        break;
    }
    }
}

#if defined(__SSE2__)
__m128i load(const Byte *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// Sums of the residuals' magnitudes as two 64-bit lanes.
__m128i magnitudeSums(__m128i actual, __m128i predicted)
{
    const __m128i residual = _mm_sub_epi8(actual, predicted);
    const __m128i zero = _mm_setzero_si128();
    return _mm_sad_epu8(_mm_min_epu8(residual, _mm_sub_epi8(zero, residual)), zero);
}

__m128i absolute16(__m128i value)
{
    return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
}

// For 8 lanes of 16 bits: all ones where Paeth does not take the left byte, and where it then
// does not take the upper one either.
void paethRefusals(__m128i left, __m128i up, __m128i upLeft, __m128i &notLeft, __m128i &notUp)
{
    const __m128i towardsLeftSigned = _mm_sub_epi16(up, upLeft), towardsUpSigned = _mm_sub_epi16(left, upLeft);
    const __m128i towardsLeft = absolute16(towardsLeftSigned), towardsUp = absolute16(towardsUpSigned);
    const __m128i towardsUpLeft = absolute16(_mm_add_epi16(towardsLeftSigned, towardsUpSigned));
    notLeft = _mm_or_si128(_mm_cmpgt_epi16(towardsLeft, towardsUp), _mm_cmpgt_epi16(towardsLeft, towardsUpLeft));
    notUp = _mm_cmpgt_epi16(towardsUp, towardsUpLeft);
}

__m128i select(__m128i mask, __m128i whereSet, __m128i elsewhere)
{
    return _mm_or_si128(_mm_and_si128(mask, whereSet), _mm_andnot_si128(mask, elsewhere));
}

__m128i paethPredictors(__m128i left, __m128i up, __m128i upLeft)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i notLeftLow, notUpLow, notLeftHigh, notUpHigh;
    paethRefusals(_mm_unpacklo_epi8(left, zero), _mm_unpacklo_epi8(up, zero), _mm_unpacklo_epi8(upLeft, zero),
                  notLeftLow, notUpLow);
    paethRefusals(_mm_unpackhi_epi8(left, zero), _mm_unpackhi_epi8(up, zero), _mm_unpackhi_epi8(upLeft, zero),
                  notLeftHigh, notUpHigh);
    const __m128i notLeft = _mm_packs_epi16(notLeftLow, notLeftHigh), notUp = _mm_packs_epi16(notUpLow, notUpHigh);
    return select(notLeft, select(notUp, upLeft, up), left);
}

std::uint64_t laneTotal(__m128i sums)
{
    return std::uint64_t(_mm_cvtsi128_si64(sums)) + std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}
#endif

} // namespace

std::array<std::uint64_t, 4> filterCostsScalar(const std::uint8_t *row, const std::uint8_t *above, std::size_t pixel,
                                               std::size_t from, std::size_t to)
{
    std::array<std::uint64_t, 4> total{};
    for (std::size_t i = from; i < to; ++i) {
        const Byte left = row[i - pixel], upper = above[i], upLeft = above[i - pixel];
        total[0] += magnitude(Byte(row[i] - left));
        total[1] += magnitude(Byte(row[i] - upper));
        total[2] += magnitude(Byte(row[i] - Byte((left + upper) >> 1)));
        total[3] += magnitude(Byte(row[i] - paethPredictor(left, upper, upLeft)));
    }
    return total;
}

#if defined(__SSE2__)
std::array<std::uint64_t, 4> filterCostsSse2(const std::uint8_t *row, const std::uint8_t *above, std::size_t pixel,
                                             std::size_t from, std::size_t to)
{
    const __m128i lowBit = _mm_set1_epi8(1);
    __m128i sub = _mm_setzero_si128(), up = sub, average = sub, paeth = sub;
    std::size_t i = from;
    for (; i + 16 <= to; i += 16) {
        const __m128i actual = load(row + i), left = load(row + i - pixel);
        const __m128i upper = load(above + i), upLeft = load(above + i - pixel);
        sub = _mm_add_epi64(sub, magnitudeSums(actual, left));
        up = _mm_add_epi64(up, magnitudeSums(actual, upper));
        // pavgb rounds up; the filter's mean rounds down.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, upper), _mm_and_si128(_mm_xor_si128(left, upper), lowBit));
        average = _mm_add_epi64(average, magnitudeSums(actual, mean));
        paeth = _mm_add_epi64(paeth, magnitudeSums(actual, paethPredictors(left, upper, upLeft)));
    }
    std::array<std::uint64_t, 4> total = filterCostsScalar(row, above, pixel, i, to);
    total[0] += laneTotal(sub);
    total[1] += laneTotal(up);
    total[2] += laneTotal(average);
    total[3] += laneTotal(paeth);
    return total;
}
#endif

void filterPngRow(const std::uint8_t *row, const std::uint8_t *above, std::size_t bytes, std::size_t pixel,
                  std::uint8_t *filtered)
{
    Q_ASSERT(pixel == 3 || pixel == 6);
    const std::array<std::uint64_t, 4> cost = costs(row, above, bytes, pixel);
    const auto best = Filter(std::min_element(cost.begin(), cost.end()) - cost.begin() + 1);
    filtered[0] = best;
    if (pixel == 6)
        apply<6>(best, row, above, bytes, filtered + 1);
    else
        apply<3>(best, row, above, bytes, filtered + 1);
}
