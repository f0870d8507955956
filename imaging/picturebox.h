#pragma once

#include "imaging/surface.h"

#include <QImage>
#include <QWidget>

// A box with a persistent drawing surface of exactly its inner size. Loading a picture sizes
// the box to it, one picture pixel to one device pixel.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    PictureBox(QSize designSize, QWidget *parent);

    const QImage &surface() const { return m_surface; }
    // Writable access for pixel work; call surfaceChanged() afterwards so the screen follows.
    QImage &surface() { return m_surface; }
    void surfaceChanged() { update(); }

    bool hasPicture() const { return m_hasPicture; }
    void setPicture(QImage picture);

    // The position inside the container in scale units; panning may leave a fraction.
    float left() const { return m_left; }
    float top() const { return m_top; }
    void setLeft(float units);
    void setTop(float units);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void placeAndSize();

    QImage m_surface;
    bool m_hasPicture = false;
    float m_left = 0.0f;
    float m_top = 0.0f;
};

// Replaces the box's picture with the decoded file. On failure the box, its surface and
// every earlier pixel write stay exactly as they were.
bool LoadImageFile(PictureBox &box, const QString &path);
