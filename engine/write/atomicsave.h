#pragma once

#include "engine/core/outcome.h"

#include <QImage>
#include <QString>

#include <functional>

class QIODevice;

// Encodes the picture onto the device; false when it could not.
using DeviceWriter = std::function<bool(const QImage &, QIODevice &)>;

// Whether a writable file in a read-only folder may be overwritten in place, where a failure
// part-way loses the old file.
enum class InPlace { Allowed, Refused };

// Changes the encoded bytes before they are written (metadata added), or says why it cannot.
using EncodedEdit = std::function<Outcome<>(QByteArray &encoded)>;

// Replaces the file whole or leaves it untouched. The new file is written unnamed (O_TMPFILE) in
// the same folder and only linked into place once complete and on disk: a run killed at any point
// leaves the old file or the new one, nothing beside them, but for the two system calls that link
// it under a temporary name and rename that over the old file. Where the file system has no
// unnamed files, a named temporary "NAME.<random>" takes its place and a killed run may leave it.
// With InPlace::Allowed a read-only folder's writable file is written directly. A symbolic link
// stays and its target is replaced; a replaced file keeps its mode. The written file must read
// back as a picture of the same size, or the save fails. The failure says the system's reason
// where it gave one.
Outcome<> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode,
                         InPlace inPlace = InPlace::Allowed, const EncodedEdit &edit = {});
