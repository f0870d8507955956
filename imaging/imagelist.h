#pragma once

#include <QString>

class CommonDialog;
class PictureBox;
class QListWidget;

// Appends the chosen path (also one that does not decode) and shows it on the canvas.
// The selection stays as it was.
void addImage(CommonDialog &dialog, QListWidget &list, PictureBox &canvas);

// Removes the selected entry and leaves nothing selected; the canvas keeps its picture.
void removeSelected(QListWidget &list);

// Loads the selected entry's file onto the canvas; a file that no longer loads changes nothing.
void showSelected(const QListWidget &list, PictureBox &canvas);
