#pragma once

#include "engine/stack/stack.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// What `--report FILE` says of a stack run, as JSON: the run's mode, depth, alignment, frame
// count, time and outcome, and per frame its path, whether it was stacked or why not, and what
// its alignment rests on.
class RunReport {
public:
    RunReport(const QStringList &frames, std::optional<AlignMethod> align);

    void setOptions(const StackOptions &options) { m_options = options; }
    // The frame as the run took it; frames never taken stay "not reached".
    void taken(const FrameTaken &frame);
    void unread(int index, const QString &reason);
    // The run's end: written or the reason why not, after `seconds`.
    void finished(const QString &failure, double seconds);

    QByteArray json() const;

private:
    struct Frame {
        QString status = QStringLiteral("not reached");
        QString reason;
        std::optional<AlignmentFacts> alignment;
    };

    QStringList m_paths;
    std::optional<AlignMethod> m_align;
    StackOptions m_options;
    std::vector<Frame> m_frames;
    QString m_failure;
    double m_seconds = 0;
};

// Whether a report can be written at `path`, tried before the run so that a bad path costs
// nothing: the system's reason when not.
Outcome<> reportWritable(const QString &path);
// The report written whole or not at all.
Outcome<> writeReport(const QString &path, const QByteArray &json);
