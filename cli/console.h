#pragma once

#include <QString>

// Everything ombrelux-cli says goes to stderr: stdout carries only --help and --version, so a
// script can pipe them. Safe from any thread, since decoders warn from the thread they run on.

// The progress line is shown only when asked and stderr is a terminal.
void enableProgress(bool wanted);
// Replaces the progress line with this step ("loading 7/20", "median", "saving").
void showProgress(const QString &step);
// Clears the progress line, so the shell prompt starts on a clean line.
void endProgress();

// A file name as a message shows it: as it is, unless it holds control characters (a newline
// would forge a second line, an escape sequence would reach the terminal); then quoted as GNU
// coreutils quotes it for a shell, 'a'$'\n''b'.
QString quotedName(const QString &name);

// One line "ombrelux-cli: text", after clearing any progress line. The tool ends on it, so
// decoders' messages after it are not said.
void report(const QString &text);
// The last line report() printed, for a run's report file.
QString lastReport();

// Qt's warnings ("Corrupt JPEG data ...") and what libraries print to stderr themselves
// ("libpng error: ...", libtiff's warnings) get the prefix and the file being decoded, each
// message once per file. Call before any thread starts.
void reportDecoderMessages();

// From here on what Qt and the libraries say is not shown: while the result is written, an
// encoder's own words ("foo: Error writing TIFF header", "Bogus message code 0") only precede,
// and garble, the reason the tool gives.
void muteLibraryMessages();

// Memory running out inside Qt throws std::bad_alloc, on whichever thread allocates, and Qt's
// state cannot be trusted after it: the tool then ends at once with exit status 1 and the
// system's reason, as for any failure. OUT is only ever written whole, so it stays as it was.
void endOnOutOfMemory();
