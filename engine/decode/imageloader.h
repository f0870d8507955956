#pragma once

#include "engine/core/outcome.h"
#include "engine/decode/decodelimits.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QFile;
class QFileDevice;
class QIODevice;

// Which file a path named when it was read: a picture stands for it only while these match.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity &) const = default;
};
std::optional<FileIdentity> identityOf(const QString &path);
// The file an open device reads, whatever its path names by now.
std::optional<FileIdentity> identityOf(const QFileDevice &opened);

// Decodes an image file to a Format_RGB32 surface: BMP, JPEG, GIF, PNG, TIFF, WebP, HEIC/HEIF
// and camera RAW; colours converted to sRGB from an embedded profile, 16-bit samples rounded to
// nearest, EXIF orientation applied, alpha composited over black, first frame of an animation.
// Only regular files are read (a named pipe would block the decoder forever). For anything that
// does not decode, the Failure says why: the system's error (also when the memory for its pixels
// cannot be had), "not a regular file", "too large" or "not a picture or damaged". `identity`, when given, receives the identity
// of the file as opened, so a file swapped in after the open never matches it.
Outcome<QImage> decodeImageFile(const QString &path, std::optional<FileIdentity> *identity = nullptr);
// The same at `depth`. At Sixteen: Format_RGBX64, 16-bit PNG, TIFF, PPM and PGM samples exact,
// 8-bit ones widened (v * 257), camera RAW as LibRaw develops it, HEIC above 8 bits scaled to 16,
// colours converted to sRGB at 16 bits; Eight gives exactly what the call above gives.
Outcome<QImage> decodeImageFile(const QString &path, SampleDepth depth, std::optional<FileIdentity> *identity = nullptr);

// Whether the file's samples hold more than 8 bits (16-bit PNG, TIFF and PPM, camera RAW, HEIC
// of 10 or 12 bits), from its header alone; Eight for a file that cannot be read.
SampleDepth storedDepth(const QString &path);

// The file this thread is decoding, its path as given; empty between loads.
// A message handler names with it the file a decoder's warning is about.
QString pathBeingDecoded();

// The caller of the decode this thread runs has given it up, and refuses its reads: what its
// decoder says from here on ("Corrupt JPEG data: premature end") is about that, not the file, and
// a message handler drops it. Cleared when the decode ends.
void giveUpDecoding();
bool decodingGivenUpOn();

// The same decoding from bytes in memory. With no file name the format comes from the content
// alone, where a file's suffix is tried first.
Outcome<QImage> decodeImageData(const QByteArray &data, SampleDepth depth = SampleDepth::Eight);

// The same decoding from an opened device; for a file, its suffix is tried first as with a path.
// The caller checks that a file is a regular one.
Outcome<QImage> decodeImageDevice(QIODevice &device, const SizeAdmission &admit = {});
// At `depth`, as decodeImageFile() at a depth; a name of its own, so that the one above still
// converts to a FrameDecoder.
Outcome<QImage> decodeImageDeviceAtDepth(QIODevice &device, const SizeAdmission &admit, SampleDepth depth);

// The EXIF of a picture file that only a decoder reads (HEIC/HEIF), as TIFF-structured bytes;
// empty for any other file and one without EXIF.
QByteArray embeddedExif(const QString &path);

// Opens the file for decoding if it is a regular one (a named pipe would block a decoder
// forever); else why not, as decodeImageFile() says it. The file's name is a path as
// engine/filenames.h carries it; one that is not UTF-8 gives a reader no suffix to try first.
Outcome<> openForDecoding(QFile &file);
