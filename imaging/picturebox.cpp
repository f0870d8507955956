#include "imaging/picturebox.h"

#include "engine/decode/decode.h"
#include "imaging/scaleunits.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

PictureBox::PictureBox(QSize designSize, QWidget *parent) : QWidget(parent)
{
    // The design size is in logical pixels; the surface holds device pixels.
    const QSize devicePixels = (QSizeF(designSize) * devicePixelRatioF()).toSize();
    m_surface = blankSurface(devicePixels.width(), devicePixels.height());
    setAttribute(Qt::WA_OpaquePaintEvent);
    placeAndSize();
}

void PictureBox::setPicture(QImage picture, std::optional<FileIdentity> source)
{
    // Every pixel loop reads and writes four bytes a pixel.
    Q_ASSERT(picture.isNull() || picture.format() == QImage::Format_RGB32);
    m_surface = std::move(picture);
    m_source = source;
    m_hasPicture = true;
    placeAndSize();
    update();
}

void PictureBox::setLeft(float units)
{
    m_left = units;
    placeAndSize();
}

void PictureBox::setTop(float units)
{
    m_top = units;
    placeAndSize();
}

void PictureBox::placeAndSize()
{
    // Logical coordinates are 15 units each; the surface maps to device pixels.
    const qreal ratio = devicePixelRatioF();
    setGeometry(static_cast<int>(std::lround(m_left / UnitsPerLogicalPixel)),
                static_cast<int>(std::lround(m_top / UnitsPerLogicalPixel)),
                static_cast<int>(std::ceil(m_surface.width() / ratio)),
                static_cast<int>(std::ceil(m_surface.height() / ratio)));
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    // Only the exposed part: panning a huge picture must not repaint all of it.
    QPainter painter(this);
    const QRectF exposed = event->rect();
    const qreal ratio = devicePixelRatioF();
    const QRectF source(exposed.topLeft() * ratio, exposed.size() * ratio);
    painter.fillRect(exposed, Qt::black);
    painter.drawImage(exposed, m_surface, source);
}

bool LoadImageFile(PictureBox &box, const QString &path)
{
    std::optional<FileIdentity> identity;
    Outcome<QImage> picture = decodeImageFile(path, &identity);
    if (!picture)
        return false;
    box.setPicture(std::move(*picture), identity);
    return true;
}
