#include "support/externaltools.h"

#include <QFile>
#include <QProcess>

QString runTool(const QString &program, const QStringList &arguments, QByteArray *output)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(60'000))
        return program + QStringLiteral(": ") + tool.errorString() + QStringLiteral(" (tools/setup-deps installs it)");
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return program + QStringLiteral(" %1: exit %2: ").arg(arguments.join(u' ')).arg(tool.exitCode())
               + QString::fromLocal8Bit(tool.readAllStandardError()).left(600);
    if (output)
        *output = tool.readAllStandardOutput();
    return {};
}

QString writeTiff(const QString &kind, QSize size, const QByteArray &samples, const QString &out)
{
    const QString raw = out + QStringLiteral(".samples");
    QFile file(raw);
    if (!file.open(QIODevice::WriteOnly) || file.write(samples) != samples.size())
        return raw + QStringLiteral(": ") + file.errorString();
    file.close();
    return runTool(QStringLiteral(OMBRELUX_PYTHON), {QStringLiteral(OMBRELUX_WRITE_TIFF), kind,
                                                     QString::number(size.width()), QString::number(size.height()),
                                                     raw, out});
}
