#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>

class OpHost;

// Each channel max(canvas - second, 0) over `pixels` RGB32 words; the alpha byte stays 0xff.
void subtractRow(std::uint8_t *canvas, const std::uint8_t *second, std::size_t pixels);

// Subtracts `second` aligned top-left over the canvas's extent. Where the second picture does
// not reach, it counts as black and the canvas stays as it is.
void subtractSurface(QImage &canvas, const QImage &second, QSize extent);

// "&Subtract >>": asks for a second picture and subtracts it from the canvas.
void runSubtraction(OpHost &host);
