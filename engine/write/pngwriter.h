#pragma once

#include <QImage>

class QIODevice;

// The opaque picture as an 8-bit RGB PNG tagged sRGB. Bands of rows are filtered and compressed
// on two threads (on the calling one alone when no thread starts) and written in order, a few
// bands ahead at most. False when the device fails or memory runs out; never throws.
bool writePng(const QImage &picture, QIODevice &device);

// Rows of a picture `width` pixels wide in each band.
int pngBandRows(int width);
