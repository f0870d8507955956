#include "cli/outputformat.h"

#include <QFileInfo>
#include <QImageWriter>

#include <array>

namespace {

struct Extension {
    const char *suffix;
    const char *format;
    int quality;
};

// JPEG at 95: a result meant for keeping, not the web; Qt's default of 75 shows blocks in skies.
constexpr std::array<Extension, 8> Extensions{{
    {"bmp", "bmp", -1},
    {"png", "png", -1},
    {"jpg", "jpeg", 95},
    {"jpeg", "jpeg", 95},
    {"ppm", "ppm", -1},
    {"tif", "tiff", -1},
    {"tiff", "tiff", -1},
    {"webp", "webp", -1},
}};

// JPEG, TIFF and WebP come from plugins that may not be installed.
bool writable(const Extension &extension)
{
    return QImageWriter::supportedImageFormats().contains(extension.format);
}

} // namespace

DeviceWriter OutputFormat::writer() const
{
    return [format = name, level = quality](const QImage &surface, QIODevice &device) {
        QImageWriter writer(&device, format);
        writer.setQuality(level);
        return writer.write(surface);
    };
}

std::optional<OutputFormat> outputFormatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const Extension &extension : Extensions)
        if (suffix == QLatin1String(extension.suffix) && writable(extension))
            return OutputFormat{extension.format, extension.quality};
    return std::nullopt;
}

QStringList supportedExtensions()
{
    QStringList list;
    for (const Extension &extension : Extensions)
        if (writable(extension))
            list << QLatin1Char('.') + QLatin1String(extension.suffix);
    return list;
}
