#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <QImage>

// Hex SHA-256 over R,G,B of every pixel, rows top to bottom: the hash the corpus manifest uses.
// Header-only, as the load probe links only the imaging library.
inline QByteArray rgbSha256(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < rgb.height(); ++y)
        hash.addData(QByteArrayView(rgb.constScanLine(y), qsizetype(rgb.width()) * 3));
    return hash.result().toHex();
}
