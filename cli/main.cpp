#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "engine/decode/decode.h"
#include "engine/stack/stack.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Installed first, so that warnings while the plugins load carry the prefix too.
    reportDecoderMessages();
    endOnOutOfMemory();
    // QCoreApplication still loads the image plugins, and needs no display: a QGuiApplication
    // aborts when DISPLAY is unset.
    const QCoreApplication app(argc, argv);
    // Taken from argv, since arguments() replaces the bytes of a name that is not UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << nameFromBytes(argv[i]);
    const Request request = parseCommandLine(arguments);
    switch (request.kind) {
    case Request::Kind::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return int(ExitStatus::Success);
    case Request::Kind::Version:
        std::fputs(versionText().toLocal8Bit().constData(), stdout);
        return int(ExitStatus::Success);
    case Request::Kind::UsageError:
        report(request.error + QStringLiteral(" (see ombrelux-cli --help)"));
        return int(ExitStatus::UsageError);
    case Request::Kind::Run:
        break;
    }
    if (request.job.threads > 0)
        WorkerPool::setSharedThreads(request.job.threads);
    const ExitStatus status = runJob(request.job);
    finishAbandonedFrames();
    return int(status);
}
