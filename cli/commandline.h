#pragma once

#include "cli/outputformat.h"

#include <QString>
#include <QStringList>

enum class Command { Median, Subtract, Brighten };

struct Job {
    Command command = Command::Median;
    bool quiet = false;
    int passes = 1;
    QString output;
    OutputFormat format;
    QStringList inputs; // as given, for messages
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
