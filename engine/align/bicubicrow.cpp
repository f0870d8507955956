#include "engine/align/bicubicrow.h"
#include "engine/core/cpufeatures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int FractionBits = 8;
constexpr int Fractions = 1 << FractionBits;
constexpr int WeightBits = 10;
constexpr int WeightOne = 1 << WeightBits;
// Two passes of weights in 1/1024: 255 x 1.375 (the kernel's largest sum of magnitudes) x 1024
// twice stays below 2^29, so every sum fits 32 bits with room to spare.
constexpr int ResultShift = 2 * WeightBits;
constexpr std::int32_t Half = 1 << (ResultShift - 1);

double keys(double t)
{
    constexpr double a = -0.75;
    t = std::abs(t);
    if (t <= 1)
        return ((a + 2) * t - (a + 3)) * t * t + 1;
    if (t < 2)
        return ((a * t - 5 * a) * t + 8 * a) * t - 4 * a;
    return 0;
}

// The four taps' weights for each fraction, at distances 1 + t, t, 1 - t and 2 - t; rounded
// weights are made to sum to exactly one by the largest, so flat areas stay flat. Beside them the
// same weights laid out as the vector paths load them: taps 0 and 1 paired in each 32-bit lane
// (madd's pairs), then taps 2 and 3, then each tap alone in all four lanes.
using TapWeights = std::array<std::int16_t, 4>;

struct LaneWeights {
    alignas(16) std::int32_t left[4];
    alignas(16) std::int32_t right[4];
    alignas(16) std::int32_t single[4][4];
};

struct WeightTables {
    std::array<TapWeights, Fractions> taps;
    std::array<LaneWeights, Fractions> lanes;
};

std::int32_t weightPair(const TapWeights &weights, int k)
{
    return std::int32_t(std::uint16_t(weights[std::size_t(k)]) | std::uint32_t(std::uint16_t(weights[std::size_t(k + 1)])) << 16);
}

const WeightTables &weightTables()
{
    static const auto tables = [] {
        auto built = std::make_unique<WeightTables>();
        for (std::size_t f = 0; f < Fractions; ++f) {
            TapWeights &weights = built->taps[f];
            const double t = double(f) / Fractions;
            const double exact[4] = {keys(1 + t), keys(t), keys(1 - t), keys(2 - t)};
            int sum = 0;
            for (std::size_t k = 0; k < 4; ++k) {
                weights[k] = std::int16_t(std::lround(exact[k] * WeightOne));
                sum += weights[k];
            }
            weights[f < Fractions / 2 ? 1 : 2] += std::int16_t(WeightOne - sum);
            LaneWeights &lanes = built->lanes[f];
            for (std::size_t lane = 0; lane < 4; ++lane) {
                lanes.left[lane] = weightPair(weights, 0);
                lanes.right[lane] = weightPair(weights, 2);
                for (std::size_t k = 0; k < 4; ++k)
                    lanes.single[k][lane] = weights[k];
            }
        }
        return built;
    }();
    return *tables;
}

// The pixel left of (above) the position and the position's fraction beyond it.
struct Tap {
    int pixel;
    int fraction;
};

// Two pixels beyond the edge every tap repeats it already: holding positions there keeps the
// integers small and changes nothing. A position that is not a number fails both comparisons and
// is held at the low end; the vector paths' max and min give the same.
constexpr float LowestHeld = -2.0f;

float held(float position, int size)
{
    const float highest = float(size) + 1.0f;
    const float above = position > LowestHeld ? position : LowestHeld;
    return above < highest ? above : highest;
}

// Rounded to nearest, ties to even, as the vector conversion does.
int nearest(float value)
{
#if defined(__x86_64__)
    return _mm_cvtss_si32(_mm_set_ss(value));
#else
    return int(std::lrint(value));
#endif
}

Tap tapOf(float position, int size)
{
    const int grid = nearest(held(position, size) * Fractions);
    return {grid >> FractionBits, grid & (Fractions - 1)};
}

