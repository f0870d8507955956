#pragma once

#include "imaging/commondialog.h"
#include "ops/ophost.h"

#include <QStringList>

#include <optional>

// Runs the window's median on a list of frames without a window: no events, no dialogs, the
// titles turned into a progress line. Unlike the window, a frame that does not load stops the
// run, as it would silently change the result.
class CliHost : public OpHost {
public:
    // `first` is the first frame, already decoded: it gives the stacked area and stands in
    // for itself, so it is not decoded twice.
    CliHost(QStringList frames, QImage first);

    // The 0-based frame that did not load, if one stopped the run.
    std::optional<int> failedFrame() const { return m_failedFrame; }
    // Why the median refused to start ("Not enough memory ..."), if it did.
    const QString &refusal() const { return m_refusal; }

    void BeginWork() override {}
    void EndWork() override {}
    void Cap(const QString &text) override;
    void letEventsRun() override {}
    bool stopFlag() const override { return m_failedFrame.has_value(); }
    void setStopFlag(bool) override {}
    QImage &canvas() override { return m_canvas; }
    void setCanvas(QImage picture) override;
    void canvasChanged() override {}
    const QImage &secondImage() const override { return m_second; }
    void setSecondImage(QImage picture) override { m_second = std::move(picture); }
    CommonDialog &dialog() override { return m_noDialog; }
    int imageCount() const override { return int(m_frames.size()); }
    std::optional<QString> imagePath(int index) const override;
    void beep() override {}
    void showInformation(const QString &text) override { m_refusal = text; }
    void showWarning(const QString &text) override { m_refusal = text; }

private:
    // Nobody to ask: every dialog is cancelled.
    class NoDialog : public CommonDialog {
    protected:
        bool show(Mode) override { return false; }
    };

    QStringList m_frames;
    QSize m_area;
    QImage m_canvas;
    QImage m_second;
    NoDialog m_noDialog;
    int m_titled = 0;        // frames whose "Processing image" title has been set
    bool m_loaded = true;    // a frame reached the canvas since the last such title
    std::optional<int> m_failedFrame;
    QString m_refusal;
};
