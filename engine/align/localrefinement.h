#pragma once

// Inside the align library only: it speaks OpenCV.
#include "engine/align/localfield.h"

#include <opencv2/core.hpp>

// The field found beyond a global fit, and how much of the frame it mends.
struct Refinement {
    LocalField field;  // empty where nothing was refined or the field would fold
    double tiles = 0;  // share of the tiles the frame covers that were refined
    double area = 0;   // share of the reference's area those tiles cover
};

// Compares the reduced grey copies of the reference and of the frame warped by the global fit
// (`toFrame`: reduced reference pixels to reduced frame pixels) by dense optical flow. A tile
// keeps its flow only where that matches at least as well as the global fit and about as well as
// the frame matches elsewhere, and moves less than MaxLocalShift of the width; the others (an
// occlusion, a mover, a flat patch) take the global fit. Smoothed, and dropped where the mapping
// would fold. `scale` takes reduced reference pixels to full ones: (x + 0.5) scale - 0.5.
Refinement refineLocally(const cv::Mat &referenceGrey, const cv::Mat &frameGrey, const cv::Matx33d &toFrame,
                         cv::Point2d scale);
