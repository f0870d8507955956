#include "support/images.h"

#include <QDir>
#include <QFile>

#include <cstdio>

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

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffffu) != (b.pixel(x, y) & 0xffffffu))
                return false;
    return true;
}
