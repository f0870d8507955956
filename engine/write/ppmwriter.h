#pragma once

#include <QImage>

class QIODevice;

// Binary PPM (P6, maxval 255) of the picture's RGB. Qt's PPM writer leaks its row buffer when the
// device refuses a write, as a full disk does.
bool writePpm(const QImage &picture, QIODevice &device);
