#include "imaging/imageloader.h"

#include <QFileInfo>
#include <QImageReader>

#include <mutex>

namespace {

void setUpReaderOnce()
{
    static std::once_flag once;
    // Qt's 128 MB default refuses ordinary 36-megapixel photos; no limit at all lets a few
    // bytes claiming 30000 x 20000 pixels take seconds and gigabytes.
    std::call_once(once, [] { QImageReader::setAllocationLimit(1024); });
}

// Premultiplied colour bytes are the picture drawn over black; the alpha byte becomes 0xff.
QImage flattenOverBlack(const QImage &image)
{
    QImage flat = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (flat.isNull() || !flat.reinterpretAsFormat(QImage::Format_RGB32))
        return {};
    for (int y = 0; y < flat.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(flat.scanLine(y));
        for (int x = 0; x < flat.width(); ++x)
            row[x] |= 0xff000000u;
    }
    return flat;
}

} // namespace

std::optional<QImage> decodeImageFile(const QString &path)
{
    setUpReaderOnce();
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize announced = reader.size();
    if (announced.isValid() && qint64(announced.width()) * announced.height() > MaxPicturePixels)
        return std::nullopt;
    const QImage decoded = reader.read();
    if (decoded.isNull() || qint64(decoded.width()) * decoded.height() > MaxPicturePixels)
        return std::nullopt;
    QImage surface = decoded.hasAlphaChannel() ? flattenOverBlack(decoded)
                                               : decoded.convertToFormat(QImage::Format_RGB32);
    if (surface.isNull())
        return std::nullopt;
    return surface;
}
