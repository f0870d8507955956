// Writes COUNT JPEG frames of one smooth scene with independent noise, WIDTH x HEIGHT pixels,
// as DIR/frame000.jpg...: a burst for timing whole median runs from files.
#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <cstdio>
#include <random>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 5) {
        std::fputs("usage: makeburst DIR COUNT WIDTH HEIGHT\n", stderr);
        return 2;
    }
    const QDir dir(arguments[1]);
    const int count = arguments[2].toInt();
    const int width = arguments[3].toInt();
    const int height = arguments[4].toInt();
    std::mt19937 random(7);
    QImage coarse(std::max(width / 10, 1), std::max(height / 10, 1), QImage::Format_RGB32);
    for (int y = 0; y < coarse.height(); ++y)
        for (int x = 0; x < coarse.width(); ++x)
            coarse.setPixel(x, y, 0xff000000u | static_cast<QRgb>(random() & 0xffffffu));
    const QImage scene = coarse.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int i = 0; i < count; ++i) {
        QImage frame = scene.copy();
        for (int y = 0; y < frame.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); x += 3)
                row[x] ^= static_cast<QRgb>(random() & 0x070707u);
        }
        if (!frame.save(dir.filePath(QStringLiteral("frame%1.jpg").arg(i, 3, 10, QLatin1Char('0'))), "jpg", 90))
            return 1;
    }
    return 0;
}
