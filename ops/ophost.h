#pragma once

#include "engine/decode/decode.h"

#include <QImage>
#include <QString>

#include <optional>

// What an operation may reach of its host: the window, or a batch tool. Ops never see widgets,
// so tests drive them through a recording fake.
class OpHost {
public:
    virtual ~OpHost() = default;

    virtual void BeginWork() = 0;
    virtual void EndWork() = 0;
    // Lets pending events run, sets the status title, lets them run again.
    virtual void Cap(const QString &text) = 0;
    // The one other event point: median stacking's after each copied image.
    virtual void letEventsRun() = 0;

    virtual bool stopFlag() const = 0;
    virtual void setStopFlag(bool value) = 0;

    // The working image, Format_RGB32. A handler at an event point may replace it, so fetch it,
    // its size and any bits() pointer anew after every event point.
    virtual QImage &canvas() = 0;
    // Adopts a decoded picture; the canvas takes its size.
    virtual void setCanvas(QImage picture) = 0;
    // Call after writing canvas() in place, so the screen follows.
    virtual void canvasChanged() = 0;
    // The file the canvas is an untouched decode of, as that file was when read; nullopt when
    // unknown, and from the first canvas() call on, which may write it.
    virtual std::optional<FileIdentity> canvasSource() const = 0;
    // The second picture of a subtraction; it stays until another one loads.
    virtual const QImage &secondImage() const = 0;
    virtual void setSecondImage(QImage picture) = 0;

    virtual int imageCount() const = 0;
    // nullopt once the entry at that position no longer exists.
    virtual std::optional<QString> imagePath(int index) const = 0;

    virtual void beep() = 0;
    // Modal, one OK button, titled with the window's base caption.
    virtual void showInformation(const QString &text) = 0;
    virtual void showWarning(const QString &text) = 0;
};
