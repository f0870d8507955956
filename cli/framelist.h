#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A frame argument "@FILE" stands for the paths in FILE, one a line, and "@-" for those on
// standard input: a shell cannot pass thousands of frame names, a list can.
bool isFrameList(const QString &argument);

// Lists are read whole; a million paths of 64 bytes fit with room to spare.
inline constexpr qint64 MaxListBytes = 64 << 20;

// Why the lists gave no frames: one cannot be read (a missing file, not a regular file, larger
// than MaxListBytes), or one holds what no path can (a NUL byte), which is a usage error.
struct ListProblem {
    enum class Kind { Unreadable, Malformed };
    Kind kind = Kind::Unreadable;
    QString message; // names the list, and for a malformed one its line
};

// The frames with each list's paths in its place, blank lines skipped, relative paths taken
// from the current folder as given; nullopt, with `problem` set, when a list gives none.
std::optional<QStringList> expandFrameLists(const QStringList &arguments, ListProblem &problem);
