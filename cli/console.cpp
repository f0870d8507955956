#include "cli/console.h"

#include "engine/filenames.h"
#include "engine/imageloader.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {

std::mutex lineLock;
bool progressWanted = false;
bool progressShown = false;

// Carriage return, then "erase to end of line": the next text starts on a clean line.
constexpr char ClearLine[] = "\r\033[K";

void clearProgressLocked()
{
    if (progressShown)
        std::fputs(ClearLine, stderr);
    progressShown = false;
}

void qtMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    const QString path = pathBeingDecoded();
    // Some decoders end their messages with a newline; report() adds its own.
    report(path.isEmpty() ? text.trimmed() : path + QStringLiteral(": ") + text.trimmed());
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
    std::fprintf(stderr, "%s%s", ClearLine, step.toLocal8Bit().constData());
    std::fflush(stderr);
    progressShown = true;
}

void endProgress()
{
    const std::lock_guard lock(lineLock);
    clearProgressLocked();
}

void report(const QString &text)
{
    const std::lock_guard lock(lineLock);
    clearProgressLocked();
    // A file name in the text comes out as the bytes it was given as.
    std::fprintf(stderr, "ombrelux-cli: %s\n", bytesOfName(text).constData());
}

void reportQtMessages()
{
    qInstallMessageHandler(qtMessage);
}
