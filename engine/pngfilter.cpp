#include "engine/pngfilter.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

using Byte = std::uint8_t;

constexpr std::size_t Pixel = 3;

enum Filter : Byte { Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// |r| of the residual read as a signed byte: 128 stays 128.
unsigned magnitude(Byte residual)
{
    return std::min(residual, Byte(-residual));
}

Byte paethPredictor(Byte left, Byte up, Byte upLeft)
{
    const int towardsLeft = std::abs(int(up) - upLeft);
    const int towardsUp = std::abs(int(left) - upLeft);
    const int towardsUpLeft = std::abs(int(left) + up - 2 * upLeft);
    if (towardsLeft <= towardsUp && towardsLeft <= towardsUpLeft)
        return left;
    return towardsUp <= towardsUpLeft ? up : upLeft;
}

// The first pixel has no left neighbour (zero), so every filter's first bytes are plain.
Byte firstPredictor(Filter filter, Byte up)
{
    return filter == Sub ? 0 : filter == Average ? Byte(up >> 1) : up;
}

// Costs of bytes [from, to), from >= Pixel, in one pass for all four filters: plain byte loops,
// which the compiler vectorises. A stretch of StretchBytes cannot overflow the sums.
constexpr std::size_t StretchBytes = 1 << 16;

std::array<unsigned, 4> stretchCosts(const Byte *__restrict row, const Byte *__restrict above, std::size_t from,
                                     std::size_t to)
{
    unsigned sub = 0, up = 0, average = 0, paeth = 0;
    for (std::size_t i = from; i < to; ++i) {
        const Byte left = row[i - Pixel], upper = above[i], upLeft = above[i - Pixel];
        sub += magnitude(Byte(row[i] - left));
        up += magnitude(Byte(row[i] - upper));
        average += magnitude(Byte(row[i] - Byte((left + upper) >> 1)));
        paeth += magnitude(Byte(row[i] - paethPredictor(left, upper, upLeft)));
    }
    return {sub, up, average, paeth};
}

std::array<std::uint64_t, 4> costs(const Byte *row, const Byte *above, std::size_t bytes)
{
    std::array<std::uint64_t, 4> total{};
    for (std::size_t i = 0; i < std::min(Pixel, bytes); ++i)
        for (const Filter filter : {Sub, Up, Average, Paeth})
            total[filter - 1] += magnitude(Byte(row[i] - firstPredictor(filter, above[i])));
    for (std::size_t from = Pixel; from < bytes; from += StretchBytes) {
        const std::array<unsigned, 4> stretch = stretchCosts(row, above, from, std::min(bytes, from + StretchBytes));
        for (std::size_t k = 0; k < total.size(); ++k)
            total[k] += stretch[k];
    }
    return total;
}

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
    case Paeth:
        for (std::size_t i = Pixel; i < bytes; ++i)
            out[i] = Byte(row[i] - paethPredictor(row[i - Pixel], above[i], above[i - Pixel]));
        break;
    }
}

} // namespace

void packRgbRow(const QRgb *words, std::size_t width, std::uint8_t *bytes)
{
    for (std::size_t x = 0; x < width; ++x) {
        bytes[Pixel * x] = Byte(qRed(words[x]));
        bytes[Pixel * x + 1] = Byte(qGreen(words[x]));
        bytes[Pixel * x + 2] = Byte(qBlue(words[x]));
    }
}

void filterPngRow(const std::uint8_t *row, const std::uint8_t *above, std::size_t bytes, std::uint8_t *filtered)
{
    const std::array<std::uint64_t, 4> cost = costs(row, above, bytes);
    const auto best = Filter(std::min_element(cost.begin(), cost.end()) - cost.begin() + 1);
    filtered[0] = best;
    apply(best, row, above, bytes, filtered + 1);
}
