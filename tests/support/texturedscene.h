#pragma once

#include "engine/align/alignment.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>

// A frame of a deterministic scene with detail at every scale a feature detector looks at:
// smooth noise in three octaves under anti-aliased discs and boxes. Frame pixel (x, y) shows the
// scene's point toScene(x, y), pixel centres at integers, so a frame seen through a known
// homography is rendered directly, never resampled from another picture.
QImage sceneFrame(QSize size, const Homography &toScene, std::uint32_t seed = 1);
// The same through any mapping of frame pixels to scene points.
QImage sceneFrame(QSize size, const std::function<QPointF(QPointF)> &toScene, std::uint32_t seed = 1);

Homography inverted(const Homography &h);
// About the picture's centre: zoom, turn (degrees), tilt (the denominator's x and y terms, per
// pixel), then shift.
Homography moved(QSize size, double dx, double dy, double degrees = 0, double zoom = 1, double tiltX = 0,
                 double tiltY = 0);
// The largest distance, in pixels, between where the area's four corners land under a and b.
double cornerError(const Homography &a, const Homography &b, QSize area);
