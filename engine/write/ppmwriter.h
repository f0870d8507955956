#pragma once

#include <QImage>

class QIODevice;

// Binary PPM (P6) of the picture's RGB: maxval 65535 with big-endian samples where the picture
// has more than 8 bits a sample, else maxval 255. Qt's PPM writer leaks its row buffer when the
// device refuses a write, as a full disk does, and writes 8 bits only.
bool writePpm(const QImage &picture, QIODevice &device);
