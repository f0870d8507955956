#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

// Seeded random RGB32 picture (alpha 0xff).
QImage randomPicture(int width, int height, std::uint32_t seed);
QImage filledPicture(int width, int height, QRgb color);
// Writes the picture as a file of the given format into dir; returns the path.
QString writePicture(const QImage &picture, const QString &dir, const QString &name, const char *format = "bmp");
// Every pixel's RGB equal; the alpha byte ignored.
bool samePixels(const QImage &a, const QImage &b);
