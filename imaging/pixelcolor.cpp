#include "imaging/pixelcolor.h"

#include <algorithm>

Channels SplitColor(PixelColor c)
{
    Channels channels;
    channels.red = c % 256;
    c /= 256;
    channels.green = c % 256;
    c /= 256;
    channels.blue = c % 256;
    return channels;
}

PixelColor ComposeColor(std::int16_t red, std::int16_t green, std::int16_t blue)
{
    const auto clamp = [](std::int16_t v) { return std::clamp<int>(v, 0, 255); };
    return clamp(red) + 256 * clamp(green) + 65536 * clamp(blue);
}
