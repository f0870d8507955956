#include "bench/surfaces.h"

#include "support/images.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

QImage benchSurface(int megapixels, std::uint32_t seed)
{
    const int height = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 3 / 4)));
    return randomPicture(megapixels * 1'000'000 / height, height, seed);
}

QImage photoSurface(int width, int height, double sigma, std::uint32_t seed, bool deep)
{
    QImage picture(width, height, deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    const double scale = deep ? 257 : 1;
    std::mt19937 random(seed);
    // Box-Muller from the generator's words: std::normal_distribution differs between libraries.
    const auto uniform = [&] { return (double(random()) + 0.5) / 4294967296.0; };
    const auto gaussian = [&] { return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * std::numbers::pi * uniform()); };
    for (int y = 0; y < height; ++y) {
        uchar *row = picture.scanLine(y);
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double levels[3] = {40 + 170 * u + 30 * std::sin(6 * v), 60 + 120 * v + 40 * std::cos(4 * u + 2 * v),
                                      128 + 90 * std::sin(3 * (u + v)) * std::cos(5 * u)};
            int channels[3];
            for (int c = 0; c < 3; ++c)
                channels[c] = std::clamp(int(std::lround(scale * (levels[c] + sigma * gaussian()))), 0, int(255 * scale));
            if (deep)
                reinterpret_cast<QRgba64 *>(row)[x] = QRgba64::fromRgba64(
                    quint16(channels[0]), quint16(channels[1]), quint16(channels[2]), 0xffff);
            else
                reinterpret_cast<QRgb *>(row)[x] = qRgb(channels[0], channels[1], channels[2]);
        }
    }
    return picture;
}

void reportMegapixels(benchmark::State &state, double pixels)
{
    state.counters["MP/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
