#include "cli/commandline.h"

#include "cli/console.h"
#include "cli/framelist.h"
#include "engine/stack/stack.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

// More would only cost memory: each worker holds rows of its own.
constexpr int MaxThreads = 1024;

Request usageError(const QString &error)
{
    return {Request::Kind::UsageError, {}, error};
}

std::optional<Command> commandNamed(const QString &name)
{
    if (name == u"median" || name == u"stack")
        return Command::Stack;
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
    case Command::Stack:
        return count >= 2 ? QString() : QStringLiteral("a stack needs two or more frames");
    case Command::Subtract:
        return count == 2 ? QString() : QStringLiteral("subtract takes exactly IMAGE and SECOND");
    case Command::Brighten:
        return count == 1 ? QString() : QStringLiteral("brighten takes exactly one IMAGE");
    }
    return {};
}

std::optional<StackMode> modeNamed(const QString &name)
{
    for (const ModeEntry &entry : stackModes())
        if (name == entry.word)
            return entry.mode;
    return std::nullopt;
}

// "median|mean|min|max|sigma", or with another separator and last one.
QString modeWords(const QString &separator, const QString &last)
{
    QStringList words;
    for (const ModeEntry &entry : stackModes())
        words << entry.word;
    const QString final = words.takeLast();
    return words.join(separator) + last + final;
}

// "2.5" or "2.50" as 250; nullopt beyond 1 to 10 or past two decimals.
std::optional<int> kappaHundredths(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^([0-9]{1,2})(?:\\.([0-9]{1,2}))?$"));
    const QRegularExpressionMatch match = decimal.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int hundredths = match.captured(1).toInt() * 100 + match.captured(2).leftJustified(2, u'0').toInt();
    if (hundredths < 100 || hundredths > 1000)
        return std::nullopt;
    return hundredths;
}

// `stack` names its mode, `median` is its own; --kappa belongs to sigma alone.
QString stackProblem(const QCommandLineParser &parser, const QString &command, const QCommandLineOption &mode,
                     const QCommandLineOption &kappa, StackOptions &options)
{
    if (command == u"stack") {
        if (!parser.isSet(mode))
            return QStringLiteral("stack needs --mode ") + modeWords(QStringLiteral("|"), QStringLiteral("|"));
        const std::optional<StackMode> named = modeNamed(parser.value(mode));
        if (!named)
            return QStringLiteral("unknown --mode '%1': it is %2")
                .arg(parser.value(mode), modeWords(QStringLiteral(", "), QStringLiteral(" or ")));
        options.mode = *named;
    }
    if (!parser.isSet(kappa))
        return {};
    if (options.mode != StackMode::SigmaClippedMean)
        return QStringLiteral("--kappa goes with --mode sigma only");
    const std::optional<int> hundredths = kappaHundredths(parser.value(kappa));
    if (!hundredths)
        return QStringLiteral("--kappa takes 1.00 to 10.00 with at most two decimals, not '%1'").arg(parser.value(kappa));
    options.kappaHundredths = *hundredths;
    return {};
}

// The options a command takes; each is added to the parser only where it belongs.
struct Options {
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption quiet{QStringLiteral("quiet")};
    QCommandLineOption output{QStringLiteral("o"), QString(), QStringLiteral("OUT")};
    QCommandLineOption passes{QStringLiteral("passes"), QString(), QStringLiteral("N")};
    QCommandLineOption mode{QStringLiteral("mode"), QString(), QStringLiteral("MODE")};
    QCommandLineOption kappa{QStringLiteral("kappa"), QString(), QStringLiteral("K")};
    QCommandLineOption align{QStringLiteral("align")};
    QCommandLineOption threads{QStringLiteral("threads"), QString(), QStringLiteral("N")};
    QCommandLineOption depth{QStringLiteral("depth"), QString(), QStringLiteral("BITS")};
    QCommandLineOption report{QStringLiteral("report"), QString(), QStringLiteral("FILE")};

    void addTo(QCommandLineParser &parser, Command command, const QString &word) const
    {
        parser.addOptions({help, quiet, output, threads, depth});
        if (command == Command::Brighten)
            parser.addOption(passes);
        if (word == u"stack")
            parser.addOption(mode);
        if (command == Command::Stack)
            parser.addOptions({kappa, align, report});
    }
};

// The option's whole number from `least` to `most`; nullopt, with the usage error, otherwise.
std::optional<int> wholeNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int least,
                               int most, QString &error)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (ok && value >= least && value <= most)
        return value;
    error = QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                .arg(option.names().constLast())
                .arg(least)
                .arg(most)
                .arg(parser.value(option));
    return std::nullopt;
}

