#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;

// Encodes the picture onto the device; false when it could not.
using DeviceWriter = std::function<bool(const QImage &, QIODevice &)>;

// Replaces the file whole or leaves it untouched: written to a temporary file in the same
// folder, then renamed. In a read-only folder a writable file is overwritten in place.
// nullopt on success, else the reason, as the system gave it where it gave one.
std::optional<QString> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode);
