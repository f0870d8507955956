#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// An unsigned field of `count` bytes (at most 4) at `at` of TIFF-structured bytes, in the byte
// order their header says. The caller keeps `at + count` within the bytes.
inline quint32 unsignedAt(QByteArrayView bytes, qsizetype at, int count, bool littleEndian)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | quint32(quint8(bytes[at + (littleEndian ? count - 1 - i : i)]));
    return value;
}
