#pragma once

#include <QString>

#include <optional>

class CommonDialog;
class PictureBox;

// What an operation may reach of the window. Ops never see the window itself, so tests
// drive them through a recording fake.
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

    virtual PictureBox &canvas() = 0;
    virtual PictureBox &secondImage() = 0;
    virtual CommonDialog &dialog() = 0;

    virtual int imageCount() const = 0;
    // nullopt once the entry at that position no longer exists.
    virtual std::optional<QString> imagePath(int index) const = 0;

    virtual void beep() = 0;
    // Modal, one OK button, titled with the window's base caption.
    virtual void showInformation(const QString &text) = 0;
    virtual void showWarning(const QString &text) = 0;
};
