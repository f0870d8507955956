#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

// Whether the writers take the picture at 16 bits a sample (as Format_RGBX64) rather than 8.
bool hasDeepSamples(const QImage &picture);

// 0xffRRGGBB words as the R, G, B bytes of a file's row.
void packRgbRow(const QRgb *words, std::size_t width, std::uint8_t *bytes);

// RGBX64 pixels as the R, G, B samples of a file's row, each two bytes big-endian (PNG and PPM);
// X is dropped.
void packRgb48Row(const QRgba64 *pixels, std::size_t width, std::uint8_t *bytes);
