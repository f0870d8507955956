#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A frame argument "@FILE" stands for the paths in FILE, one a line, and "@-" for those on
// standard input: a shell cannot pass thousands of frame names, a list can.
bool isFrameList(const QString &argument);

// The frames with each list's paths in its place, blank lines skipped, relative paths taken
// from the current folder as given; nullopt, with `failure` naming the list and the system's
// reason, when a list cannot be read.
std::optional<QStringList> expandFrameLists(const QStringList &arguments, QString &failure);