std::uint32_t sampleScalar(const Rgb32Source &source, Tap x, Tap y)
{
    const TapWeights &wx = weightTables().taps[std::size_t(x.fraction)];
    const TapWeights &wy = weightTables().taps[std::size_t(y.fraction)];
    std::int32_t sums[4] = {};
    for (int r = 0; r < 4; ++r) {
        const int row = std::clamp(y.pixel - 1 + r, 0, source.height - 1);
        const uchar *line = source.bits + qsizetype(row) * source.bytesPerLine;
        std::int32_t across[4] = {};
        for (int k = 0; k < 4; ++k) {
            const uchar *pixel = line + 4 * std::clamp(x.pixel - 1 + k, 0, source.width - 1);
            for (int c = 0; c < 4; ++c)
                across[c] += wx[std::size_t(k)] * pixel[c];
        }
        for (int c = 0; c < 4; ++c)
            sums[c] += wy[std::size_t(r)] * across[c];
    }
    uchar bytes[4];
    for (int c = 0; c < 4; ++c)
        bytes[c] = uchar(std::clamp((sums[c] + Half) >> ResultShift, 0, 255));
    std::uint32_t result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

#if defined(__x86_64__)

// A row's four pixels with their bytes reordered to channel pairs, p0 p1 of each channel and then
// p2 p3, so that madd against paired weights sums two taps per lane.
#define OMBRELUX_TAP_PAIRS 0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15

// Where a pixel's sixteen taps are read from: in place when they all lie inside (each row's four
// pixels one 16-byte load), else copied with the edge repeated into `block`.
struct TapBlock {
    const uchar *first;
    qsizetype stride;
};

TapBlock edgeBlock(const Rgb32Source &source, Tap x, Tap y, uchar *block)
{
    for (int r = 0; r < 4; ++r) {
        const uchar *line = source.bits + qsizetype(std::clamp(y.pixel - 1 + r, 0, source.height - 1)) * source.bytesPerLine;
        for (int k = 0; k < 4; ++k)
            std::memcpy(block + 16 * r + 4 * k, line + 4 * std::clamp(x.pixel - 1 + k, 0, source.width - 1), 4);
    }
    return {block, 16};
}

[[gnu::always_inline]] inline TapBlock tapBlock(const Rgb32Source &source, Tap x, Tap y, uchar *block)
{
    if (x.pixel >= 1 && x.pixel + 2 < source.width && y.pixel >= 1 && y.pixel + 2 < source.height)
        return {source.bits + qsizetype(y.pixel - 1) * source.bytesPerLine + 4 * (x.pixel - 1), source.bytesPerLine};
    return edgeBlock(source, x, y, block);
}

[[gnu::target("sse4.1"), gnu::always_inline]] inline __m128i load128(const void *from)
{
    return _mm_load_si128(static_cast<const __m128i *>(from));
}

[[gnu::target("sse4.1"), gnu::always_inline]] inline __m128i loadRow(const TapBlock &taps, int r)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(taps.first + qsizetype(r) * taps.stride));
}

[[gnu::target("sse4.1"), gnu::always_inline]] inline std::uint32_t sampleSse41(const TapBlock &taps, const LaneWeights &wx,
                                                                             const LaneWeights &wy)
{
    const __m128i pairs = _mm_setr_epi8(OMBRELUX_TAP_PAIRS);
    __m128i sums = _mm_set1_epi32(Half);
    for (int r = 0; r < 4; ++r) {
        const __m128i row = _mm_shuffle_epi8(loadRow(taps, r), pairs);
        const __m128i across = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(row, _mm_setzero_si128()), load128(wx.left)),
                                             _mm_madd_epi16(_mm_unpackhi_epi8(row, _mm_setzero_si128()), load128(wx.right)));
        sums = _mm_add_epi32(sums, _mm_mullo_epi32(across, load128(wy.single[r])));
    }
    const __m128i shifted = _mm_srai_epi32(sums, ResultShift);
    return std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(shifted, shifted), shifted)));
}

// Two 128-bit halves, the first pixel's low.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i join(__m128i low, __m128i high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Two pixels at once, one in each 128-bit lane, the same steps as sampleSse41.
[[gnu::target("avx2"), gnu::always_inline]] inline void sampleAvx2(const TapBlock *taps, const LaneWeights *const *wx,
                                                                  const LaneWeights *const *wy, std::uint32_t *out)
{
    const __m256i pairs = _mm256_setr_epi8(OMBRELUX_TAP_PAIRS, OMBRELUX_TAP_PAIRS);
    const __m256i left = join(load128(wx[0]->left), load128(wx[1]->left));
    const __m256i right = join(load128(wx[0]->right), load128(wx[1]->right));
    __m256i sums = _mm256_set1_epi32(Half);
    for (int r = 0; r < 4; ++r) {
        const __m256i paired = _mm256_shuffle_epi8(join(loadRow(taps[0], r), loadRow(taps[1], r)), pairs);
        const __m256i across = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi8(paired, _mm256_setzero_si256()), left),
                                                _mm256_madd_epi16(_mm256_unpackhi_epi8(paired, _mm256_setzero_si256()), right));
        sums = _mm256_add_epi32(sums, _mm256_mullo_epi32(across, join(load128(wy[0]->single[r]), load128(wy[1]->single[r]))));
    }
    const __m256i shifted = _mm256_srai_epi32(sums, ResultShift);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(shifted, shifted), shifted);
    out[0] = std::uint32_t(_mm256_extract_epi32(bytes, 0));
    out[1] = std::uint32_t(_mm256_extract_epi32(bytes, 4));
}

