#pragma once

#include <QImage>
#include <QImageIOHandler>

// Frames stack in one colour space, sRGB, whatever profile each came with. A picture tagged
// with another space that Qt can convert from (ICC profiles of RGB matrix-shaper kind: Display
// P3, Adobe RGB, ...) is converted and tagged sRGB; an untagged or sRGB one is left alone, and
// so is one Qt cannot convert (a grey or CMYK profile), tag and all.
void convertToSrgb(QImage &picture);
// The same for an RGBX64 or RGBA64 (not premultiplied) picture through lcms2's 16-bit transform
// of the embedded ICC profile, relative colorimetric; where lcms2 cannot (no ICC data, a profile
// not of RGB), as above.
void convertToSrgbDeep(QImage &picture);

// The picture turned upright as its file's orientation says. Qt 6.4 drops the colour space in
// QImage::transformed(), so it is carried over here.
QImage orientedUpright(QImage picture, QImageIOHandler::Transformations orientation);
