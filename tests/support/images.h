#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

// Seeded random RGB32 picture (alpha 0xff).
QImage randomPicture(int width, int height, std::uint32_t seed);
QImage filledPicture(int width, int height, QRgb color);
// Writes the picture as a file of the given format into dir; returns the path.
QString writePicture(const QImage &picture, const QString &dir, const QString &name, const char *format = "bmp");
// Empty when both are 32-bit pictures of one size whose pixel words are equal, alpha included;
// else where they first differ, for the failure message.
QString pixelDifference(const QImage &actual, const QImage &expected);
bool samePixels(const QImage &actual, const QImage &expected);

#define QCOMPARE_PIXELS(actual, expected)                                                          \
    do {                                                                                           \
        const QString difference_ = pixelDifference(actual, expected);                            \
        QVERIFY2(difference_.isEmpty(), qPrintable(difference_));                                  \
    } while (false)