#undef OMBRELUX_TAP_PAIRS

// Eight positions at once, as tapOf takes them one by one.
[[gnu::target("avx2"), gnu::always_inline]] inline void tapsAvx2(const float *positions, int size, Tap *taps)
{
    const __m256 held = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(positions), _mm256_set1_ps(LowestHeld)),
                                      _mm256_set1_ps(float(size) + 1.0f));
    const __m256i grid = _mm256_cvtps_epi32(_mm256_mul_ps(held, _mm256_set1_ps(float(Fractions))));
    const __m256i pixels = _mm256_srai_epi32(grid, FractionBits);
    const __m256i fractions = _mm256_and_si256(grid, _mm256_set1_epi32(Fractions - 1));
    // Pixel and fraction side by side, as Tap lies; the unpacks work within 128-bit lanes, so
    // their halves are taps 0 1 4 5 and 2 3 6 7.
    const __m256i low = _mm256_unpacklo_epi32(pixels, fractions), high = _mm256_unpackhi_epi32(pixels, fractions);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(taps), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(taps + 4), _mm256_permute2x128_si256(low, high, 0x31));
}

#endif

} // namespace

void bicubicRowScalar(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out)
{
    for (int x = 0; x < count; ++x)
        out[x] = sampleScalar(source, tapOf(u[x], source.width), tapOf(v[x], source.height));
}

#if defined(__x86_64__)

[[gnu::target("sse4.1")]] void bicubicRowSse41(const Rgb32Source &source, const float *u, const float *v, int count,
                                                std::uint32_t *out)
{
    const WeightTables &tables = weightTables();
    alignas(16) uchar block[64];
    for (int x = 0; x < count; ++x) {
        const Tap tx = tapOf(u[x], source.width), ty = tapOf(v[x], source.height);
        out[x] = sampleSse41(tapBlock(source, tx, ty, block), tables.lanes[std::size_t(tx.fraction)],
                             tables.lanes[std::size_t(ty.fraction)]);
    }
}

[[gnu::target("avx2")]] void bicubicRowAvx2(const Rgb32Source &source, const float *u, const float *v, int count,
                                             std::uint32_t *out)
{
    static_assert(sizeof(Tap) == 8);
    const WeightTables &tables = weightTables();
    alignas(16) uchar blocks[2][64];
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        Tap tx[8], ty[8];
        tapsAvx2(u + x, source.width, tx);
        tapsAvx2(v + x, source.height, ty);
        for (int i = 0; i < 8; i += 2) {
            const TapBlock taps[2] = {tapBlock(source, tx[i], ty[i], blocks[0]), tapBlock(source, tx[i + 1], ty[i + 1], blocks[1])};
            const LaneWeights *wx[2] = {&tables.lanes[std::size_t(tx[i].fraction)], &tables.lanes[std::size_t(tx[i + 1].fraction)]};
            const LaneWeights *wy[2] = {&tables.lanes[std::size_t(ty[i].fraction)], &tables.lanes[std::size_t(ty[i + 1].fraction)]};
            sampleAvx2(taps, wx, wy, out + x + i);
        }
    }
    bicubicRowSse41(source, u + x, v + x, count - x, out + x);
}

#endif

void bicubicRow(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out)
{
    Q_ASSERT(source.width < (1 << (31 - FractionBits)) - 2 && source.height < (1 << (31 - FractionBits)) - 2);
#if defined(__x86_64__)
    if (avx2Supported())
        return bicubicRowAvx2(source, u, v, count, out);
    if (sse41Supported())
        return bicubicRowSse41(source, u, v, count, out);
#endif
    bicubicRowScalar(source, u, v, count, out);
}
