#include "imaging/saving.h"

#include "imaging/commondialog.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

std::optional<QString> saveCanvas(CommonDialog &dialog, const QImage &surface)
{
    dialog.setFilter(SaveFilter);
    dialog.setFileName(QString());
    if (!dialog.showSave())
        return std::nullopt;
    const QString path = dialog.fileName();
    if (const std::optional<QString> reason = writeBmpFile(surface, path))
        return QStringLiteral("Could not save %1: %2").arg(path, *reason);
    return std::nullopt;
}

std::optional<QString> writeImageFile(const QImage &surface, const QString &path, const DeviceWriter &write)
{
    // A pipe or a device at that name would be replaced by a regular file, or block.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return QStringLiteral("Not a regular file");
    QSaveFile file(path);
    // A writable file in a read-only folder is still overwritten, in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (!write(surface, file)) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                    : QStringLiteral("Write failed");
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

bool writeBmp(const QImage &surface, QIODevice &device)
{
    QImageWriter writer(&device, "bmp");
    return writer.write(surface);
}
