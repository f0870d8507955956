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

// Changes the encoded file, named by its bytes, before it replaces the old one (metadata added);
// nullopt when done, else the reason.
using FileEdit = std::function<std::optional<QString>(const QByteArray &name)>;

// Replaces the file whole or leaves it untouched: written to a temporary file in the same
// folder, then renamed; with InPlace::Allowed a read-only folder's writable file is written
// directly. A symbolic link stays and its target is replaced; a replaced file keeps its mode.
// The written file must read back as a picture of the same size, or the save fails.
// nullopt on success, else the reason, as the system gave it where it gave one.
std::optional<QString> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode,
                                      InPlace inPlace = InPlace::Allowed, const FileEdit &edit = {});
