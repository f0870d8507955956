#include "bench/surfaces.h"

#include "support/images.h"

#include <cmath>

QImage benchSurface(int megapixels, std::uint32_t seed)
{
    const int height = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 3 / 4)));
    return randomPicture(megapixels * 1'000'000 / height, height, seed);
}

void reportMegapixels(benchmark::State &state, double pixels)
{
    state.counters["MP/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
