#include "reference/exchangesortmedian.h"

#include <cmath>
#include <utility>

int exchangeSortMedianInPlace(std::vector<double> &samples)
{
    const std::size_t n = samples.size();
    // n - 1 full passes, no early stop; equal neighbours are never swapped.
    for (std::size_t pass = 1; pass < n; ++pass)
        for (std::size_t j = 0; j + 1 < n; ++j)
            if (samples[j] < samples[j + 1])
                std::swap(samples[j], samples[j + 1]);

    // Positions counted from 1 below: S(1) = samples[0] is the largest.
    double m = static_cast<double>(n) / 2;
    if (m != std::floor(m)) {
        m = (static_cast<double>(n) + 1) / 2;
        return static_cast<int>(samples[static_cast<std::size_t>(m) - 1]);
    }
    const auto k = static_cast<std::size_t>(m);
    return static_cast<int>(std::floor((samples[k - 1] + samples[k]) / 2));
}

namespace {

template <class T>
void medianRowOf(const T *first, std::size_t imageStride, int n, T *out, std::size_t count)
{
    std::vector<double> samples(static_cast<std::size_t>(n));
    for (std::size_t p = 0; p < count; ++p) {
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = first[i * imageStride + p];
        out[p] = static_cast<T>(exchangeSortMedianInPlace(samples));
    }
}

} // namespace

void referenceMedianRow(const std::uint8_t *first, std::size_t imageStride, int n,
                        std::uint8_t *out, std::size_t count)
{
    medianRowOf(first, imageStride, n, out, count);
}

void referenceMedianRow(const std::uint16_t *first, std::size_t imageStride, int n,
                        std::uint16_t *out, std::size_t count)
{
    medianRowOf(first, imageStride, n, out, count);
}
