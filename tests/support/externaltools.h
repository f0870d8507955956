#pragma once

#include <QByteArray>
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
