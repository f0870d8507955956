#include "imaging/saving.h"

#include "imaging/commondialog.h"

#include <QImageWriter>

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

std::optional<QString> writeBmpFile(const QImage &surface, const QString &path, const DeviceWriter &write)
{
    const Outcome<> written = writeImageFile(surface, path, write);
    return written ? std::nullopt : std::optional(written.reason());
}

bool writeBmp(const QImage &surface, QIODevice &device)
{
    QImageWriter writer(&device, "bmp");
    return writer.write(surface);
}
