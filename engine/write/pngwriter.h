#pragma once

#include <QImage>

class QIODevice;

// The opaque picture as an RGB PNG tagged sRGB: 16 bits a sample where the picture has more than
// 8 (Format_RGBX64 and the like), else 8. Bands of rows are filtered and compressed on two
// threads (on the calling one alone when no thread starts) and written in order, a few bands
// ahead at most. False when the device fails or memory runs out; never throws.
bool writePng(const QImage &picture, QIODevice &device);

// Rows of a picture `width` pixels wide in each band.
int pngBandRows(int width, int bitsPerSample = 8);
