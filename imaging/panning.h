#pragma once

#include <QSizeF>

class PictureBox;
class QFrame;
class QScrollBar;

// The viewport's area inside its frame, in scale units.
QSizeF viewportInnerSize(const QFrame &viewport);

// How far the canvas slides for a bar position: value 0 shows the leading edge, the maximum
// the trailing one.
float panShift(double overhang, int value, int maximum);

// Change handlers of the two bars. Where the canvas does not overhang, the bar and the
// canvas go back to 0, so a small picture after a panned large one stays reachable.
void panHorizontally(QScrollBar &bar, PictureBox &canvas, QSizeF viewportInner);
void panVertically(QScrollBar &bar, PictureBox &canvas, QSizeF viewportInner);
