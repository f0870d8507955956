#include "engine/decode/colourconversion.h"

#include <QColorSpace>
#include <QTransform>

void convertToSrgb(QImage &picture)
{
    const QColorSpace tagged = picture.colorSpace();
    if (!tagged.isValid() || tagged == QColorSpace::SRgb)
        return;
    // Qt converts colour tables and RGB formats, not grey ones.
    if (picture.format() == QImage::Format_Grayscale8 || picture.format() == QImage::Format_Grayscale16)
        return;
    picture.convertToColorSpace(QColorSpace::SRgb);
}

QImage orientedUpright(QImage picture, QImageIOHandler::Transformations orientation)
{
    if (orientation == QImageIOHandler::TransformationNone)
        return picture;
    const QColorSpace space = picture.colorSpace();
    // As QImageReader's autoTransform does it: mirror first, then turn clockwise.
    if (orientation == QImageIOHandler::TransformationRotate270) {
        picture = picture.transformed(QTransform().rotate(270));
    } else {
        picture = std::move(picture).mirrored(orientation.testFlag(QImageIOHandler::TransformationMirror),
                                              orientation.testFlag(QImageIOHandler::TransformationFlip));
        if (orientation.testFlag(QImageIOHandler::TransformationRotate90))
            picture = picture.transformed(QTransform().rotate(90));
    }
    picture.setColorSpace(space);
    return picture;
}