// --depth 8 or 16, the second only where OUT's format holds it.
QString depthProblem(const QCommandLineParser &parser, const QCommandLineOption &depth, Job &job)
{
    if (!parser.isSet(depth))
        return {};
    const QString bits = parser.value(depth);
    if (bits != u"8" && bits != u"16")
        return QStringLiteral("--depth takes 8 or 16, not '%1'").arg(bits);
    if (bits == u"16" && !job.format.holdsSixteenBits)
        return QStringLiteral("%1 cannot hold 16 bits a sample; these formats can: %2")
            .arg(quotedName(job.output), sixteenBitExtensions().join(QStringLiteral(", ")));
    job.depth = bits == u"16" ? SampleDepth::Sixteen : SampleDepth::Eight;
    return {};
}

// What the parsed options say of the job; an empty string, or the usage error.
QString readJob(const QCommandLineParser &parser, const Options &options, const QString &word, Job &job)
{
    job.quiet = parser.isSet(options.quiet);
    job.inputs = parser.positionalArguments();
    if (!parser.isSet(options.output))
        return QStringLiteral("missing -o OUT");
    job.output = parser.value(options.output);
    if (job.command == Command::Stack)
        job.reportPath = parser.value(options.report);
    // A list's frames are counted once it is read.
    const bool listed = std::any_of(job.inputs.cbegin(), job.inputs.cend(), isFrameList);
    if (const QString problem = countProblem(job.command, job.inputs.size()); !problem.isEmpty() && !listed)
        return problem;
    if (job.command == Command::Stack)
        if (const QString problem = stackProblem(parser, word, options.mode, options.kappa, job.stack);
            !problem.isEmpty())
            return problem;
    QString error;
    if (job.command == Command::Brighten && parser.isSet(options.passes))
        job.passes = wholeNumber(parser, options.passes, 1, std::numeric_limits<int>::max(), error).value_or(0);
    if (error.isEmpty() && parser.isSet(options.threads))
        job.threads = wholeNumber(parser, options.threads, 1, MaxThreads, error).value_or(0);
    if (!error.isEmpty())
        return error;
    const std::optional<OutputFormat> format = outputFormatFor(job.output);
    if (!format)
        return QStringLiteral("cannot tell the output format of %1: its name must end in %2")
            .arg(quotedName(job.output), supportedExtensions().join(QStringLiteral(", ")));
    job.format = *format;
    return depthProblem(parser, options.depth, job);
}

} // namespace

namespace {

// "--align=global" is read here: Qt's parser takes an option with a value or one without, not both.
QString takeAlignMethod(QStringList &arguments, AlignMethod &method)
{
    const QString prefix = QStringLiteral("--align=");
    for (QString &argument : arguments) {
        if (argument == u"--")
            break;
        if (!argument.startsWith(prefix))
            continue;
        if (argument != u"--align=global")
            return QStringLiteral("--align takes no value or =global, not '%1'").arg(argument.mid(prefix.size()));
        method = AlignMethod::Global;
        argument = QStringLiteral("--align");
    }
    return {};
}

} // namespace

Request parseCommandLine(const QStringList &given)
{
    QStringList arguments = given;
    AlignMethod alignMethod = AlignMethod::Local;
    if (const QString problem = takeAlignMethod(arguments, alignMethod); !problem.isEmpty())
        return usageError(problem);
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
    const Options options;
    options.addTo(parser, *command, first);
    // parse() skips the first argument, here the command; process() would exit with 1 itself.
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(options.help))
        return {Request::Kind::Help, {}, {}};
    Job job;
    job.command = *command;
    if (const QString problem = readJob(parser, options, first, job); !problem.isEmpty())
        return usageError(problem);
    if (job.command == Command::Stack && parser.isSet(options.align))
        job.align = alignMethod;
    return {Request::Kind::Run, job, {}};
}

