#include "engine/decode/heifdecoder.h"

#include "engine/decode/decodelimits.h"
#include "engine/decode/heifwork.h"

#include <QColorSpace>
#include <QIODevice>
#include <QtEndian>

#include <libheif/heif.h>

#include <cerrno>
#include <memory>
#include <optional>

namespace {

template <auto release>
struct Releaser {
    template <typename T>
    void operator()(T *object) const { release(object); }
};
using Context = std::unique_ptr<heif_context, Releaser<heif_context_free>>;
using Handle = std::unique_ptr<heif_image_handle, Releaser<heif_image_handle_release>>;
using Options = std::unique_ptr<heif_decoding_options, Releaser<heif_decoding_options_free>>;

QIODevice &deviceOf(void *userdata)
{
    return *static_cast<QIODevice *>(userdata);
}

// libheif reads boxes as it needs them, the coded picture only when decoding it.
constexpr heif_reader DeviceReader{
    1,
    [](void *userdata) -> int64_t { return deviceOf(userdata).pos(); },
    [](void *data, size_t size, void *userdata) -> int {
        return deviceOf(userdata).read(static_cast<char *>(data), qint64(size)) == qint64(size) ? 0 : -1;
    },
    [](int64_t position, void *userdata) -> int { return deviceOf(userdata).seek(position) ? 0 : -1; },
    [](int64_t target, void *userdata) {
        return target <= deviceOf(userdata).size() ? heif_reader_grow_status_size_reached
                                                   : heif_reader_grow_status_size_beyond_eof;
    },
};

QString reasonFor(const heif_error &error, QSize announced, SampleDepth depth = SampleDepth::Eight)
{
    // libheif files a size beyond its own limits (a side over 32768) under memory errors.
    if (error.subcode == heif_suberror_Security_limit_exceeded)
        return TooLarge;
    if (error.code == heif_error_Memory_allocation_error)
        return qt_error_string(ENOMEM);
    return whyNotDecoded(announced, depth);
}

QColorSpace colourSpaceOf(const heif_image_handle &handle)
{
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(&handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return {};
    QByteArray profile(qsizetype(heif_image_handle_get_raw_color_profile_size(&handle)), Qt::Uninitialized);
    if (heif_image_handle_get_raw_color_profile(&handle, profile.data()).code != heif_error_Ok)
        return {};
    return QColorSpace::fromIccProfile(profile);
}

// An 'Exif' item starts with the offset from its fifth byte to the TIFF header ("MM" or "II").
QByteArray tiffOfExifItem(const QByteArray &item)
{
    if (item.size() < 4)
        return {};
    const quint32 offset = qFromBigEndian<quint32>(item.constData());
    return offset > quint32(item.size() - 4) ? QByteArray() : item.mid(4 + qsizetype(offset));
}

// A decoded picture of 9 to 16 bits a sample (little-endian, interleaved) scaled to 16 bits;
// releases `decoded`.
Outcome<QImage> widened(heif_image *decoded, int bits, bool alpha, bool premultiplied, const QColorSpace &space)
{
    const std::unique_ptr<heif_image, Releaser<heif_image_release>> owned(decoded);
    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0)
        return Failure{Undecodable};
    QImage picture(width, height, !alpha ? QImage::Format_RGBX64
                                  : premultiplied ? QImage::Format_RGBA64_Premultiplied
                                                  : QImage::Format_RGBA64);
    if (picture.isNull())
        return Failure{qt_error_string(ENOMEM)};
    const quint32 maximum = (1u << bits) - 1;
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t *in = pixels + qsizetype(y) * stride;
        auto *out = reinterpret_cast<quint16 *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                if (c == channels) {
                    out[4 * x + c] = 0xffff;
                    continue;
                }
                const qsizetype at = 2 * (qsizetype(x) * channels + c);
                const quint32 v = std::min<quint32>(quint32(in[at]) | quint32(in[at + 1]) << 8, maximum);
                out[4 * x + c] = quint16((v * 65535u + maximum / 2) / maximum);
            }
    }
    picture.setColorSpace(space);
    return picture;
}

} // namespace

bool isHeif(QByteArrayView head)
{
    return heif_check_filetype(reinterpret_cast<const uint8_t *>(head.data()), int(head.size()))
           == heif_filetype_yes_supported;
}

