#pragma once

#include "engine/decode/decode.h"
#include "imaging/surface.h"

#include <QImage>
#include <QWidget>

#include <optional>

// A box with a persistent drawing surface of exactly its inner size. Loading a picture sizes
// the box to it, one picture pixel to one device pixel.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    PictureBox(QSize designSize, QWidget *parent);

    const QImage &surface() const { return m_surface; }
    // Writable access for pixel work; call surfaceChanged() afterwards so the screen follows.
    // The surface may be written from here on, so it no longer stands for a file.
    QImage &surface()
    {
        m_source.reset();
        return m_surface;
    }
    void surfaceChanged() { update(); }

    bool hasPicture() const { return m_hasPicture; }
    // `source`: the file the picture is an untouched decode of, as that file was when read.
    void setPicture(QImage picture, std::optional<FileIdentity> source = std::nullopt);
    const std::optional<FileIdentity> &source() const { return m_source; }

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
    std::optional<FileIdentity> m_source;
    bool m_hasPicture = false;
    float m_left = 0.0f;
    float m_top = 0.0f;
};

// Replaces the box's picture with the decoded file. On failure the box, its surface and
// every earlier pixel write stay exactly as they were.
bool LoadImageFile(PictureBox &box, const QString &path);
