#pragma once

#include "engine/core/outcome.h"
#include "engine/decode/decodelimits.h"

#include <QByteArrayView>
#include <QImage>
#include <QString>


class QIODevice;

// Whether a file goes to LibRaw: a DNG by its content, a maker's format by its suffix. Most
// makers' formats are TIFF inside and would reach Qt's TIFF reader, which shows their preview
// or an undeveloped mosaic; and LibRaw also identifies some cameras by the file's size alone,
// so trying it on whatever Qt declines would develop any file of such a size into noise.
bool isCameraRaw(QIODevice &device, QByteArrayView head, const QString &suffix);

// Develops a camera RAW file as a camera would show it: the camera's white balance, AHD
// demosaic, sRGB, 16 bits per channel (Format_RGBX64, tagged sRGB), the camera's orientation
// applied. Reads the whole file into memory first, at most MaxRawFileBytes.
Outcome<QImage> decodeCameraRaw(QIODevice &device, const SizeAdmission &admit);

// The largest RAW files are medium-format ones of about 250 MB.
inline constexpr qint64 MaxRawFileBytes = 512LL << 20;
