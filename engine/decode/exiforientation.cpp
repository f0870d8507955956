#include "engine/decode/exiforientation.h"

#include "engine/decode/tiffbytes.h"

#include <QByteArray>
#include <QIODevice>
#include <QtEndian>

#include <array>

namespace {

// EXIF is at most 64 KB in a JPEG; a PNG or WebP carries the same block.
constexpr qint64 MaxExifBytes = 1 << 20;
// Chunks looked at before giving up: a file's own are a handful, a hostile one's unbounded.
constexpr int MaxChunks = 4096;
constexpr quint16 OrientationTag = 0x0112;

using Transformation = QImageIOHandler::Transformation;

// EXIF's values 1 to 8, as JPEG's readers apply them.
constexpr std::array<QImageIOHandler::Transformations, 9> ByExifValue{
    Transformation::TransformationNone,          Transformation::TransformationNone,
    Transformation::TransformationMirror,        Transformation::TransformationRotate180,
    Transformation::TransformationFlip,          Transformation::TransformationFlipAndRotate90,
    Transformation::TransformationRotate90,      Transformation::TransformationMirrorAndRotate90,
    Transformation::TransformationRotate270,
};

// The orientation entry of the first directory of TIFF-structured EXIF.
QImageIOHandler::Transformations orientationOfTiff(QByteArray tiff)
{
    if (tiff.startsWith(QByteArray("Exif\0\0", 6)))
        tiff.remove(0, 6);
    if (tiff.size() < 8 || (!tiff.startsWith("MM") && !tiff.startsWith("II")))
        return Transformation::TransformationNone;
    const bool little = tiff.startsWith("II");
    const auto u16 = [&](qsizetype at) { return unsignedAt(tiff, at, 2, little); };
    const auto u32 = [&](qsizetype at) { return unsignedAt(tiff, at, 4, little); };
    const quint32 directory = u32(4);
    if (directory > quint32(tiff.size() - 2))
        return Transformation::TransformationNone;
    const quint32 entries = u16(directory);
    for (quint32 i = 0; i < entries && directory + 2 + 12 * (i + 1) <= quint32(tiff.size()); ++i) {
        const qsizetype entry = qsizetype(directory + 2 + 12 * i);
        if (u16(entry) != OrientationTag)
            continue;
        const quint32 value = u16(entry + 8); // a SHORT, held at the start of the value field
        return value < ByExifValue.size() ? ByExifValue[value] : Transformation::TransformationNone;
    }
    return Transformation::TransformationNone;
}

// A chunk's payload, read whole where it is not too large.
QByteArray payload(QIODevice &device, qint64 at, qint64 size)
{
    if (size > MaxExifBytes || !device.seek(at))
        return {};
    QByteArray bytes = device.read(size);
    return bytes.size() == size ? bytes : QByteArray();
}

// PNG: length, type, data, CRC; 'eXIf' anywhere before 'IEND'.
QByteArray pngExif(QIODevice &device)
{
    qint64 at = 8;
    for (int i = 0; i < MaxChunks && device.seek(at); ++i) {
        const QByteArray header = device.read(8);
        if (header.size() != 8 || header.mid(4) == "IEND")
            break;
        const qint64 size = qFromBigEndian<quint32>(header.constData());
        if (header.mid(4) == "eXIf")
            return payload(device, at + 8, size);
        at += 12 + size;
    }
    return {};
}

// WebP: a RIFF file of chunks, each fourcc, little-endian size, data padded to even length.
QByteArray webpExif(QIODevice &device)
{
    qint64 at = 12;
    for (int i = 0; i < MaxChunks && device.seek(at); ++i) {
        const QByteArray header = device.read(8);
        if (header.size() != 8)
            break;
        const qint64 size = qFromLittleEndian<quint32>(header.constData() + 4);
        if (header.left(4) == "EXIF")
            return payload(device, at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

} // namespace

QImageIOHandler::Transformations embeddedOrientation(QIODevice &device)
{
    if (!device.seek(0))
        return Transformation::TransformationNone;
    const QByteArray head = device.peek(12);
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return orientationOfTiff(pngExif(device));
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return orientationOfTiff(webpExif(device));
    return Transformation::TransformationNone;
}
