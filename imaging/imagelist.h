#pragma once

#include <QString>
#include <QStringList>

class CommonDialog;
class PictureBox;
class QListWidget;
class QMimeData;

// The list counts and numbers its entries in signed 16 bits.
inline constexpr int MaxEntries = 32767;

// The open dialog for one or several files, whose paths go to appendImages(); a cancel or a
// failed dialog changes nothing.
void addImages(CommonDialog &dialog, QListWidget &list, PictureBox &canvas);

// The same as adding each path on its own, in order: appended while the list has room (also
// one that does not decode), and the canvas shows the last appended one that decodes. The
// selection stays as it was.
void appendImages(QListWidget &list, PictureBox &canvas, const QStringList &paths);

// The local files named by dropped data, in its order; other URLs and folders are left out.
// Paths keep their bytes as engine/filenames.h carries them.
QStringList droppedFiles(const QMimeData &data);

// Removes the selected entry and leaves nothing selected; the canvas keeps its picture.
void removeSelected(QListWidget &list);

// Loads the selected entry's file onto the canvas; a file that no longer loads changes nothing.
void showSelected(const QListWidget &list, PictureBox &canvas);
