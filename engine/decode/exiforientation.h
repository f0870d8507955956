#pragma once

#include <QImageIOHandler>

class QIODevice;

// The EXIF orientation a PNG ('eXIf' chunk) or a WebP ('EXIF' chunk) file carries, which Qt's
// readers for them leave unapplied; TransformationNone for other files and where there is none.
// Reads the device from its start; leaves its position anywhere.
QImageIOHandler::Transformations embeddedOrientation(QIODevice &device);
