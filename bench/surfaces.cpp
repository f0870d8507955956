#include "bench/surfaces.h"

#include <cmath>
#include <random>

QImage benchSurface(int megapixels, std::uint32_t seed)
{
    const int height = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 3 / 4)));
    const int width = megapixels * 1'000'000 / height;
    QImage surface(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(surface.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (random() & 0xffffffu);
    }
    return surface;
}

void reportMegapixels(benchmark::State &state, double pixels)
{
    state.counters["MP/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
