#pragma once

#include "engine/align/coverage.h"
#include "engine/stack/stackmode.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

// Splits `width` pixels of row y of an RGB32 picture into three rows of bytes, or of an RGBX64
// picture into three rows of 16-bit samples, at the addresses given.
void splitRow(const QImage &picture, int y, std::uint8_t *red, std::uint8_t *green, std::uint8_t *blue, int width);

// Channel planes as the stack modes read them: rows of rowLength samples, images imageStride
// samples apart, of one byte or two as the run's depth says; the pointers are the planes' addresses.
struct PlaneRows {
    const std::uint8_t *red;
    const std::uint8_t *green;
    const std::uint8_t *blue;
    std::size_t imageStride;
    int imageCount;
    int rowLength;
    // With warped frames, which of them give a sample where; row 0 here is the area's `firstRow`.
    // Null: every image gives one everywhere.
    const FrameCoverage *coverage = nullptr;
    int firstRow = 0;
};

// Writes the stacked values of plane rows [0, rows) over `width` pixels of the picture rows that
// start at `bits` (RGB32 or RGBX64 as options.depth says), spread over the worker pool; a pixel no image covers keeps its value. Returns when
// all are written. False, with nothing written, when the memory for the workers' rows cannot be had.
bool paintStackRows(const StackOptions &options, const PlaneRows &planes, std::uint8_t *bits, qsizetype bytesPerLine,
                    int width, int rows);
