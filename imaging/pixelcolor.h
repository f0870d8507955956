#pragma once

#include <cstdint>

// red + 256 * green + 65536 * blue; -1 is what a read outside a picture yields.
using PixelColor = std::int32_t;

struct Channels {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Channels &, const Channels &) = default;
};

// Truncating division: -1 must split to (-1, 0, 0); mask-and-shift would give white.
Channels SplitColor(PixelColor c);

// Arguments above 255 count as 255; below 0 (only ever for writes outside a picture) as 0.
PixelColor ComposeColor(std::int16_t red, std::int16_t green, std::int16_t blue);
