#include "engine/decode/decodelimits.h"

#include <QImage>

#include <cerrno>

bool admitted(QSize announced, const SizeAdmission &admit)
{
    if (announced.isValid() && qint64(announced.width()) * announced.height() > MaxPicturePixels)
        return false;
    return !admit || admit(announced);
}

QString whyNotDecoded(QSize announced, SampleDepth depth)
{
    const QImage::Format format = depth == SampleDepth::Sixteen ? QImage::Format_RGBX64 : QImage::Format_RGB32;
    if (announced.isValid() && QImage(announced, format).isNull())
        return qt_error_string(ENOMEM);
    return Undecodable;
}
