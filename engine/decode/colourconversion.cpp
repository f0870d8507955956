#include "engine/decode/colourconversion.h"

#include <QColorSpace>
#include <QTransform>

#include <lcms2.h>

#include <memory>

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

namespace {

template <auto release>
struct Releaser {
    template <typename T>
    void operator()(T *object) const
    {
        release(object);
    }
};
using Profile = std::unique_ptr<void, Releaser<cmsCloseProfile>>;
using Transform = std::unique_ptr<void, Releaser<cmsDeleteTransform>>;

// Null where lcms2 cannot take the picture's profile.
Transform deepTransformOf(const QImage &picture)
{
    const QByteArray icc = picture.colorSpace().iccProfile();
    if (icc.isEmpty())
        return {};
    const Profile embedded(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!embedded || !srgb || cmsGetColorSpace(embedded.get()) != cmsSigRgbData)
        return {};
    // Four 16-bit samples a pixel; alpha (or X) is carried over untouched.
    return Transform(cmsCreateTransform(embedded.get(), TYPE_RGBA_16, srgb.get(), TYPE_RGBA_16,
                                        INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA));
}

} // namespace

void convertToSrgbDeep(QImage &picture)
{
    const QColorSpace tagged = picture.colorSpace();
    if (!tagged.isValid() || tagged == QColorSpace::SRgb)
        return;
    const Transform transform = deepTransformOf(picture);
    if (!transform) {
        convertToSrgb(picture);
        return;
    }
    for (int y = 0; y < picture.height(); ++y) {
        uchar *row = picture.scanLine(y);
        cmsDoTransform(transform.get(), row, row, cmsUInt32Number(picture.width()));
    }
    picture.setColorSpace(QColorSpace::SRgb);
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
