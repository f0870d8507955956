#pragma once

#include "engine/core/outcome.h"
#include "engine/decode/decodelimits.h"

#include <QByteArrayView>
#include <QImage>

class QIODevice;

// Whether a file that starts with `head` is a binary PPM (P6) or PGM (P5) of more than 8 bits
// (maxval over 255), which Qt's reader cuts to 8.
bool isDeepPnm(QByteArrayView head);

// Its samples scaled to 0-65535 (round(v * 65535 / maxval)) as Format_RGBX64, or
// Format_Grayscale16 for a PGM. Reads the device from its start.
Outcome<QImage> decodeDeepPnm(QIODevice &device, const SizeAdmission &admit);
