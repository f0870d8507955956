#pragma once

#include "imaging/pixelcolor.h"

#include <QImage>

// Scale units are 1/1440 inch; a display pixel is this many of them (15 at 96 dpi).
struct UnitsPerPixel {
    float x = 15.0f;
    float y = 15.0f;
};

// Every surface is QImage::Format_RGB32: 0xffRRGGBB words, one per pixel.
QImage blankSurface(int width, int height);

float scaleWidth(const QImage &surface, UnitsPerPixel units);
float scaleHeight(const QImage &surface, UnitsPerPixel units);

// x, y in scale units; the point addresses the pixel whose cell holds it.
PixelColor ReadPixel(const QImage &surface, UnitsPerPixel units, float x, float y);
// A write outside the surface changes nothing.
void WritePixel(QImage &surface, UnitsPerPixel units, float x, float y, PixelColor color);

// The point-by-point walk: rows from y = 1 while y <= height, columns from x = 1 while
// x <= width, coordinates built by repeated float addition.
template <typename Visit>
void walkPoints(float width, float height, UnitsPerPixel units, Visit visit)
{
    for (float y = 1.0f; y <= height; y += units.y)
        for (float x = 1.0f; x <= width; x += units.x)
            visit(x, y);
}