Outcome<QImage> decodeHeif(QIODevice &device, const SizeAdmission &admit, SampleDepth depth)
{
    if (!device.seek(0))
        return Failure{Undecodable};
    const Context context(heif_context_alloc());
    if (!context)
        return Failure{qt_error_string(ENOMEM)};
    heif_error error = heif_context_read_from_reader(context.get(), &DeviceReader, &device, nullptr);
    if (error.code != heif_error_Ok)
        return Failure{reasonFor(error, {})};
    heif_image_handle *primary = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primary);
    const Handle handle(primary);
    if (error.code != heif_error_Ok)
        return Failure{reasonFor(error, {})};

    // The coded size: rotation keeps its area and a crop only shrinks it.
    const QSize announced(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    if (!admitted(announced, admit))
        return Failure{TooLarge};
    // A grid or an overlay may say a canvas far larger than its 'ispe', which libheif allocates
    // whole before decoding any tile; and a few hundred bytes may name tens of thousands of tiles.
    const std::optional<HeifWork> work = heifWork(device);
    if (!work)
        return Failure{Undecodable};
    if (!admitted(work->canvas, admit) || work->codedPixels > MaxPicturePixels)
        return Failure{TooLarge};

    const bool alpha = heif_image_handle_has_alpha_channel(primary) != 0;
    const Options options(heif_decoding_options_alloc());
    if (!options)
        return Failure{qt_error_string(ENOMEM)};
    // Deeper samples come as 8 bits where the caller takes 8.
    const int bits = heif_image_handle_get_luma_bits_per_pixel(primary);
    const bool deep = depth == SampleDepth::Sixteen && bits > 8 && bits <= 16;
    options->convert_hdr_to_8bit = deep ? 0 : 1;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image *decoded = nullptr;
    error = heif_decode_image(primary, &decoded, heif_colorspace_RGB, chroma, options.get());
    if (error.code != heif_error_Ok || !decoded)
        return Failure{reasonFor(error, announced, deep ? SampleDepth::Sixteen : SampleDepth::Eight)};
    if (deep)
        return widened(decoded, bits, alpha, heif_image_handle_is_premultiplied_alpha(primary) != 0,
                       colourSpaceOf(*primary));

    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0) {
        heif_image_release(decoded);
        return Failure{Undecodable};
    }
    const QImage::Format format = !alpha ? QImage::Format_RGB888
                                  : heif_image_handle_is_premultiplied_alpha(primary)
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    // The picture lives in libheif's buffer until the loader has converted it.
    QImage picture(pixels, width, height, stride, format,
                   [](void *image) { heif_image_release(static_cast<heif_image *>(image)); }, decoded);
    picture.setColorSpace(colourSpaceOf(*primary));
    return picture;
}

namespace {

// A file's primary image with its context, for what its boxes say without decoding it.
struct Primary {
    Context context;
    Handle handle;
};

std::optional<Primary> primaryOf(QIODevice &device)
{
    Context context(heif_context_alloc());
    heif_image_handle *primary = nullptr;
    if (!context || !device.seek(0)
        || heif_context_read_from_reader(context.get(), &DeviceReader, &device, nullptr).code != heif_error_Ok
        || heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok)
        return std::nullopt;
    return Primary{std::move(context), Handle(primary)};
}

} // namespace

bool heifHasDeepSamples(QIODevice &device)
{
    const std::optional<Primary> image = primaryOf(device);
    return image && heif_image_handle_get_luma_bits_per_pixel(image->handle.get()) > 8;
}

QByteArray heifExif(QIODevice &device)
{
    // Larger than any camera writes: JPEG holds EXIF to 64 KB, a HEIC's may hold a preview.
    constexpr std::size_t MaxExifBytes = 4 << 20;
    const std::optional<Primary> image = primaryOf(device);
    if (!image)
        return {};
    heif_image_handle *primary = image->handle.get();
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(primary, "Exif", &id, 1) != 1)
        return {};
    const std::size_t size = heif_image_handle_get_metadata_size(primary, id);
    if (size == 0 || size > MaxExifBytes)
        return {};
    QByteArray item(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(primary, id, item.data()).code != heif_error_Ok)
        return {};
    return tiffOfExifItem(item);
}
