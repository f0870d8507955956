#pragma once

#include "engine/core/outcome.h"

#include <QByteArray>
#include <QString>


// Copies the EXIF of the picture file `source` (named by its bytes) that tells how it was taken
// (camera, lens, date and time, exposure, place) into the encoded image `target`. Orientation,
// the thumbnail and what describes the source's pixel layout stay behind: the pixels in `target`
// are already upright and laid out by its own encoder. A source without EXIF, or one exiv2 does
// not know, leaves `target` untouched. Fails, with `target` as it was, where `target` could not
// be changed.
Outcome<> copyCaptureMetadata(const QByteArray &source, QByteArray &target);
