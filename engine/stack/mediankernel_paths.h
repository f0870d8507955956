#pragma once

// The separate code paths behind medianRow, for tests and benchmarks that compare them.
// All take the same arguments as medianRow and give the same samples.

#include "engine/core/cpufeatures.h"

#include <cstddef>
#include <cstdint>

// One pixel at a time; any row length.
void medianRowScalar(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                     std::size_t count);
void medianRowScalar(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                     std::size_t count);

// 16 pixels at a time: SSE2 on x86-64, whatever the target offers elsewhere.
void medianRowVec16(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                    std::size_t count);

#if defined(__x86_64__)
// 32 bytes at a time (32 pixels at 8 bits, 16 at 16); call only when avx2Supported().
void medianRowAvx2(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                   std::size_t count);
void medianRowAvx2(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                   std::size_t count);

// 8 pixels at a time; call only when sse41Supported(). Without SSE4.1, 16-bit rows go through
// the scalar path.
void medianRowSse41(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                    std::size_t count);
#endif
