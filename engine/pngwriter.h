#pragma once

#include <QImage>

class QIODevice;

// The opaque picture as an 8-bit RGB PNG tagged sRGB, through libpng at the settings measured
// in bench/bench_png.cpp. False when the device or libpng fails; never throws or jumps out.
bool writePng(const QImage &picture, QIODevice &device);
