#pragma once

#include <cstddef>
#include <cstdint>

// Per-channel median across a stack of images, one row at a time, at 8 or 16 bits a sample.
// The images lie imageStride samples apart; first points at the row in image 0.
// out[p] = median over i in [0, n) of first[i * imageStride + p], for p in [0, count).
// With the samples sorted descending S(1) >= ... >= S(n): S((n + 1) / 2) for odd n,
// floor((S(n / 2) + S(n / 2 + 1)) / 2) for even n. n is at least 2.
// out must not overlap the samples. Safe to call from several threads at once.
void medianRow(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
               std::size_t count);
void medianRow(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
               std::size_t count);
