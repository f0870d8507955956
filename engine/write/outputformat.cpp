#include "engine/write/outputformat.h"

#include "engine/write/pngwriter.h"
#include "engine/write/ppmwriter.h"
#include "engine/write/rowpacking.h"

#include <QColorSpace>
#include <QFileInfo>
#include <QImageWriter>

#include <array>

namespace {

struct Extension {
    const char *suffix;
    const char *format;
    int quality;
    bool tagged;
    bool sixteenBits;
};

// JPEG at 95: a result meant for keeping, not the web; Qt's default of 75 shows blocks in skies.
constexpr std::array<Extension, 8> Extensions{{
    {"bmp", "bmp", -1, false, false},
    {"png", "png", -1, true, true},
    {"jpg", "jpeg", 95, true, false},
    {"jpeg", "jpeg", 95, true, false},
    {"ppm", "ppm", -1, false, true},
    {"tif", "tiff", -1, true, true},
    {"tiff", "tiff", -1, true, true},
    {"webp", "webp", -1, false, false},
}};

// JPEG, TIFF and WebP come from plugins that may not be installed.
bool writable(const Extension &extension)
{
    return QImageWriter::supportedImageFormats().contains(extension.format);
}

QStringList extensionsWhere(bool (*admits)(const Extension &))
{
    QStringList list;
    for (const Extension &extension : Extensions)
        if (writable(extension) && admits(extension))
            list << QLatin1Char('.') + QLatin1String(extension.suffix);
    return list;
}

} // namespace

DeviceWriter OutputFormat::writer() const
{
    // Qt's PNG writer takes ten times as long at its default compression.
    if (name == "png")
        return writePng;
    if (name == "ppm")
        return writePpm;
    return [format = *this](const QImage &surface, QIODevice &device) {
        QImageWriter writer(&device, format.name);
        writer.setQuality(format.quality);
        // Qt's TIFF writer keeps RGBA64's alpha as a fourth sample and writes RGBX64 as RGB; a
        // format of 8 bits gets Qt's rounding rather than whatever its plugin makes of 16.
        QImage labelled = hasDeepSamples(surface)
            ? surface.convertToFormat(format.holdsSixteenBits ? QImage::Format_RGBX64 : QImage::Format_RGB32)
            : surface;
        // Qt writes the colour space as an ICC profile; the pixels are sRGB already.
        if (format.tagged)
            labelled.setColorSpace(QColorSpace::SRgb);
        return writer.write(labelled);
    };
}

std::optional<OutputFormat> outputFormatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const Extension &extension : Extensions)
        if (suffix == QLatin1String(extension.suffix) && writable(extension))
            return OutputFormat{extension.format, extension.quality, extension.tagged, extension.sixteenBits};
    return std::nullopt;
}

QStringList supportedExtensions()
{
    return extensionsWhere([](const Extension &) { return true; });
}

QStringList sixteenBitExtensions()
{
    return extensionsWhere([](const Extension &extension) { return extension.sixteenBits; });
}
