#pragma once

#include "engine/decode/decodelimits.h"

#include <cstddef>
#include <cstdint>

// How the samples of one pixel's channel become its value; k = the number of samples.
enum class StackMode {
    Median,           // the middle one; for even k the floor of the mean of the two middle ones
    Mean,             // floor((2 S + k) / (2 k)), S their sum: rounded half up
    SigmaClippedMean, // the mean of what is left after rejecting outliers, see sigmaClippedMeanRow
    Minimum,
    Maximum,
};

// Kappa is given in hundredths, 100 to 1000: at least 1, so a round never drops every value.
inline constexpr int DefaultKappaHundredths = 250;

struct StackOptions {
    StackMode mode = StackMode::Median;
    int kappaHundredths = DefaultKappaHundredths;
    // The samples stacked and the result's: Format_RGB32 frames and result at Eight, Format_RGBX64
    // at Sixteen, the same definitions on values 0-255 or 0-65535.
    SampleDepth depth = SampleDepth::Eight;
};

// Sigma clipping with kappa = p / 100 over the samples first[i * imageStride + x], i < n: with the
// m values left, S their sum and Q their sum of squares, every value v with
// 10000 (m v - S)^2 > p^2 (m Q - S^2) is dropped; rounds repeat while one drops something, at
// most 10; then the mean rule over what is left. Exact for any n, on values 0..255 or 0..65535
// as the samples' type holds. Safe to call from several threads at once.
void sigmaClippedMeanRow(const std::uint8_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint8_t *out, std::size_t count);
void sigmaClippedMeanRow(const std::uint16_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint16_t *out, std::size_t count);
