#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The programs the loader tests make files with or decode references with (tools/setup-deps
// installs them): heif-enc, heif-convert, cwebp, dcraw_emu, tificc, exiv2, exiftool, python3-tifffile.

// Runs one; empty when it exited 0, else what went wrong, for the failure message. `output`,
// when given, receives what it printed.
QString runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr);

// Writes samples as a TIFF through tests/support/write_tiff.py, which says what `kind` takes.
QString writeTiff(const QString &kind, QSize size, const QByteArray &samples, const QString &out);

// A written picture's samples as a reader other than Qt sees them (tifffile for TIFF, ImageMagick
// for the rest): RGBX64 where the file holds 16 bits a sample, RGB32 where 8. Empty, or what
// went wrong.
QString readIndependently(const QString &path, QImage &picture);
