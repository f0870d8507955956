#include "cli/commandline.h"

#include <QCommandLineParser>

namespace {

Request usageError(const QString &error)
{
    return {Request::Kind::UsageError, {}, error};
}

std::optional<Command> commandNamed(const QString &name)
{
    if (name == u"median")
        return Command::Median;
    if (name == u"subtract")
        return Command::Subtract;
    if (name == u"brighten")
        return Command::Brighten;
    return std::nullopt;
}

// An empty string when the count fits the command.
QString countProblem(Command command, qsizetype count)
{
    switch (command) {
    case Command::Median:
        return count >= 2 ? QString() : QStringLiteral("median needs two or more frames");
    case Command::Subtract:
        return count == 2 ? QString() : QStringLiteral("subtract takes exactly IMAGE and SECOND");
    case Command::Brighten:
        return count == 1 ? QString() : QStringLiteral("brighten takes exactly one IMAGE");
    }
    return {};
}

} // namespace

Request parseCommandLine(const QStringList &arguments)
{
    const QString first = arguments.value(0);
    if (first == u"--help" || first == u"-h")
        return {Request::Kind::Help, {}, {}};
    if (first == u"--version")
        return {Request::Kind::Version, {}, {}};
    const std::optional<Command> command = commandNamed(first);
    if (!command)
        return usageError(first.isEmpty() ? QStringLiteral("no command given")
                                          : QStringLiteral("unknown command '%1'").arg(first));

    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption output(QStringLiteral("o"), QString(), QStringLiteral("OUT"));
    const QCommandLineOption passes(QStringLiteral("passes"), QString(), QStringLiteral("N"));
    parser.addOptions({help, quiet, output});
    if (*command == Command::Brighten)
        parser.addOption(passes);
    // parse() skips the first argument, here the command; process() would exit with 1 itself.
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return {Request::Kind::Help, {}, {}};

    Job job;
    job.command = *command;
    job.quiet = parser.isSet(quiet);
    job.inputs = parser.positionalArguments();
    if (!parser.isSet(output))
        return usageError(QStringLiteral("missing -o OUT"));
    job.output = parser.value(output);
    if (const QString problem = countProblem(job.command, job.inputs.size()); !problem.isEmpty())
        return usageError(problem);
    if (job.command == Command::Brighten && parser.isSet(passes)) {
        bool ok = false;
        job.passes = parser.value(passes).toInt(&ok);
        if (!ok || job.passes < 1)
            return usageError(QStringLiteral("--passes takes a whole number from 1 to 2147483647, not '%1'")
                                  .arg(parser.value(passes)));
    }
    const std::optional<OutputFormat> format = outputFormatFor(job.output);
    if (!format)
        return usageError(QStringLiteral("cannot tell the output format of %1: its name must end in %2")
                              .arg(job.output, supportedExtensions().join(QStringLiteral(", "))));
    job.format = *format;
    return {Request::Kind::Run, job, {}};
}

QString helpText()
{
    return QStringLiteral(
               "Usage: ombrelux-cli median [--quiet] -o OUT FRAME FRAME...\n"
               "  or:  ombrelux-cli subtract [--quiet] -o OUT IMAGE SECOND\n"
               "  or:  ombrelux-cli brighten [--quiet] [--passes N] -o OUT IMAGE\n"
               "  or:  ombrelux-cli --help | --version\n"
               "Stacks, brightens and subtracts photos with the engine of the Ombrelux window,\n"
               "without a display.\n"
               "\n"
               "Commands:\n"
               "  median      per pixel and per channel, the median of the frames (of an even\n"
               "              number: the mean of the two middle values, rounded down); the\n"
               "              result has the first frame's size, a smaller frame counts as\n"
               "              black beyond its edges\n"
               "  subtract    per channel IMAGE - SECOND, at least 0, where SECOND reaches;\n"
               "              the result has IMAGE's size\n"
               "  brighten    every channel times 1.5, rounded down, at most 255\n"
               "\n"
               "Options:\n"
               "  -o OUT      write the result to OUT, replacing it whole or not at all; OUT\n"
               "              may name an input; its extension picks the format:\n"
               "              %1\n"
               "  --passes N  brighten N times over (1 to 2147483647, default 1)\n"
               "  --quiet     no progress line on the terminal\n"
               "  -h, --help  show this help and exit\n"
               "  --version   show the version and exit\n"
               "\n"
               "Inputs are read like the window reads them: BMP, JPEG, GIF, PNG and the other\n"
               "formats of Qt's image plugins, EXIF orientation applied, transparency over\n"
               "black, an animation's first frame, at most 250 megapixels.\n"
               "\n"
               "Exit status:\n"
               "  0  success\n"
               "  1  an input cannot be read, the output cannot be written, or neither\n"
               "     memory nor disk can hold the stack\n"
               "  2  usage error\n")
        .arg(supportedExtensions().join(QStringLiteral(", ")));
}

QString versionText()
{
    return QStringLiteral("ombrelux-cli " OMBRELUX_VERSION "\n");
}
