#pragma once

#include "engine/core/outcome.h"

#include <QByteArray>
#include <QString>


// Where the capture metadata comes from: the first input's file, which exiv2 reads, or the EXIF a
// decoder found in it where exiv2 cannot read the file (HEIC).
struct CaptureSource {
    QByteArray fileName; // by its bytes
    QByteArray exif;     // TIFF-structured; when not empty, taken instead of the file's
};

// Copies the EXIF of the picture file `source` that tells how it was taken
// (camera, lens, date and time, exposure, place) into the encoded image `target`. Orientation,
// the thumbnail and what describes the source's pixel layout stay behind: the pixels in `target`
// are already upright and laid out by its own encoder. A source without EXIF, or one exiv2 does
// not know, leaves `target` untouched. Fails, with `target` as it was, where `target` could not
// be changed.
Outcome<> copyCaptureMetadata(const CaptureSource &source, QByteArray &target);
