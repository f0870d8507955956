#include "imaging/panning.h"

#include "imaging/picturebox.h"
#include "imaging/scaleunits.h"

#include <QFrame>
#include <QScrollBar>

#include <utility>

QSizeF viewportInnerSize(const QFrame &viewport)
{
    const QSize inner = viewport.contentsRect().size();
    return {inner.width() * double(UnitsPerLogicalPixel), inner.height() * double(UnitsPerLogicalPixel)};
}

float panShift(double overhang, int value, int maximum)
{
    return static_cast<float>(overhang * value / maximum);
}

namespace {

// Returns the canvas's new Left or Top for one axis.
float pan(QScrollBar &bar, double canvasSize, double viewportSize)
{
    if (canvasSize > viewportSize && bar.maximum() > 0)
        return -panShift(canvasSize - viewportSize, bar.value(), bar.maximum());
    bar.setValue(0);
    return 0.0f;
}

double canvasUnits(int pixels, float unitsPerPixel)
{
    return double(pixels) * double(unitsPerPixel);
}

} // namespace

void panHorizontally(QScrollBar &bar, PictureBox &canvas, QSizeF viewportInner)
{
    const double width = canvasUnits(std::as_const(canvas).surface().width(), UnitsPerPixelX(canvas));
    canvas.setLeft(pan(bar, width, viewportInner.width()));
}

void panVertically(QScrollBar &bar, PictureBox &canvas, QSizeF viewportInner)
{
    const double height = canvasUnits(std::as_const(canvas).surface().height(), UnitsPerPixelY(canvas));
    canvas.setTop(pan(bar, height, viewportInner.height()));
}
