#pragma once

#include "app/desktop.h"
#include "imaging/commondialog.h"
#include "imaging/picturebox.h"
#include "ops/ophost.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

// One scripted answer: a cancel (nullopt), one path, or several for showOpenSeveral().
struct DialogAnswer {
    DialogAnswer(std::nullopt_t) {}
    DialogAnswer(const QString &path) : paths(QStringList{path}) {}
    DialogAnswer(const std::optional<QString> &path)
        : paths(path ? std::optional(QStringList{*path}) : std::nullopt)
    {
    }
    DialogAnswer(const QStringList &several) : paths(several) {}

    std::optional<QStringList> paths;
};

// Answers each show with the next scripted answer; records the filters, names and modes.
class FakeDialog : public CommonDialog {
public:
    std::deque<DialogAnswer> answers;
    QStringList filtersShown;
    QStringList namesShown;
    QStringList modes;

protected:
    bool show(Mode mode) override;
};

class FakeDesktop : public Desktop {
public:
    int beeps = 0;
    int endCalls = 0;
    QStringList messages; // "title|text|warning" or "...|information"
    std::function<void()> onMessage;

    void beep() override { ++beeps; }
    void showMessage(QWidget *, const QString &title, const QString &text, bool warning) override;
    void endProgram() override { ++endCalls; }
};

// Drives an operation without a window and records every step it takes with the host.
class FakeHost : public OpHost {
public:
    FakeHost();

    QStringList log; // "BeginWork", "EndWork", "Cap:<text>", "events", "beep", "info:<text>", "warn:<text>"
    bool StopFlag = true;
    QStringList paths;
    FakeDialog fakeDialog;
    std::unique_ptr<PictureBox> Picture1;
    std::unique_ptr<PictureBox> Picture3;
    // Runs at every event point with its 0-based number (two per Cap, one per letEventsRun).
    std::function<void(int)> atEventPoint;

    void BeginWork() override { log << QStringLiteral("BeginWork"); }
    void EndWork() override { log << QStringLiteral("EndWork"); }
    void Cap(const QString &text) override;
    void letEventsRun() override;
    bool stopFlag() const override { return StopFlag; }
    void setStopFlag(bool value) override { StopFlag = value; }
    QImage &canvas() override { return Picture1->surface(); }
    void setCanvas(QImage picture) override { Picture1->setPicture(std::move(picture)); }
    void canvasChanged() override { Picture1->surfaceChanged(); }
    std::optional<FileIdentity> canvasSource() const override { return Picture1->source(); }
    const QImage &secondImage() const override { return Picture3->surface(); }
    void setSecondImage(QImage picture) override { Picture3->setPicture(std::move(picture)); }
    int imageCount() const override { return int(paths.size()); }
    std::optional<QString> imagePath(int index) const override;
    void beep() override { log << QStringLiteral("beep"); }
    void showInformation(const QString &text) override { log << QStringLiteral("info:") + text; }
    void showWarning(const QString &text) override { log << QStringLiteral("warn:") + text; }

private:
    void eventPoint();
    int m_eventPoints = 0;
};
