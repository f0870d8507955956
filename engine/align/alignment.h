#pragma once

#include "engine/align/coverage.h"
#include "engine/align/localfield.h"
#include "engine/core/outcome.h"

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

// Row-major 3x3: maps a point (x, y, 1) of the reference's pixel grid (pixel centres at integers)
// to the frame's pixel grid.
struct Homography {
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};

    QPointF map(QPointF point) const
    {
        const double w = m[6] * point.x() + m[7] * point.y() + m[8];
        return {(m[0] * point.x() + m[1] * point.y() + m[2]) / w, (m[3] * point.x() + m[4] * point.y() + m[5]) / w};
    }
};

// One homography per frame, or that refined by a local field where the scene is not one plane.
enum class AlignMethod { Global, Local };

// What a frame's alignment rests on.
struct AlignmentFacts {
    int matches = 0;         // feature pairs that passed the ratio test
    int inliers = 0;         // of them, those the global fit keeps
    double residual = 0;     // the global fit's RMS distance over its inliers, in frame pixels
    double refinedTiles = 0; // share of the covered tiles the local field mends
    double refinedArea = 0;  // share of the area those tiles cover
};

// How a frame lies on the reference's grid.
struct FrameAlignment {
    Homography toFrame;
    LocalField field; // empty for the global fit alone
    AlignmentFacts facts;
};

// Features of the reference, computed once; align() is const and safe from several threads at
// once. Features come from a grey copy downscaled to about 1200 pixels on its long side; the fit
// is made in full-resolution coordinates. OpenCV runs on the calling thread alone (its own
// worker threads are turned off the first time alignment is used), so each decode worker
// aligns its frame without competing for the cores. The reference's own features are found by
// the first align() that needs them, on a decode worker, while the others decode: building them
// up front would hold up the run before its first frame.
class AlignmentReference {
public:
    // Format_RGB32 or RGBX64, the stacked area. Local finds its features on a copy half the size
    // and lets the field recover the accuracy.
    explicit AlignmentReference(const QImage &reference, AlignMethod method = AlignMethod::Global);
    // The frame's mapping, or why not: "too few matching features (12 of 40 needed)", "the fit
    // folds or shrinks the picture too far", or the system's reason when the memory for the
    // features cannot be had. Local: the global fit, then a field found on the reduced copies.
    Outcome<FrameAlignment> align(const QImage &frame) const;
    QSize area() const;

    struct Features;
    struct Shared;

private:
    const Features *referenceFeatures() const;

    QSize m_area;
    AlignMethod m_method;
    std::shared_ptr<Shared> m_shared;
};

struct WarpedFrame {
    QImage picture; // of the frame's format (RGB32 or RGBX64) and the area's size
    Coverage coverage;
};
// The frame resampled into the reference grid at full resolution, bicubic (8-bit frames in
// bicubicRow's integers, 16-bit ones by OpenCV), through maps computed in float. Pixel p is covered
// when its pre-image toFrame(p + field(p)) lies within [0, w-1] x [0, h-1] of the frame (in
// double precision for the homography alone, in float through a field; a row's span is then its
// longest covered run); there the kernel's taps that fall beyond the frame's edge repeat the edge
// pixel, so a covered pixel is made of frame data alone. Uncovered pixels hold repeated edge
// pixels too and mean nothing. nullopt when the memory cannot be had.
std::optional<WarpedFrame> warpFrame(const QImage &frame, const Homography &toFrame, QSize area,
                                     const LocalField &field = {});
