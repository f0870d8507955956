#include "support/scratchfolders.h"

#include "support/images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

int openFilesIn(const QString &folder)
{
    int open = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString &name : entriesOf(descriptors.path())) {
        char target[4096];
        const ssize_t size = readlink(descriptors.filePath(name).toLocal8Bit().constData(), target, sizeof target);
        if (size > 0 && QString::fromLocal8Bit(target, size).startsWith(folder + u'/'))
            ++open;
    }
    return open;
}

MemoryProbe spillingInBands(int rows, QSize area, int count)
{
    const auto width = std::uint64_t(area.width());
    const std::uint64_t budget = 12u * width * std::uint64_t(area.height()) + 2u * std::uint64_t(rows) * 3u
                                 * std::uint64_t(count) * width;
    return [budget] { return std::optional<std::uint64_t>(budget); };
}

QStringList writeFrames(const std::vector<QImage> &pictures, const QString &folder)
{
    QStringList paths;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const QString name = QStringLiteral("frame%1.bmp").arg(i);
        if (pictures[i].isNull()) {
            QFile file(QDir(folder).filePath(name));
            if (file.open(QIODevice::WriteOnly))
                file.write("BM not really");
            paths << file.fileName();
        } else {
            paths << writePicture(pictures[i], folder, name);
        }
    }
    return paths;
}

LoopMountedExt4::LoopMountedExt4(const QString &folder, qint64 bytes)
    : m_mountPoint(QDir(folder).filePath(QStringLiteral("mounted")))
{
    const QString image = QDir(folder).filePath(QStringLiteral("disk.ext4"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(bytes) || !QDir().mkpath(m_mountPoint))
        return;
    file.close();
    m_mounted = QProcess::execute(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image}) == 0
                && QProcess::execute(QStringLiteral("mount"),
                                     {QStringLiteral("-o"), QStringLiteral("loop,errors=remount-ro"), image, m_mountPoint})
                       == 0;
}

LoopMountedExt4::~LoopMountedExt4()
{
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {m_mountPoint});
}

bool LoopMountedExt4::fail() const
{
    QProcess findmnt;
    findmnt.start(QStringLiteral("findmnt"), {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("SOURCE"),
                                              QStringLiteral("--mountpoint"), m_mountPoint});
    if (!findmnt.waitForFinished())
        return false;
    const QString device = QFileInfo(QString::fromLocal8Bit(findmnt.readAllStandardOutput()).trimmed()).fileName();
    QFile trigger(QStringLiteral("/sys/fs/ext4/%1/trigger_fs_error").arg(device));
    return !device.isEmpty() && trigger.open(QIODevice::WriteOnly) && trigger.write("1") == 1 && trigger.flush();
}
