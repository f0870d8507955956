#pragma once

#include <QSize>

#include <optional>

class QIODevice;

// What libheif builds to decode a HEIF file's primary image, read from the file's own boxes
// before anything is decoded: the canvas (the size a grid or an overlay says, which the item's
// 'ispe' need not match) and the pixels of every coded picture decoded into it, tiles and alpha
// included. libheif 1.15 checks only each 'ispe', against a side of 32768.
struct HeifWork {
    QSize canvas;          // sides beyond INT_MAX are held at INT_MAX
    qint64 codedPixels = 0; // held at 2^62
};

// nullopt where the boxes cannot be read or refer to nothing. Reads the device from where its
// boxes say; leaves its position anywhere.
std::optional<HeifWork> heifWork(QIODevice &device);
