#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Copies the EXIF of the picture file `source` that tells how it was taken (camera, lens, date
// and time, exposure, place) into the image file `target`, both named by their bytes. Orientation,
// the thumbnail and what describes the source's pixel layout stay behind: the pixels in `target`
// are already upright and laid out by its own encoder. A source without EXIF, or one exiv2 does
// not know, leaves `target` untouched. nullopt unless `target` could not be changed: then the
// reason, and `target` may be damaged.
std::optional<QString> copyCaptureMetadata(const QByteArray &source, const QByteArray &target);
