#pragma once

#include "engine/write/atomicsave.h"

#include <QString>
#include <QStringList>

#include <optional>

// The image format a result is written in, chosen by the output name's extension.
struct OutputFormat {
    QByteArray name; // as QImageWriter knows it
    int quality = -1; // the writer's default when -1
    bool tagged = false; // tagged sRGB, and carries the first input's capture metadata
    bool holdsSixteenBits = false; // else a 16-bit picture is written rounded to 8 bits
    DeviceWriter writer() const;
};

// Case-insensitive; nullopt for no extension or one this build cannot write.
std::optional<OutputFormat> outputFormatFor(const QString &path);

// ".bmp", ".png", ... each only where this Qt can write it.
QStringList supportedExtensions();
// Those of supportedExtensions() whose formats hold 16 bits a sample: ".png", ".ppm", ".tif", ...
QStringList sixteenBitExtensions();
