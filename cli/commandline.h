#pragma once

#include "engine/stack/stack.h"
#include "engine/write/write.h"

#include <QString>
#include <QStringList>

#include <optional>

enum class Command { Stack, Subtract, Brighten };

struct Job {
    Command command = Command::Stack;
    bool quiet = false;
    int passes = 1;
    int threads = 0;    // workers; 0: the CPUs this process may use
    StackOptions stack; // median unless `stack --mode` says otherwise
    // Warp every frame into the first one's grid before stacking: `--align`, or `--align=global`
    // for one homography a frame.
    std::optional<AlignMethod> align;
    // --depth; unset, the deepest input's where OUT's format holds 16 bits, else 8.
    std::optional<SampleDepth> depth;
    QString output;
    QString reportPath; // --report: the run described as JSON there
    OutputFormat format;
    QStringList inputs; // as given, for messages; a frame "@FILE" stands for the paths in FILE
};

// What the arguments after the program name ask for. A usage error carries its message.
struct Request {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::UsageError;
    Job job;
    QString error;
};

Request parseCommandLine(const QStringList &arguments);

QString helpText();
QString versionText();
