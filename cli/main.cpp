#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/console.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Installed first, so that warnings while the plugins load carry the prefix too.
    reportQtMessages();
    endOnOutOfMemory();
    // QCoreApplication still loads the image plugins, and needs no display: a QGuiApplication
    // aborts when DISPLAY is unset.
    const QCoreApplication app(argc, argv);
    const Request request = parseCommandLine(QCoreApplication::arguments().mid(1));
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
    return int(runJob(request.job));
}
