#pragma once

#include <QtGlobal>

#include <cstdint>

// An RGB32 picture as the resampler reads it.
struct Rgb32Source {
    const uchar *bits;
    qsizetype bytesPerLine;
    int width;
    int height;
};

// out[x] = the source sampled at (u[x], v[x]) for x in [0, count): Keys' cubic (a = -0.75) in
// integers. Positions are taken on a grid of 1/256 pixel, weights in 1/1024; each row of four
// taps is summed first, then the four rows, and the result is rounded half up and held to
// 0..255. Taps beyond the edge repeat the edge pixel; a position that is not a number reads as
// far outside. Every path gives the same bytes; bicubicRow picks the fastest the processor runs.
// Positions count in 32-bit integers of 1/256 pixel, so the source's sides stay below 2^23 - 2
// pixels: the decoders' 250 MP limit and alignment's 32-pixel least side keep frames within it.
void bicubicRow(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out);

// The paths behind it, for the tests that hold them to the scalar one.
void bicubicRowScalar(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out);
#if defined(__x86_64__)
void bicubicRowSse41(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out);
void bicubicRowAvx2(const Rgb32Source &source, const float *u, const float *v, int count, std::uint32_t *out);
#endif
