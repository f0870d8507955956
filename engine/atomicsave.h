#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;

// Encodes the picture onto the device; false when it could not.
using DeviceWriter = std::function<bool(const QImage &, QIODevice &)>;

// Whether a writable file in a read-only folder may be overwritten in place, where a failure
// part-way loses the old file.
enum class InPlace { Allowed, Refused };

// Replaces the file whole or leaves it untouched: written to a temporary file in the same
// folder, then renamed; with InPlace::Allowed a read-only folder's writable file is written
// directly. A symbolic link stays and its target is replaced; a replaced file keeps its mode.
// nullopt on success, else the reason, as the system gave it where it gave one.
std::optional<QString> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode,
                                      InPlace inPlace = InPlace::Allowed);
