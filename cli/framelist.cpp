#include "cli/framelist.h"

#include "cli/console.h"
#include "engine/decode/decode.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QLatin1StringView StandardInput("-");

// Standard input may be a pipe; a named list must be a regular file: /dev/zero or a FIFO
// would be read forever.
std::optional<QString> openList(QFile &list, const QString &name)
{
    if (name == StandardInput)
        return list.open(stdin, QIODevice::ReadOnly) ? std::nullopt : std::optional(list.errorString());
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int descriptor = ::open(bytesOfName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return qt_error_string(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return QStringLiteral("not a regular file");
    }
    if (!list.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return list.errorString();
    return std::nullopt;
}

std::optional<QByteArray> readBounded(QFile &list, QString &why)
{
    const QByteArray text = list.read(MaxListBytes + 1);
    if (list.error() != QFileDevice::NoError) {
        why = list.errorString();
        return std::nullopt;
    }
    if (text.size() > MaxListBytes) {
        why = QStringLiteral("larger than %1 MiB").arg(MaxListBytes >> 20);
        return std::nullopt;
    }
    return text;
}

// The paths of a list's text; the number of the first line holding a NUL byte, which would cut
// the path short, where there is one.
std::optional<qsizetype> appendLines(const QByteArray &text, QStringList &frames)
{
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.contains('\0'))
            return i + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            frames << QFile::decodeName(line);
    }
    return std::nullopt;
}

} // namespace

bool isFrameList(const QString &argument)
{
    return argument.startsWith(u'@') && argument.size() > 1;
}

std::optional<QStringList> expandFrameLists(const QStringList &arguments, ListProblem &problem)
{
    QStringList frames;
    for (const QString &argument : arguments) {
        if (!isFrameList(argument)) {
            frames << argument;
            continue;
        }
        const QString name = argument.mid(1);
        const QString shown = name == StandardInput ? QStringLiteral("on standard input") : quotedName(name);
        QFile list(name);
        QString why;
        std::optional<QByteArray> text;
        if (const std::optional<QString> unopened = openList(list, name))
            why = *unopened;
        else
            text = readBounded(list, why);
        if (!text) {
            problem = {ListProblem::Kind::Unreadable, QStringLiteral("cannot read list %1: %2").arg(shown, why)};
            return std::nullopt;
        }
        if (const std::optional<qsizetype> line = appendLines(*text, frames)) {
            problem = {ListProblem::Kind::Malformed,
                       QStringLiteral("list %1, line %2: a NUL byte, which no path can hold").arg(shown).arg(*line)};
            return std::nullopt;
        }
    }
    return frames;
}
