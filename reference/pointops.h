#pragma once

#include "imaging/surface.h"

#include <QImage>

#include <vector>

// Straightforward point-by-point versions of the operations: read, split, compute, clamp,
// compose, write at every point of the float walk. The oracle the fast paths must match.

void referenceBrighten(QImage &canvas, UnitsPerPixel units, float width, float height);

// Points outside the second picture are left as they are.
void referenceSubtract(QImage &canvas, const QImage &second, UnitsPerPixel units, float width, float height);

// `held[i]` is what the canvas held when image i was copied; the medians over the stacked
// area (width x height in scale units) are written onto `canvas`.
void referenceMedian(QImage &canvas, const std::vector<QImage> &held, UnitsPerPixel units, float width,
                     float height);
