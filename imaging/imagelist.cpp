#include "imaging/imagelist.h"

#include "engine/decode/decode.h"
#include "imaging/commondialog.h"
#include "imaging/picturebox.h"

#include <QListWidget>
#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>

#include <sys/stat.h>

void addImages(CommonDialog &dialog, QListWidget &list, PictureBox &canvas)
{
    dialog.setFilter(OpenFilter);
    if (dialog.showOpenSeveral())
        appendImages(list, canvas, dialog.fileNames());
}

void appendImages(QListWidget &list, PictureBox &canvas, const QStringList &paths)
{
    const qsizetype room = std::max(0, MaxEntries - list.count());
    const QStringList added = paths.first(std::min(paths.size(), room));
    list.addItems(added);
    // Each load would replace the one before, so only the last file that decodes matters:
    // the others are not decoded at all.
    for (auto path = added.crbegin(); path != added.crend(); ++path) {
        if (LoadImageFile(canvas, *path))
            return;
    }
}

namespace {

// What toLocalFile() gives, but with the bytes of the path: it would replace those that are not
// UTF-8, naming another file.
QString localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    const QString path = nameFromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    return url.host().isEmpty() ? path : QStringLiteral("//") + url.host() + path;
}

bool isFolder(const QString &path)
{
    struct stat info {};
    return ::stat(bytesOfName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

QStringList droppedFiles(const QMimeData &data)
{
    QStringList paths;
    for (const QUrl &url : data.urls()) {
        const QString path = localPath(url);
        if (!path.isEmpty() && !isFolder(path))
            paths << path;
    }
    return paths;
}

void removeSelected(QListWidget &list)
{
    const QList<QListWidgetItem *> selected = list.selectedItems();
    if (selected.isEmpty())
        return;
    // Taking the selected row would select its neighbour and fire the show handler.
    const QSignalBlocker blocker(list);
    delete list.takeItem(list.row(selected.constFirst()));
    list.clearSelection();
    list.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

void showSelected(const QListWidget &list, PictureBox &canvas)
{
    const QList<QListWidgetItem *> selected = list.selectedItems();
    if (!selected.isEmpty())
        LoadImageFile(canvas, selected.constFirst()->text());
}
