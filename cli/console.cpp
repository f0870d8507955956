#include "cli/console.h"

#include "engine/imageloader.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

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
    std::fprintf(stderr, "ombrelux-cli: %s\n", text.toLocal8Bit().constData());
}

void reportQtMessages()
{
    qInstallMessageHandler(qtMessage);
}

void endOnOutOfMemory()
{
    std::set_terminate(endProgram);
}
