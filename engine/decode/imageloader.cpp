#include "engine/decode/imageloader.h"

#include "engine/core/filenames.h"
#include "engine/core/framebuffers.h"
#include "engine/decode/colourconversion.h"
#include "engine/decode/decodelimits.h"
#include "engine/decode/exiforientation.h"
#include "engine/decode/heifdecoder.h"
#include "engine/decode/pnmdecoder.h"
#include "engine/decode/rawdecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QScopeGuard>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>

#include <fcntl.h>

namespace {

thread_local QString decodingPath;
thread_local bool decodingGivenUp = false;

// The path a file was opened by, kept on the QFile: one opened by descriptor has no name.
constexpr char NameProperty[] = "ombreluxPath";

// Enough for every signature.
constexpr qint64 HeadBytes = 4096;

FileIdentity identityFrom(const struct stat &info)
{
    return {std::uint64_t(info.st_dev), std::uint64_t(info.st_ino), std::int64_t(info.st_size),
            std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void setUpReaderOnce()
{
    static std::once_flag once;
    // Qt's 128 MB default refuses ordinary 36-megapixel photos; no limit at all lets a few
    // bytes claiming 30000 x 20000 pixels take seconds and gigabytes.
    std::call_once(once, [] { QImageReader::setAllocationLimit(1024); });
}

// Premultiplied colour bytes are the picture drawn over black.
QImage flattenOverBlack(QImage image)
{
    QImage flat = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (flat.isNull() || !flat.reinterpretAsFormat(QImage::Format_RGB32))
        return {};
    return flat;
}

// Sets every alpha byte to 0xff. A flattened picture still holds its coverage there, and a
// decoder's RGB32 is not always opaque: Qt's GIF reader leaves pixels no frame covers at 0.
// Width and row pointers are taken once: an out-of-line QImage call per pixel cost more than
// the loop itself, which now vectorises.
void makeOpaque(QImage &surface)
{
    const auto width = std::size_t(surface.width());
    const qsizetype bytesPerLine = surface.bytesPerLine();
    uchar *bits = surface.bits();
    for (int y = 0; y < surface.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(bits + y * bytesPerLine);
        for (std::size_t x = 0; x < width; ++x)
            row[x] |= 0xff000000u;
    }
}

// Qt's BMP reader leaves the pixels it never reaches (rows missing from a truncated file, pixels
// skipped by an RLE delta) as it finds them, and it decodes into the image it is handed when
// size and format match. A black one keeps stale memory out of the picture. RGB32 targets, the
// usual JPEG and BMP frame, and RGBX64 ones, 16-bit TIFF and PNG, come on a reused buffer: fresh
// memory costs more than decoding.
QImage blankTarget(QImageReader &reader, QSize announced)
{
    const QImage::Format format = reader.imageFormat();
    if (!announced.isValid() || format == QImage::Format_Invalid)
        return {};
    if (format == QImage::Format_RGB32 || format == QImage::Format_RGBX64) {
        QImage target = recycledImage(announced, format);
        target.fill(Qt::black);
        return target;
    }
    if (reader.format() != "bmp")
        return {};
    QImage target(announced, format);
    if (target.depth() <= 8)
        target.fill(0u);
    else
        target.fill(target.hasAlphaChannel() ? Qt::transparent : Qt::black);
    return target;
}

// A decoder's picture as stored; `orientation` says how to turn it upright, after its colours
// are converted.
struct Decoded {
    QImage picture;
    QImageIOHandler::Transformations orientation = QImageIOHandler::TransformationNone;
};

// Whatever Qt's readers know: BMP, JPEG, GIF, PNG, and TIFF and WebP with Qt's image format
// plugins.
Outcome<Decoded> decodeWithQt(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    QImageReader reader(&device);
    reader.setAutoTransform(false);
    const QSize announced = reader.size();
    if (!admitted(announced, admit))
        return Failure{TooLarge};
    QImage decoded = blankTarget(reader, announced);
    if (!reader.read(&decoded) || decoded.isNull())
        return Failure{whyNotDecoded(announced, depth)};
    QImageIOHandler::Transformations orientation = reader.transformation();
    // Qt's PNG and WebP readers leave the EXIF orientation these files may carry unapplied.
    if (orientation == QImageIOHandler::TransformationNone)
        orientation = embeddedOrientation(device);
    return Decoded{std::move(decoded), orientation};
}

// A decoder's picture handed over upright.
Outcome<Decoded> upright(Outcome<QImage> decoded)
{
    if (!decoded)
        return Failure{decoded.reason()};
    return Decoded{std::move(*decoded)};
}

// For decoders that hand their picture over upright, at the depth they decode to.
template <Outcome<QImage> (*decode)(QIODevice &, const SizeAdmission &)>
Outcome<Decoded> decodeUpright(QIODevice &device, const SizeAdmission &admit, SampleDepth)
{
    return upright(decode(device, admit));
}

bool anyContent(QIODevice &, QByteArrayView, const QString &)
{
    return true;
}

bool heifContent(QIODevice &, QByteArrayView head, const QString &)
{
    return isHeif(head);
}

bool deepPnmContent(QIODevice &, QByteArrayView head, const QString &)
{
    return isDeepPnm(head);
}

Outcome<Decoded> decodeHeifAtDepth(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    return upright(decodeHeif(device, admit, depth));
}

// Qt's reader keeps today's 8-bit samples at 8 bits; ours keeps all of them at 16.
Outcome<Decoded> decodePnmAtDepth(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    if (depth == SampleDepth::Eight)
        return decodeWithQt(device, admit, depth);
    return decodeUpright<decodeDeepPnm>(device, admit, depth);
}

template <SampleDepth depth>
SampleDepth always(QIODevice &)
{
    return depth;
}

SampleDepth heifDepth(QIODevice &device)
{
    return heifHasDeepSamples(device) ? SampleDepth::Sixteen : SampleDepth::Eight;
}

SampleDepth qtDepth(QIODevice &device)
{
    static constexpr std::array Deep{QImage::Format_Grayscale16, QImage::Format_RGBX64, QImage::Format_RGBA64,
                                     QImage::Format_RGBA64_Premultiplied, QImage::Format_RGBX16FPx4,
                                     QImage::Format_RGBA16FPx4, QImage::Format_RGBA16FPx4_Premultiplied,
                                     QImage::Format_RGBX32FPx4, QImage::Format_RGBA32FPx4,
                                     QImage::Format_RGBA32FPx4_Premultiplied};
    QImageReader reader(&device);
    return std::ranges::find(Deep, reader.imageFormat()) != Deep.end() ? SampleDepth::Sixteen : SampleDepth::Eight;
}

// The decoders in the order they are tried: the first that recognises a file's head (and, for
// a camera's RAW format, its suffix) decodes it; each says from the header alone whether the
// file's samples hold more than 8 bits.
struct FileFormat {
    bool (*recognises)(QIODevice &device, QByteArrayView head, const QString &suffix);
    Outcome<Decoded> (*decode)(QIODevice &device, const SizeAdmission &admit, SampleDepth depth);
    SampleDepth (*storedDepth)(QIODevice &device);
};
constexpr std::array<FileFormat, 4> FileFormats{{
    {heifContent, decodeHeifAtDepth, heifDepth},
    {isCameraRaw, decodeUpright<decodeCameraRaw>, always<SampleDepth::Sixteen>},
    {deepPnmContent, decodePnmAtDepth, always<SampleDepth::Sixteen>},
    {anyContent, decodeWithQt, qtDepth},
}};

const FileFormat &formatOf(QIODevice &device, QByteArrayView head, const QString &name)
{
    const QString suffix = QFileInfo(name).suffix();
    return *std::find_if(FileFormats.begin(), FileFormats.end(),
                         [&](const FileFormat &candidate) { return candidate.recognises(device, head, suffix); });
}

// Every alpha sample of a premultiplied RGBA64 picture (drawn over black) set to 0xffff.
void makeOpaque64(QImage &surface)
{
    const auto width = std::size_t(surface.width());
    for (int y = 0; y < surface.height(); ++y) {
        auto *row = reinterpret_cast<quint16 *>(surface.scanLine(y));
        for (std::size_t x = 0; x < width; ++x)
            row[4 * x + 3] = 0xffff;
    }
}

// The loader's surface at 16 bits: 8-bit samples widened exactly (v * 257, Qt's conversion)
// before the colours are converted, so that the conversion works on 16 bits; alpha over black,
// opaque RGBX64, upright.
Outcome<QImage> finishedDeep(Decoded decoded)
{
    QImage &picture = decoded.picture;
    const bool hasAlpha = picture.hasAlphaChannel();
    if (picture.colorSpace().isValid() && picture.colorSpace() != QColorSpace::SRgb)
        picture = std::move(picture).convertToFormat(hasAlpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    convertToSrgbDeep(picture);
    QImage surface = std::move(picture).convertToFormat(hasAlpha ? QImage::Format_RGBA64_Premultiplied
                                                                 : QImage::Format_RGBX64);
    if (surface.isNull())
        return Failure{qt_error_string(ENOMEM)};
    if (hasAlpha) {
        makeOpaque64(surface);
        surface.reinterpretAsFormat(QImage::Format_RGBX64);
    }
    surface = orientedUpright(std::move(surface), decoded.orientation);
    if (surface.isNull())
        return Failure{qt_error_string(ENOMEM)};
    return surface;
}

// The loader's surface from a decoder's picture: sRGB, 16-bit samples rounded to 8 bits
// (Qt's conversions round to nearest), alpha over black, opaque RGB32, upright.
Outcome<QImage> finished(Decoded decoded, SampleDepth depth)
{
    QImage &picture = decoded.picture;
    if (qint64(picture.width()) * picture.height() > MaxPicturePixels)
        return Failure{TooLarge};
    if (depth == SampleDepth::Sixteen)
        return finishedDeep(std::move(decoded));
    // Before the 8-bit conversion, so that 16-bit samples convert at full precision.
    convertToSrgb(picture);
    // Moved, not copied: a second reference would make makeOpaque() copy the whole picture.
    const bool hasAlpha = picture.hasAlphaChannel();
    QImage surface = hasAlpha ? flattenOverBlack(std::move(picture))
                              : std::move(picture).convertToFormat(QImage::Format_RGB32);
    // Conversion fails only for want of memory.
    if (surface.isNull())
        return Failure{qt_error_string(ENOMEM)};
    makeOpaque(surface);
    surface = orientedUpright(std::move(surface), decoded.orientation);
    if (surface.isNull())
        return Failure{qt_error_string(ENOMEM)};
    return surface;
}

Outcome<QImage> decodeDevice(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    setUpReaderOnce();
    // Named for the message handler while this thread decodes; a file's name is the path as given.
    const QString name = device.property(NameProperty).toString();
    decodingPath = name;
    decodingGivenUp = false;
    const auto forget = qScopeGuard([] {
        decodingPath.clear();
        decodingGivenUp = false;
    });
    const FileFormat &format = formatOf(device, device.peek(HeadBytes), name);
    Outcome<Decoded> decoded = format.decode(device, admit, depth);
    if (!decoded)
        return Failure{decoded.reason()};
    return finished(std::move(*decoded), depth);
}

} // namespace

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat info {};
    if (stat(bytesOfName(path).constData(), &info) != 0)
        return std::nullopt;
    return identityFrom(info);
}

std::optional<FileIdentity> identityOf(const QFileDevice &opened)
{
    struct stat info {};
    if (fstat(opened.handle(), &info) != 0)
        return std::nullopt;
    return identityFrom(info);
}

Outcome<> openForDecoding(QFile &file)
{
    const QString name = file.fileName();
    const QByteArray bytes = bytesOfName(name);
    struct stat info {};
    if (::stat(bytes.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return Failure{QStringLiteral("not a regular file")};
    file.setProperty(NameProperty, name);
    // Opened here rather than by the reader, whose errors hide the system's reason. QFile would
    // turn a name that is not UTF-8 into another one, so such a file is opened by its bytes; as
    // QFile then forgets the name, its reader goes by the content alone, not the suffix first.
    if (QFile::encodeName(name) == bytes)
        return file.open(QIODevice::ReadOnly) ? Outcome<>() : Failure{file.errorString()};
    const int descriptor = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return Failure{qt_error_string(errno)};
    // The file owns the descriptor from here, opened or not.
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return Failure{file.errorString()};
    return {};
}

Outcome<QImage> decodeImageFile(const QString &path, std::optional<FileIdentity> *identity)
{
    return decodeImageFile(path, SampleDepth::Eight, identity);
}

Outcome<QImage> decodeImageFile(const QString &path, SampleDepth depth, std::optional<FileIdentity> *identity)
{
    QFile file(path);
    if (const Outcome<> opened = openForDecoding(file); !opened)
        return Failure{opened.reason()};
    if (identity)
        *identity = identityOf(file);
    return decodeDevice(file, {}, depth);
}

SampleDepth storedDepth(const QString &path)
{
    QFile file(path);
    if (!openForDecoding(file))
        return SampleDepth::Eight;
    return formatOf(file, file.peek(HeadBytes), path).storedDepth(file);
}

QString pathBeingDecoded()
{
    return decodingPath;
}

void giveUpDecoding()
{
    decodingGivenUp = true;
}

bool decodingGivenUpOn()
{
    return decodingGivenUp;
}

Outcome<QImage> decodeImageData(const QByteArray &data, SampleDepth depth)
{
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return Failure{buffer.errorString()};
    return decodeDevice(buffer, {}, depth);
}

Outcome<QImage> decodeImageDevice(QIODevice &device, const SizeAdmission &admit)
{
    return decodeDevice(device, admit, SampleDepth::Eight);
}

Outcome<QImage> decodeImageDeviceAtDepth(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    return decodeDevice(device, admit, depth);
}

QByteArray embeddedExif(const QString &path)
{
    QFile file(path);
    if (!openForDecoding(file))
        return {};
    return isHeif(file.peek(HeadBytes)) ? heifExif(file) : QByteArray();
}
