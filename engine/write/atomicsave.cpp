#include "engine/write/atomicsave.h"

#include "engine/write/fdwriter.h"
#include "engine/core/filenames.h"

#include <QFile>
#include <QImageReader>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// By bytes rather than through QSaveFile: Qt would write a name that is not UTF-8 as another one.
namespace {

constexpr int MaxLinkDepth = 128;

QString systemReason()
{
    return qt_error_string(errno);
}

// The file a chain of symbolic links ends at, so that the links stay and their target is
// replaced; the name itself when the chain does not end.
QByteArray linkTarget(const QByteArray &name)
{
    QByteArray at = name;
    for (int depth = 0; depth < MaxLinkDepth; ++depth) {
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(at.constData(), target.data(), std::size_t(target.size()));
        if (length < 0 || length >= target.size())
            return at;
        target.truncate(length);
        const qsizetype slash = at.lastIndexOf('/');
        at = target.startsWith('/') || slash < 0 ? target : at.left(slash + 1) + target;
    }
    return name;
}

// A new file beside `final`, named after it with a random ending; -1 with errno set.
int createTemporary(const QByteArray &final, mode_t mode, QByteArray *temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = final + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int descriptor = ::open(temporary->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

// An encoder may report success over bytes nothing can read; the header is enough to tell.
bool readsBackAs(const QByteArray &name, QSize size)
{
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    QImageReader reader(&file);
    return reader.size() == size;
}

} // namespace

std::optional<QString> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode,
                                      InPlace inPlace, const FileEdit &edit)
{
    const QByteArray name = bytesOfName(path);
    struct stat existing {};
    const bool exists = ::stat(name.constData(), &existing) == 0;
    // A pipe or a device at that name would be replaced by a regular file, or block.
    if (exists && !S_ISREG(existing.st_mode))
        return QStringLiteral("Not a regular file");
    if (exists && ::access(name.constData(), W_OK) != 0)
        return QStringLiteral("Existing file %1 is not writable").arg(path);
    const QByteArray final = linkTarget(name);
    QByteArray temporary;
    // Nobody else may open the new file before it has the old one's permissions.
    int descriptor = createTemporary(final, exists ? 0600 : 0666, &temporary);
    if (descriptor < 0 && errno == EACCES && inPlace == InPlace::Allowed) {
        temporary.clear();
        descriptor = ::open(final.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (descriptor < 0)
        return systemReason();
    if (exists && !temporary.isEmpty())
        ::fchmod(descriptor, existing.st_mode & 0777);
    // Opening in place has already emptied the old file.
    const QString lost = temporary.isEmpty() ? QStringLiteral(" (the old file was overwritten)") : QString();

    const QByteArray written = temporary.isEmpty() ? final : temporary;
    FdWriter device(descriptor);
    QString failure;
    if (!encode(picture, device))
        failure = device.failure().isEmpty() ? QStringLiteral("Write failed") : device.failure();
    if (failure.isEmpty() && edit)
        failure = edit(written).value_or(QString());
    if (failure.isEmpty() && !readsBackAs(written, picture.size()))
        failure = QStringLiteral("The written file does not read back");
    // After the edit, which wrote through a descriptor of its own: fsync covers the whole file.
    if (failure.isEmpty() && !device.sync())
        failure = device.failure();
    // Synchronised already: what close() could still report has been reported.
    ::close(descriptor);
    if (failure.isEmpty() && !temporary.isEmpty() && ::rename(temporary.constData(), final.constData()) != 0)
        failure = systemReason();
    if (failure.isEmpty())
        return std::nullopt;
    if (!temporary.isEmpty())
        ::unlink(temporary.constData());
    return failure + lost;
}
