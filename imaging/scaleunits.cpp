#include "imaging/scaleunits.h"

#include <QWidget>

float UnitsPerPixelX(const QWidget &widget)
{
    return static_cast<float>(UnitsPerLogicalPixel / widget.devicePixelRatioF());
}

float UnitsPerPixelY(const QWidget &widget)
{
    return UnitsPerPixelX(widget);
}
