#include "support/images.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <random>

#include <unistd.h>

QImage randomPicture(int width, int height, std::uint32_t seed)
{
    QImage picture(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (random() & 0xffffffu);
    }
    return picture;
}

QImage randomDeepPicture(int width, int height, std::uint32_t seed)
{
    QImage picture(width, height, QImage::Format_RGBX64); // 8-byte pixels: rows without padding
    std::mt19937_64 random(seed);
    auto *pixels = reinterpret_cast<quint64 *>(picture.bits());
    std::generate(pixels, pixels + width * height, [&] { return random() | 0xffffull << 48; });
    return picture;
}

QImage filledPicture(int width, int height, QRgb color)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(color);
    return picture;
}

QString writePicture(const QImage &picture, const QString &dir, const QString &name, const char *format)
{
    const QString path = QDir(dir).filePath(name);
    picture.save(path, format, 100);
    return path;
}

QByteArray writePictureAs(const QImage &picture, const QString &dir, const QByteArray &name)
{
    const QByteArray path = QFile::encodeName(dir) + '/' + name;
    const QString written = writePicture(picture, dir, QStringLiteral("named-by-bytes.bmp"));
    return std::rename(QFile::encodeName(written).constData(), path.constData()) == 0 ? path : QByteArray();
}

RemovedAtEnd::~RemovedAtEnd()
{
    for (const QByteArray &name : names)
        ::unlink(name.constData());
}

QString pixelDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1 x %2, expected %3 x %4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    if (actual.depth() != expected.depth() || (actual.depth() != 32 && actual.depth() != 64))
        return QStringLiteral("depth %1, expected %2 (32 or 64 both)").arg(actual.depth()).arg(expected.depth());
    const auto pixelBytes = std::size_t(actual.depth() / 8);
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const uchar *got = actual.constScanLine(y) + std::size_t(x) * pixelBytes;
            const uchar *want = expected.constScanLine(y) + std::size_t(x) * pixelBytes;
            if (std::memcmp(got, want, pixelBytes) != 0)
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(got), qsizetype(pixelBytes)).toHex()))
                    .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(want), qsizetype(pixelBytes)).toHex()));
        }
    return {};
}

Samples samplesAt(const QImage &picture, int x, int y)
{
    if (picture.format() == QImage::Format_RGBX64) {
        const auto *pixel = reinterpret_cast<const quint16 *>(picture.constScanLine(y)) + 4 * x;
        return {pixel[0], pixel[1], pixel[2]};
    }
    const QRgb word = picture.pixel(x, y);
    return {qRed(word), qGreen(word), qBlue(word)};
}

void setSamples(QImage &picture, int x, int y, const Samples &samples)
{
    if (picture.format() != QImage::Format_RGBX64) {
        picture.setPixel(x, y, qRgb(samples[0], samples[1], samples[2]));
        return;
    }
    auto *pixel = reinterpret_cast<quint16 *>(picture.scanLine(y)) + 4 * x;
    for (std::size_t c = 0; c < 3; ++c)
        pixel[c] = quint16(samples[c]);
    pixel[3] = 0xffff;
}

bool samePixels(const QImage &actual, const QImage &expected)
{
    return pixelDifference(actual, expected).isEmpty();
}
