#pragma once

class QWidget;

// Qt lays windows out in logical pixels of 1/96 inch at every display scaling.
inline constexpr float UnitsPerLogicalPixel = 15.0f;

constexpr int unitsToPixels(int units) { return units / 15; }

// Scale units per device pixel, the unit of a picture's pixels: 15 at 100 % scaling.
float UnitsPerPixelX(const QWidget &widget);
float UnitsPerPixelY(const QWidget &widget);
