#pragma once

#include <QRgb>

#include <cstddef>
#include <cstdint>

// 0xffRRGGBB words as the R, G, B bytes of a PNG row.
void packRgbRow(const QRgb *words, std::size_t width, std::uint8_t *bytes);

// One PNG row of 3-byte pixels, `bytes` long, filtered against the row above (zeros above the
// first): `filtered` gets the filter type and then `bytes` residuals. Of Sub, Up, Average and
// Paeth it takes the one whose residuals, read as signed bytes, sum smallest in magnitude.
void filterPngRow(const std::uint8_t *row, const std::uint8_t *above, std::size_t bytes, std::uint8_t *filtered);
