#include "imaging/imagelist.h"

#include "imaging/commondialog.h"
#include "imaging/picturebox.h"

#include <QListWidget>
#include <QSignalBlocker>

void addImage(CommonDialog &dialog, QListWidget &list, PictureBox &canvas)
{
    const std::optional<QString> path = askOpenPath(dialog);
    if (!path)
        return;
    list.addItem(*path);
    LoadImageFile(canvas, *path);
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
