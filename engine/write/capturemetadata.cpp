#include "engine/write/capturemetadata.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Of the first directory only what says who and what took the picture; the rest (size, strips,
// compression, orientation, colour profile, a raw file's sensor tags) belongs to its pixels.
constexpr std::array<std::string_view, 9> KeptFromFirstDirectory{
    "Make", "Model", "DateTime", "Artist", "Copyright", "Software", "ImageDescription", "ExifTag", "GPSTag",
};

// The thumbnail's directory and a raw or multi-page file's other pictures.
bool describesOtherPicture(const std::string &group)
{
    return group == "Thumbnail" || group.starts_with("SubImage") || group.starts_with("SubThumb") ||
        (group.starts_with("Image") && group != "Image");
}

bool isCaptureMetadata(const Exiv2::Exifdatum &datum)
{
    // exiv2 keeps an entry whose value lay past the end of damaged metadata, empty; written out
    // it would be a malformed tag (an ASCII one must hold at least its terminating zero).
    if (datum.count() == 0)
        return false;
    const std::string group = datum.groupName();
    if (group == "Image")
        return std::ranges::find(KeptFromFirstDirectory, datum.tagName()) != KeptFromFirstDirectory.end();
    if (group == "Photo" && (datum.tagName() == "PixelXDimension" || datum.tagName() == "PixelYDimension"))
        return false;
    return !describesOtherPicture(group);
}

Exiv2::ExifData exifOf(const CaptureSource &source)
{
    Exiv2::ExifData exif;
    if (!source.exif.isEmpty()) {
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(source.exif.constData()),
                                  uint32_t(source.exif.size()));
        return exif;
    }
    auto image = Exiv2::ImageFactory::open(source.fileName.toStdString());
    image->readMetadata();
    return image->exifData();
}

std::optional<Exiv2::ExifData> captureMetadataOf(const CaptureSource &source)
{
    try {
        Exiv2::ExifData kept;
        for (const Exiv2::Exifdatum &datum : exifOf(source))
            if (isCaptureMetadata(datum))
                kept.add(datum);
        if (kept.empty())
            return std::nullopt;
        return kept;
    } catch (const std::exception &) {
        // Formats exiv2 does not know (BMP, GIF) and damaged metadata carry nothing to keep.
        return std::nullopt;
    }
}

} // namespace

Outcome<> copyCaptureMetadata(const CaptureSource &source, QByteArray &target)
{
    // exiv2 would warn on stderr about what it skips in a camera's file.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    const std::optional<Exiv2::ExifData> capture = captureMetadataOf(source);
    if (!capture)
        return {};
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(target.constData()), long(target.size()));
        // What the encoder wrote (the colour profile in a TIFF's directory) stays.
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        for (const Exiv2::Exifdatum &datum : *capture) {
            const auto existing = exif.findKey(Exiv2::ExifKey(datum.key()));
            if (existing != exif.end())
                exif.erase(existing);
            exif.add(datum);
        }
        image->writeMetadata();
        Exiv2::BasicIo &edited = image->io();
        edited.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf bytes = edited.read(long(edited.size()));
        target = QByteArray(reinterpret_cast<const char *>(bytes.pData_), bytes.size_);
        return {};
    } catch (const std::exception &error) {
        return Failure{QStringLiteral("cannot add the capture metadata: %1").arg(QString::fromStdString(error.what()))};
    }
}
