#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Median of one channel's samples, computed the slow, obvious way: an exchange sort into
// descending order on doubles, then the middle value, or the floored mean of the two middle
// values for an even count. At least 2 samples, each 0 to 65535. Leaves them sorted.
int exchangeSortMedianInPlace(std::vector<double> &samples);

inline int exchangeSortMedian(std::vector<double> samples)
{
    return exchangeSortMedianInPlace(samples);
}

// Same contract as medianRow, one pixel at a time through exchangeSortMedianInPlace,
// refilling one sample list.
void referenceMedianRow(const std::uint8_t *first, std::size_t imageStride, int n,
                        std::uint8_t *out, std::size_t count);
void referenceMedianRow(const std::uint16_t *first, std::size_t imageStride, int n,
                        std::uint16_t *out, std::size_t count);
