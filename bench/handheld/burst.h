#pragma once

// What the hand-held bench tools share about a makeburst-handheld folder: its true transforms,
// the area every frame covers under them, and how far a picture or a fit is from the truth.
#include "engine/align/alignment.h"

#include <QDir>
#include <QImage>
#include <QPointF>
#include <QRect>

#include <optional>
#include <vector>

struct Truth {
    QString file;
    Homography toFrame;
};

// Frames in transforms.txt order; empty when the file is missing or holds none.
std::vector<Truth> readTruths(const QDir &dir);

// Mean square over the area's four corners, each moved by `origin`, of the distance between
// where a and b take them.
double cornerSquareError(const Homography &a, const Homography &b, QSize area, QPointF origin = {});

// Pixels of the reference's grid that every frame of `frameSize` covers under its true transform,
// by warpFrame's rule (the pre-image within [0, w-1] x [0, h-1]). Frame 0 being the identity, it
// is convex and never empty.
Coverage interiorOf(const std::vector<Truth> &truths, QSize frameSize, QSize area);

// The largest axis-aligned rectangle inside a convex coverage.
QRect largestRectangleIn(const Coverage &coverage);

// PSNR over the RGB channels of the pixels in `where` (every pixel of `a` without it); nullopt
// when the sizes differ or nothing is compared.
std::optional<double> psnr(const QImage &a, const QImage &b, const Coverage *where = nullptr);
// The least PSNR over the side x side tiles of a grid that lie wholly in `where`: a doubled edge
// shows there however small its share of the whole.
std::optional<double> worstTilePsnr(const QImage &a, const QImage &b, const Coverage &where, int side = 64);

// Per pixel and channel the median of the frames that cover it (even count: floor of the mean
// of the two middle values, as the stack's median), frames given warped into the area.
QImage medianOfWarped(const std::vector<WarpedFrame> &warped, QSize area);