namespace {

// %1: the output formats; %2: those that hold 16 bits.
constexpr char HelpTemplate[] =
    "Usage: ombrelux-cli stack [--quiet] [--align[=global]] [--depth BITS] [--report FILE] --mode MODE [--kappa K] -o OUT FRAME FRAME...\n"
    "  or:  ombrelux-cli median [--quiet] [--align[=global]] [--depth BITS] [--report FILE] -o OUT FRAME FRAME...\n"
    "  or:  ombrelux-cli subtract [--quiet] [--depth BITS] -o OUT IMAGE SECOND\n"
    "  or:  ombrelux-cli brighten [--quiet] [--depth BITS] [--passes N] -o OUT IMAGE\n"
    "  or:  ombrelux-cli --help | --version\n"
    "Stacks, brightens and subtracts photos with the engine of the Ombrelux window,\n"
    "without a display.\n"
    "\n"
    "Commands:\n"
    "  stack       per pixel and per channel, the frames' values combined by MODE;\n"
    "              the result has the first frame's size, a smaller frame counts as\n"
    "              black beyond its edges\n"
    "  median      stack --mode median\n"
    "  subtract    per channel IMAGE - SECOND, at least 0, where SECOND reaches;\n"
    "              the result has IMAGE's size\n"
    "  brighten    every channel times 1.5, rounded down, at most 255 (65535 at\n"
    "              16 bits)\n"
    "\n"
    "Options:\n"
    "  -o OUT      write the result to OUT, replacing it whole or not at all; OUT\n"
    "              may name an input; its extension picks the format:\n"
    "              %1\n"
    "              PNG, JPEG and TIFF are tagged sRGB and carry the first input's\n"
    "              EXIF (camera, lens, date and time, exposure), without its\n"
    "              orientation and thumbnail\n"
    "  --mode MODE how stack combines the k values of a pixel's channel:\n"
    "              median  the middle one (of an even number: the mean of the two\n"
    "                      middle ones, rounded down)\n"
    "              mean    their mean, rounded half up\n"
    "              sigma   their mean after rejecting outliers: with n values left,\n"
    "                      S their sum and Q their sum of squares, every value v with\n"
    "                      (n v - S)^2 > K^2 (n Q - S^2) is dropped, in rounds while\n"
    "                      any is, at most 10\n"
    "              min     the darkest, for star and light trails on black\n"
    "              max     the brightest, for star and light trails\n"
    "              mean, min and max keep no frames: any number of them fits\n"
    "  --kappa K   sigma's K, 1.00 to 10.00 with at most two decimals (default 2.50)\n"
    "  --align     for frames shot by hand: warp every frame onto the first one\n"
    "              (shift, turn, tilt, then what one such fit cannot take: a near\n"
    "              layer's parallax, a lens breathing, a rolling shutter) before\n"
    "              stacking; a pixel's values are then those of the frames that\n"
    "              reach it; a frame that cannot be aligned ends the run\n"
    "  --align=global  the same with one fit a frame (shift, turn, tilt) alone\n"
    "  --depth BITS  8 or 16 bits a sample, read, computed and written; 16 only\n"
    "              for OUT in %2.\n"
    "              Default: 16 where an input holds more than 8 bits (16-bit PNG,\n"
    "              TIFF and PPM, camera RAW, HEIC of 10 or 12 bits) and OUT's\n"
    "              format can hold it, else 8; --depth 16 keeps the precision a\n"
    "              stack of 8-bit frames gains\n"
    "  --report FILE  stack and median: describe the run in FILE as JSON, written\n"
    "              or not: its mode, depth, alignment, frame count, seconds and\n"
    "              outcome, and per frame its path, whether it was stacked or why\n"
    "              not, and its alignment's matches, inliers, residual and the\n"
    "              share of tiles and of the area the local fit refined; a FILE\n"
    "              that cannot be written ends the run before it starts\n"
    "  --passes N  brighten N times over (1 to 2147483647, default 1)\n"
    "  --quiet     no progress line on the terminal\n"
    "  --threads N work on N threads, any command (1 to 1024; default: the CPUs this\n"
    "              process may use, by its affinity and its cgroup's CPU quota)\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "A FRAME @FILE stands for the paths in FILE, one a line (blank lines skipped);\n"
    "@- reads them from standard input. A list is a regular file or standard input,\n"
    "of at most 64 MiB.\n"
    "\n"
    "Inputs are read like the window reads them: BMP, JPEG, GIF, PNG and the other\n"
    "formats of Qt's image plugins, EXIF orientation applied, transparency over\n"
    "black, an animation's first frame, at most 250 megapixels.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  an input or a list cannot be read, the output cannot be written,\n"
    "     neither memory nor disk can hold the stack, or either fails during it\n"
    "  2  usage error\n";

} // namespace

QString helpText()
{
    return QString::fromUtf8(HelpTemplate)
        .arg(supportedExtensions().join(QStringLiteral(", ")), sixteenBitExtensions().join(QStringLiteral(", ")));
}

QString versionText()
{
    return QStringLiteral("ombrelux-cli " OMBRELUX_VERSION "\n");
}
