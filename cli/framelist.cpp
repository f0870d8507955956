#include "cli/framelist.h"

#include <QFile>

#include <cstdio>

namespace {

constexpr QLatin1StringView StandardInput("-");

bool readLines(QFile &list, QStringList &frames)
{
    const QByteArray text = list.readAll();
    if (list.error() != QFileDevice::NoError)
        return false;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            frames << QFile::decodeName(line);
    }
    return true;
}

} // namespace

bool isFrameList(const QString &argument)
{
    return argument.startsWith(u'@') && argument.size() > 1;
}

std::optional<QStringList> expandFrameLists(const QStringList &arguments, QString &failure)
{
    QStringList frames;
    for (const QString &argument : arguments) {
        if (!isFrameList(argument)) {
            frames << argument;
            continue;
        }
        const QString name = argument.mid(1);
        QFile list(name);
        const bool opened = name == StandardInput ? list.open(stdin, QIODevice::ReadOnly) : list.open(QIODevice::ReadOnly);
        if (!opened || !readLines(list, frames)) {
            failure = QStringLiteral("cannot read list %1: %2")
                          .arg(name == StandardInput ? QStringLiteral("on standard input") : name, list.errorString());
            return std::nullopt;
        }
    }
    return frames;
}
