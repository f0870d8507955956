#pragma once

#include "engine/core/outcome.h"
#include "engine/decode/decodelimits.h"

#include <QByteArrayView>
#include <QImage>
#include <QString>


class QIODevice;

// Whether a file that starts with `head` is a HEIF container (HEIC, AVIF) that libheif reads.
bool isHeif(QByteArrayView head);

// The primary image of a HEIF file, its transformations (rotation, mirroring, crop) applied,
// as 8-bit RGB, or RGBA when it has alpha, tagged with its ICC profile where it has one. Reads
// the device from its start, as it goes, so that a read refused by the device ends the decode.
// At Sixteen, samples of more than 8 bits come as Format_RGBX64 (RGBA64 with alpha), scaled to
// 0-65535 (round(v * 65535 / (2^bits - 1))).
Outcome<QImage> decodeHeif(QIODevice &device, const SizeAdmission &admit, SampleDepth depth);

// Whether the primary image's samples hold more than 8 bits; false when it cannot be read.
bool heifHasDeepSamples(QIODevice &device);

// The EXIF of a HEIF file's primary image, from its 'Exif' item: TIFF-structured bytes from their
// byte-order mark on. Empty when it has none or cannot be read.
QByteArray heifExif(QIODevice &device);
