#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>

// Point operations over RGB32 rows and RGBX64 rows of 16-bit samples, the bulk paths of
// brightening and subtraction.

// v + floor(v / 2), capped at 255, on every byte; the alpha byte 0xff stays 0xff.
void brightenRow(std::uint8_t *bytes, std::size_t count);
// The same on 16-bit samples, capped at 65535.
void brightenRow(std::uint16_t *samples, std::size_t count);

// Brightens the top-left extent of the surface (RGB32 or RGBX64); points beyond the surface
// change nothing.
void brightenSurface(QImage &surface, QSize extent);

// Each channel max(canvas - second, 0) over `pixels` RGB32 words; the alpha byte stays 0xff.
void subtractRow(std::uint8_t *canvas, const std::uint8_t *second, std::size_t pixels);
// The same over RGBX64 pixels; the alpha sample stays 0xffff.
void subtractRow(std::uint16_t *canvas, const std::uint16_t *second, std::size_t pixels);

// Subtracts `second` (of the canvas's format) aligned top-left over the canvas's extent. Where the second picture does
// not reach, it counts as black and the canvas stays as it is.
void subtractSurface(QImage &canvas, const QImage &second, QSize extent);
