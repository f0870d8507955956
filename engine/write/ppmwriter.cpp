#include "engine/write/ppmwriter.h"

#include <QIODevice>

bool writePpm(const QImage &picture, QIODevice &device)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull() && !picture.isNull())
        return false;
    const QByteArray header = "P6\n" + QByteArray::number(rgb.width()) + ' ' + QByteArray::number(rgb.height()) + "\n255\n";
    if (device.write(header) != header.size())
        return false;
    const qint64 rowBytes = qint64(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y)
        if (device.write(reinterpret_cast<const char *>(rgb.constScanLine(y)), rowBytes) != rowBytes)
            return false;
    return true;
}
