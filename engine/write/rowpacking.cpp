#include "engine/write/rowpacking.h"

#include <QtEndian>

bool hasDeepSamples(const QImage &picture)
{
    // 64 and 128 bits a pixel: RGBA64 and the floating-point formats.
    return picture.depth() >= 64 || picture.format() == QImage::Format_Grayscale16;
}

void packRgbRow(const QRgb *words, std::size_t width, std::uint8_t *bytes)
{
    for (std::size_t x = 0; x < width; ++x) {
        bytes[3 * x] = std::uint8_t(qRed(words[x]));
        bytes[3 * x + 1] = std::uint8_t(qGreen(words[x]));
        bytes[3 * x + 2] = std::uint8_t(qBlue(words[x]));
    }
}

void packRgb48Row(const QRgba64 *pixels, std::size_t width, std::uint8_t *bytes)
{
    for (std::size_t x = 0; x < width; ++x) {
        qToBigEndian(pixels[x].red(), bytes + 6 * x);
        qToBigEndian(pixels[x].green(), bytes + 6 * x + 2);
        qToBigEndian(pixels[x].blue(), bytes + 6 * x + 4);
    }
}
