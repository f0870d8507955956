#include "engine/write/ppmwriter.h"

#include "engine/write/rowpacking.h"

#include <QIODevice>

#include <vector>

namespace {

bool writeHeader(QIODevice &device, QSize size, int maxval)
{
    const QByteArray header = "P6\n" + QByteArray::number(size.width()) + ' ' + QByteArray::number(size.height())
        + '\n' + QByteArray::number(maxval) + '\n';
    return device.write(header) == header.size();
}

bool writeRows(QIODevice &device, const QImage &rgb, qint64 rowBytes, bool deep)
{
    std::vector<std::uint8_t> packed(deep ? std::size_t(rowBytes) : 0);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *row = rgb.constScanLine(y);
        if (deep) {
            packRgb48Row(reinterpret_cast<const QRgba64 *>(row), std::size_t(rgb.width()), packed.data());
            row = packed.data();
        }
        if (device.write(reinterpret_cast<const char *>(row), rowBytes) != rowBytes)
            return false;
    }
    return true;
}

} // namespace

bool writePpm(const QImage &picture, QIODevice &device)
{
    const bool deep = hasDeepSamples(picture);
    const QImage rgb = picture.convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGB888);
    if (rgb.isNull() && !picture.isNull())
        return false;
    return writeHeader(device, rgb.size(), deep ? 65535 : 255)
        && writeRows(device, rgb, qint64(rgb.width()) * (deep ? 6 : 3), deep);
}
