#pragma once

#include "engine/write/write.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class CommonDialog;
class QIODevice;

inline const QString SaveFilter = QStringLiteral("Bitmap Files (*.bmp)|*.bmp|All Files (*.*)|*.*|");

// Asks for a path in the save dialog and writes the surface there as BMP, whatever the
// extension. nullopt when saved or cancelled; otherwise the message for the user.
std::optional<QString> saveCanvas(CommonDialog &dialog, const QImage &surface);

// The BMP bytes to any device; false when the device fails part-way.
bool writeBmp(const QImage &surface, QIODevice &device);

// The BMP file through writeImageFile; tests hand in a writer that fails.
std::optional<QString> writeBmpFile(const QImage &surface, const QString &path, const DeviceWriter &write = writeBmp);
