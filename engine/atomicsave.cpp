#include "engine/atomicsave.h"

#include "engine/fdwriter.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace {

// QSaveFile writes the named file itself when it cannot make a temporary one beside it.
bool writesInPlace(const QSaveFile &file, const QString &path)
{
    struct stat written {};
    struct stat named {};
    return fstat(file.handle(), &written) == 0 && stat(QFile::encodeName(path).constData(), &named) == 0
           && written.st_dev == named.st_dev && written.st_ino == named.st_ino;
}

} // namespace

std::optional<QString> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode,
                                      InPlace inPlace)
{
    // A pipe or a device at that name would be replaced by a regular file, or block.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return QStringLiteral("Not a regular file");
    QSaveFile file(path);
    file.setDirectWriteFallback(inPlace == InPlace::Allowed);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Opening in place has already emptied the old file.
    const QString lost = writesInPlace(file, path) ? QStringLiteral(" (the old file was overwritten)") : QString();
    // QSaveFile's own writes lose the system's reason; its buffer stays empty.
    FdWriter device(file.handle());
    const bool encoded = encode(picture, device);
    if (!encoded || !device.sync()) {
        file.cancelWriting();
        return (device.failure().isEmpty() ? QStringLiteral("Write failed") : device.failure()) + lost;
    }
    if (!file.commit())
        return file.errorString() + lost;
    return std::nullopt;
}
