#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>

class OpHost;

// v + floor(v / 2), capped at 255, on every byte; the alpha byte 0xff stays 0xff.
void brightenRow(std::uint8_t *bytes, std::size_t count);

// Brightens the top-left extent of the surface; points beyond the surface change nothing.
void brightenSurface(QImage &surface, QSize extent);

// "&Ombrelux": brightens the canvas in place. It cannot be stopped.
void runBrightening(OpHost &host);
