#include "imaging/surface.h"

#include <cmath>

QImage blankSurface(int width, int height)
{
    QImage surface(width, height, QImage::Format_RGB32);
    surface.fill(Qt::black);
    return surface;
}

float scaleWidth(const QImage &surface, UnitsPerPixel units)
{
    return static_cast<float>(surface.width()) * units.x;
}

float scaleHeight(const QImage &surface, UnitsPerPixel units)
{
    return static_cast<float>(surface.height()) * units.y;
}

namespace {

// The pixel under a point, or false when the point lies outside the surface.
bool pixelAt(const QImage &surface, UnitsPerPixel units, float x, float y, int &column, int &row)
{
    if (!(x >= 0.0f && y >= 0.0f))
        return false;
    const double c = std::floor(static_cast<double>(x) / static_cast<double>(units.x));
    const double r = std::floor(static_cast<double>(y) / static_cast<double>(units.y));
    if (c >= surface.width() || r >= surface.height())
        return false;
    column = static_cast<int>(c);
    row = static_cast<int>(r);
    return true;
}

} // namespace

PixelColor ReadPixel(const QImage &surface, UnitsPerPixel units, float x, float y)
{
    int column = 0;
    int row = 0;
    if (!pixelAt(surface, units, x, y, column, row))
        return -1;
    const QRgb rgb = reinterpret_cast<const QRgb *>(surface.constScanLine(row))[column];
    return qRed(rgb) + 256 * qGreen(rgb) + 65536 * qBlue(rgb);
}

void WritePixel(QImage &surface, UnitsPerPixel units, float x, float y, PixelColor color)
{
    int column = 0;
    int row = 0;
    if (!pixelAt(surface, units, x, y, column, row))
        return;
    reinterpret_cast<QRgb *>(surface.scanLine(row))[column] =
        qRgb(color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff);
}
