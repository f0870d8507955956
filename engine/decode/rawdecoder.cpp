#include "engine/decode/rawdecoder.h"

#include "engine/decode/decodelimits.h"
#include "engine/decode/tiffbytes.h"

#include <QColorSpace>
#include <QIODevice>

#include <libraw.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Those that are TIFF inside (cr2, nef, arw, ...) as much as those that are not (crw, raf, rw2, ...).
constexpr std::array MakerSuffixes{"3fr", "arw", "cr2", "cr3", "crw", "dcr", "erf", "iiq", "k25", "kdc",
                                   "mef", "mos", "mrw", "nef", "nrw", "orf", "pef", "raf", "raw", "rw2",
                                   "rwl", "sr2", "srf", "srw", "x3f"};

constexpr quint16 DngVersionTag = 50706;

// The bytes at `at`, read without moving the device: a decoder after this one reads from where
// it stands.
QByteArray bytesAt(QIODevice &device, qint64 at, qint64 count)
{
    const qint64 position = device.pos();
    QByteArray bytes;
    if (at >= 0 && at < device.size() && device.seek(at))
        bytes = device.read(count);
    device.seek(position);
    return bytes;
}

// A TIFF whose first directory carries the DNGVersion tag. Writers put that directory anywhere,
// some after the image data, so it is read where the header says.
bool isDng(QIODevice &device, QByteArrayView head)
{
    if (head.size() < 8)
        return false;
    const bool little = head.startsWith("II*\0");
    if (!little && !head.startsWith("MM\0*"))
        return false;
    const QByteArray count = bytesAt(device, unsignedAt(head, 4, 4, little), 2);
    if (count.size() != 2)
        return false;
    const qsizetype entries = unsignedAt(count, 0, 2, little);
    const QByteArray directory = bytesAt(device, unsignedAt(head, 4, 4, little) + 2, 12 * entries);
    for (qsizetype i = 0; i < entries && 12 * (i + 1) <= directory.size(); ++i)
        if (unsignedAt(directory, 12 * i, 2, little) == DngVersionTag)
            return true;
    return false;
}

struct ProcessedImageFree {
    void operator()(libraw_processed_image_t *image) const { LibRaw::dcraw_clear_mem(image); }
};

// LibRaw calls this between its steps; non-zero stops it. Its file is read whole by then, so a
// one-byte read at the end of the device asks whether reading would still be allowed: a
// cancelled decode-ahead run refuses every read.
int stopWhenReadsFail(void *device, LibRaw_progress, int, int)
{
    char byte = 0;
    return static_cast<QIODevice *>(device)->read(&byte, 1) < 0 ? 1 : 0;
}

QString reasonFor(int error, QSize announced)
{
    if (error == LIBRAW_UNSUFFICIENT_MEMORY)
        return qt_error_string(ENOMEM);
    // LibRaw develops at 16 bits whatever the caller takes.
    return whyNotDecoded(announced, SampleDepth::Sixteen);
}

} // namespace

bool isCameraRaw(QIODevice &device, QByteArrayView head, const QString &suffix)
{
    if (isDng(device, head))
        return true;
    for (const char *known : MakerSuffixes)
        if (suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

Outcome<QImage> decodeCameraRaw(QIODevice &device, const SizeAdmission &admit)
{
    const qint64 size = device.size();
    if (size > MaxRawFileBytes)
        return Failure{TooLarge};
    if (!device.seek(0))
        return Failure{Undecodable};
    QByteArray bytes = device.read(size);
    if (bytes.size() != size)
        return Failure{device.errorString().isEmpty() ? Undecodable : device.errorString()};

    auto raw = std::make_unique<LibRaw>(0);
    libraw_output_params_t &settings = raw->imgdata.params;
    settings.use_camera_wb = 1;
    settings.user_qual = 3;
    settings.output_color = 1;
    settings.output_bps = 16;
    raw->set_progress_handler(stopWhenReadsFail, &device);
    int error = raw->open_buffer(bytes.data(), std::size_t(bytes.size()));
    if (error != LIBRAW_SUCCESS)
        return Failure{reasonFor(error, {})};

    // Unpacking takes the sensor's full size, developing the visible part: both must fit.
    const libraw_image_sizes_t &sizes = raw->imgdata.sizes;
    const QSize announced(sizes.width, sizes.height);
    if (!admitted(announced, admit) || !admitted(QSize(sizes.raw_width, sizes.raw_height), {}))
        return Failure{TooLarge};
    if ((error = raw->unpack()) != LIBRAW_SUCCESS || (error = raw->dcraw_process()) != LIBRAW_SUCCESS)
        return Failure{reasonFor(error, announced)};
    const std::unique_ptr<libraw_processed_image_t, ProcessedImageFree> developed(raw->dcraw_make_mem_image(&error));
    if (!developed)
        return Failure{reasonFor(error, announced)};
    if (developed->type != LIBRAW_IMAGE_BITMAP || developed->colors != 3 || developed->bits != 16)
        return Failure{Undecodable};

    QImage picture(developed->width, developed->height, QImage::Format_RGBX64);
    if (picture.isNull())
        return Failure{qt_error_string(ENOMEM)};
    const auto *samples = reinterpret_cast<const quint16 *>(developed->data);
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<quint16 *>(picture.scanLine(y));
        const quint16 *from = samples + qsizetype(y) * picture.width() * 3;
        for (int x = 0; x < picture.width(); ++x) {
            row[4 * x] = from[3 * x];
            row[4 * x + 1] = from[3 * x + 1];
            row[4 * x + 2] = from[3 * x + 2];
            row[4 * x + 3] = 0xffff;
        }
    }
    picture.setColorSpace(QColorSpace::SRgb);
    return picture;
}
