#include "cli/console.h"

#include "engine/decode/decode.h"

#include <QSet>

#include <algorithm>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {

std::mutex lineLock;
// The terminal's own stream, taken before `stderr` is routed through sayLibraryOutput().
FILE *const console = stderr;
bool progressWanted = false;
bool progressShown = false;
// "path\ntext" of each decoder message said so far.
QSet<QString> said;
// What a thread wrote to `stderr` after its last newline.
std::map<std::thread::id, std::string> partialLines;
// Every report ends the run, which cancels the frames still read ahead: their decoders then
// fail on reads the cancel refused ("libpng error: Read Error") about files that are fine.
bool runEnded = false;
// Set once the result is being written.
bool librariesMuted = false;

constexpr QLatin1StringView QtTiffName("foo: ");

// Carriage return, then "erase to end of line": the next text starts on a clean line.
constexpr char ClearLine[] = "\r\033[K";

void clearProgressLocked()
{
    if (progressShown)
        std::fputs(ClearLine, console);
    progressShown = false;
}

// What report() said last.
QString lastReported;

void reportLocked(const QString &text)
{
    clearProgressLocked();
    // A file name in the text comes out as the bytes it was given as.
    std::fprintf(console, "ombrelux-cli: %s\n", bytesOfName(text).constData());
}

// Each line gets the prefix and the file this thread decodes, once per file: qtiff reads a
// file's first directory twice, and decode-ahead reads again at its turn the header of a frame
// that did not fit its room, and each time the decoder says the same.
void sayForDecoderLocked(const QString &text)
{
    if (runEnded || librariesMuted || decodingGivenUpOn())
        return;
    const QString path = pathBeingDecoded();
    for (const QString &line : text.split(u'\n')) {
        QString trimmed = line.trimmed();
        // Qt's TIFF plugin opens every file under the name "foo", which libtiff puts before its
        // messages; the file's own name comes first already.
        if (trimmed.startsWith(QtTiffName))
            trimmed.remove(0, QtTiffName.size());
        if (trimmed.isEmpty())
            continue;
        if (path.isEmpty()) {
            reportLocked(trimmed);
            continue;
        }
        const QString key = path + u'\n' + trimmed;
        if (said.contains(key))
            continue;
        said.insert(key);
        reportLocked(quotedName(path) + QStringLiteral(": ") + trimmed);
    }
}

void qtMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    const std::lock_guard lock(lineLock);
    sayForDecoderLocked(text);
}

// libpng's error handler (Qt installs only a warning one) and libtiff's (qtiff installs none)
// print to `stderr` in pieces: a line is said once its newline comes, so that lines of
// threads decoding at once do not mix. Called on the writing thread, under the stream's lock.
ssize_t sayLibraryOutput(void *, const char *data, size_t size)
{
    const std::lock_guard lock(lineLock);
    std::string &pending = partialLines[std::this_thread::get_id()];
    pending.append(data, size);
    if (const std::size_t end = pending.rfind('\n'); end != std::string::npos) {
        sayForDecoderLocked(QString::fromLocal8Bit(pending.data(), qsizetype(end)));
        pending.erase(0, end + 1);
    }
    if (pending.empty())
        partialLines.erase(std::this_thread::get_id());
    return ssize_t(size);
}

// Runs after the decoding workers are joined.
void sayUnfinishedLines()
{
    const std::lock_guard lock(lineLock);
    for (const auto &[thread, text] : partialLines)
        sayForDecoderLocked(QString::fromLocal8Bit(text.data(), qsizetype(text.size())));
    partialLines.clear();
}

void routeLibraryOutput()
{
    cookie_io_functions_t functions{};
    functions.write = sayLibraryOutput;
    FILE *const stream = fopencookie(nullptr, "w", functions);
    if (!stream)
        return;
    // Unbuffered: each piece reaches sayLibraryOutput() on the thread that wrote it.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    std::atexit(sayUnfinishedLines);
    // glibc's `stderr` is a variable that libraries read at each call.
    stderr = stream;
}

// Nothing here allocates: the memory is gone.
[[noreturn]] void endProgram()
{
    try {
        if (const std::exception_ptr thrown = std::current_exception())
            std::rethrow_exception(thrown);
    } catch (const std::bad_alloc &) {
        if (progressShown)
            (void)!write(STDERR_FILENO, ClearLine, sizeof ClearLine - 1);
        constexpr char prefix[] = "ombrelux-cli: ";
        const char *reason = std::strerror(ENOMEM);
        (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
        (void)!write(STDERR_FILENO, reason, std::strlen(reason));
        (void)!write(STDERR_FILENO, "\n", 1);
        std::_Exit(1);
    } catch (...) {
    }
    std::abort();
}

} // namespace

void enableProgress(bool wanted)
{
    const std::lock_guard lock(lineLock);
    progressWanted = wanted && isatty(STDERR_FILENO) == 1;
}

void showProgress(const QString &step)
{
    const std::lock_guard lock(lineLock);
    if (!progressWanted)
        return;
    std::fprintf(console, "%s%s", ClearLine, step.toLocal8Bit().constData());
    std::fflush(console);
    progressShown = true;
}

void endProgress()
{
    const std::lock_guard lock(lineLock);
    clearProgressLocked();
}

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// One control character inside $'...'.
QString escaped(QChar c)
{
    switch (c.unicode()) {
    case '\a': return QStringLiteral("\\a");
    case '\b': return QStringLiteral("\\b");
    case '\t': return QStringLiteral("\\t");
    case '\n': return QStringLiteral("\\n");
    case '\v': return QStringLiteral("\\v");
    case '\f': return QStringLiteral("\\f");
    case '\r': return QStringLiteral("\\r");
    default: return QStringLiteral("\\%1").arg(c.unicode(), 3, 8, QLatin1Char('0'));
    }
}

} // namespace

QString quotedName(const QString &name)
{
    if (std::none_of(name.begin(), name.end(), isControl))
        return name;
    QString quoted;
    for (qsizetype at = 0; at < name.size();) {
        const bool control = isControl(name[at]);
        qsizetype end = at;
        while (end < name.size() && isControl(name[end]) == control)
            ++end;
        QString run;
        for (qsizetype i = at; i < end; ++i)
            run += control ? escaped(name[i]) : name[i] == u'\'' ? QStringLiteral("'\\''") : QString(name[i]);
        quoted += control ? QStringLiteral("$'%1'").arg(run) : QStringLiteral("'%1'").arg(run);
        at = end;
    }
    return quoted;
}

void muteLibraryMessages()
{
    const std::lock_guard lock(lineLock);
    librariesMuted = true;
}

void report(const QString &text)
{
    const std::lock_guard lock(lineLock);
    runEnded = true;
    lastReported = text;
    reportLocked(text);
}

QString lastReport()
{
    const std::lock_guard lock(lineLock);
    return lastReported;
}

void reportDecoderMessages()
{
    routeLibraryOutput();
    qInstallMessageHandler(qtMessage);
}

void endOnOutOfMemory()
{
    std::set_terminate(endProgram);
}
