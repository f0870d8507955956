#pragma once

#include <QImage>
#include <QImageIOHandler>

// Frames stack in one colour space, sRGB, whatever profile each came with. A picture tagged
// with another space that Qt can convert from (ICC profiles of RGB matrix-shaper kind: Display
// P3, Adobe RGB, ...) is converted and tagged sRGB; an untagged or sRGB one is left alone, and
// so is one Qt cannot convert (a grey or CMYK profile), tag and all.
void convertToSrgb(QImage &picture);

// The picture turned upright as its file's orientation says. Qt 6.4 drops the colour space in
// QImage::transformed(), so it is carried over here.
QImage orientedUpright(QImage picture, QImageIOHandler::Transformations orientation);
