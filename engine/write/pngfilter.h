#pragma once

#include <cstddef>
#include <cstdint>

// One PNG row, `bytes` long, of pixels `pixel` bytes each (3 at 8 bits a sample, 6 at 16),
// filtered against the row above (zeros above the first): `filtered` gets the filter type and
// then `bytes` residuals. Of Sub, Up, Average and Paeth it takes the one whose residuals, read as
// signed bytes, sum smallest in magnitude.
void filterPngRow(const std::uint8_t *row, const std::uint8_t *above, std::size_t bytes, std::size_t pixel,
                  std::uint8_t *filtered);
