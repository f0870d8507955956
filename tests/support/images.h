#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>

// Seeded random RGB32 picture (alpha 0xff).
QImage randomPicture(int width, int height, std::uint32_t seed);
// Seeded random RGBX64 picture: every bit of R, G and B drawn, X 0xffff.
QImage randomDeepPicture(int width, int height, std::uint32_t seed);
QImage filledPicture(int width, int height, QRgb color);
// Writes the picture as a file of the given format into dir; returns the path.
QString writePicture(const QImage &picture, const QString &dir, const QString &name, const char *format = "bmp");
// The picture as a BMP file in dir under a name of any bytes, which Qt could not write by
// name; returns the file's full name.
QByteArray writePictureAs(const QImage &picture, const QString &dir, const QByteArray &name);

// Removes these files at the end: QTemporaryDir cannot see names that are not UTF-8, so it
// would leave them and their folder behind.
struct RemovedAtEnd {
    QList<QByteArray> names;
    ~RemovedAtEnd();
};
// Empty when both are 32-bit or both 64-bit pictures of one size whose pixels are equal, alpha
// included; else where they first differ, for the failure message.
QString pixelDifference(const QImage &actual, const QImage &expected);

// A pixel's red, green and blue samples of an RGB32 (0-255) or RGBX64 (0-65535) picture.
using Samples = std::array<int, 3>;
Samples samplesAt(const QImage &picture, int x, int y);
void setSamples(QImage &picture, int x, int y, const Samples &samples);
bool samePixels(const QImage &actual, const QImage &expected);

#define QCOMPARE_PIXELS(actual, expected)                                                          \
    do {                                                                                           \
        const QString difference_ = pixelDifference(actual, expected);                            \
        QVERIFY2(difference_.isEmpty(), qPrintable(difference_));                                  \
    } while (false)
