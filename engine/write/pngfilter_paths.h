#pragma once

// The separate ways filterPngRow weighs its filters, for the test that compares them. Both give
// the sums of residual magnitudes of Sub, Up, Average and Paeth over bytes [from, to) of a row
// of `pixel`-byte pixels, from >= pixel. The vector path compares bytes lane by lane, whatever
// the pixel size.

#include <array>
#include <cstddef>
#include <cstdint>

std::array<std::uint64_t, 4> filterCostsScalar(const std::uint8_t *row, const std::uint8_t *above, std::size_t pixel,
                                               std::size_t from, std::size_t to);

#if defined(__SSE2__)
// 16 bytes at a time; SSE2 is part of every x86-64.
std::array<std::uint64_t, 4> filterCostsSse2(const std::uint8_t *row, const std::uint8_t *above, std::size_t pixel,
                                             std::size_t from, std::size_t to);
#endif
