#pragma once

#include "engine/align/alignment.h"
#include "engine/stack/stackmode.h"
#include "engine/stack/stackresources.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

// One frame of a stack: a file read ahead and taken at its turn, or a picture the caller brings.
struct StackFrame {
    QString path;
    QImage picture; // when not null, the frame itself; the path is then not read
};

// Frames shot by hand are warped into the reference's grid before they are stacked; each pixel's
// samples are then those of the frames that cover it.
struct Alignment {
    QImage reference; // a picture of the area's size
    AlignMethod method = AlignMethod::Local;
};

// A stack, described once.
struct StackPlan {
    QList<StackFrame> frames;
    QSize area; // a frame's part beyond it is ignored; beyond a frame's edges it is black
    StackOptions options;
    std::optional<Alignment> alignment;
};

enum class StackPhase { Loading, Stacking };

// What frame `index` gave at its turn: its picture, or why it gave none.
struct FrameTaken {
    int index = 0;
    std::optional<QImage> picture;
    QString failure;
    bool unaligned = false; // decoded, but it matched the reference nowhere
    bool removed = false;   // no file at its turn: the caller's list lost the entry
    bool brought = false;   // the plan's own picture
    std::optional<AlignmentFacts> alignment; // aligned: what the alignment rests on
};

// What the caller makes of a frame: stacks a picture (the frame's own, or one that stands in for
// it, which counts as covering what the last frame with a picture covered), leaves it out, or ends
// the run.
struct FrameChoice {
    enum class Kind { Stack, LeaveOut, Stop };
    Kind kind = Kind::Stack;
    QImage picture;
};

// How the run reaches its caller, on the caller's thread.
struct StackEvents {
    // Before frame `index` is taken (Loading), and once every frame is in (Stacking).
    std::function<void(StackPhase phase, int index)> phase;
    // The path of frame `index` at its turn, nullopt when it has none now; unset, the plan's.
    std::function<std::optional<QString>(int index)> pathAtTurn;
    std::function<FrameChoice(FrameTaken &frame)> frameTaken;
    // After each frame's choice but Stop: the caller's point to let events run.
    std::function<void(int index)> frameDone;
    // The picture the result is painted over, the area's part of it; unset, a fresh one.
    std::function<QImage &()> surface;
};

struct StackResult {
    enum class Kind { Done, Refused, Failed, Stopped };
    Kind kind = Kind::Done;
    QString reason; // Refused: the whole message; Failed: the system's reason
    QImage picture; // Done without a surface of the caller's: the result
};

// Runs the stack, reporting through `events`; the frames' pictures are freed as they are stacked.
StackResult runStack(StackPlan plan, const StackEvents &events, const StackResources &resources = {});

// A run that ends early leaves the frames it was decoding and aligning to finish on their own.
// Call before returning from main: they must end while the libraries they use still stand, not
// meet those libraries' statics torn down at exit.
void finishAbandonedFrames();
