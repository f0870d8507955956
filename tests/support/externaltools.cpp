#include "support/externaltools.h"

#include "support/images.h"

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

namespace {

// Prints "WIDTH HEIGHT BITS" and the RGB samples as little-endian 16-bit words.
constexpr char TiffSamples[] = "import sys, tifffile\n"
                               "a = tifffile.imread(sys.argv[1])\n"
                               "print(a.shape[1], a.shape[0], a.dtype.itemsize * 8)\n"
                               "sys.stdout.flush()\n"
                               "sys.stdout.buffer.write(a[..., :3].astype('<u2').tobytes())\n";

QString samplesWithHeader(const QString &path, QByteArray &header, QByteArray &samples)
{
    QByteArray output;
    if (path.endsWith(QStringLiteral(".tif"))) {
        if (QString problem = runTool(QStringLiteral(OMBRELUX_PYTHON), {QStringLiteral("-c"), TiffSamples, path}, &output);
            !problem.isEmpty())
            return problem;
        const qsizetype end = output.indexOf('\n');
        header = output.left(end);
        samples = output.mid(end + 1);
        return {};
    }
    if (QString problem = runTool(QStringLiteral("/usr/bin/identify"), {QStringLiteral("-format"), QStringLiteral("%w %h %z"), path}, &header);
        !problem.isEmpty())
        return problem;
    return runTool(QStringLiteral("/usr/bin/convert"), {path, QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-endian"),
                                               QStringLiteral("LSB"), QStringLiteral("rgb:-")},
                   &samples);
}

} // namespace

QString readIndependently(const QString &path, QImage &picture)
{
    QByteArray header, samples;
    if (QString problem = samplesWithHeader(path, header, samples); !problem.isEmpty())
        return problem;
    const QList<QByteArray> fields = header.trimmed().split(' ');
    const int width = fields.value(0).toInt(), height = fields.value(1).toInt(), bits = fields.value(2).toInt();
    if (fields.size() != 3 || samples.size() != qsizetype(width) * height * 6)
        return path + QStringLiteral(": read as '%1' with %2 bytes of samples").arg(QString::fromLatin1(header)).arg(samples.size());
    // 8-bit samples come widened: ImageMagick scales them by 257, tifffile keeps them.
    const int divisor = bits == 8 && !path.endsWith(QStringLiteral(".tif")) ? 257 : 1;
    picture = QImage(width, height, bits == 16 ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    const auto *words = reinterpret_cast<const quint16 *>(samples.constData());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const quint16 *pixel = words + 3 * (qsizetype(y) * width + x);
            setSamples(picture, x, y, {pixel[0] / divisor, pixel[1] / divisor, pixel[2] / divisor});
        }
    return {};
}
