#include "reference/pointops.h"

#include "reference/exchangesortmedian.h"

#include <cmath>

void referenceBrighten(QImage &canvas, UnitsPerPixel units, float width, float height)
{
    walkPoints(width, height, units, [&](float x, float y) {
        Channels c = SplitColor(ReadPixel(canvas, units, x, y));
        for (int *v : {&c.red, &c.green, &c.blue}) {
            *v = static_cast<int>(std::floor(*v * 1.5));
            if (*v > 255)
                *v = 255;
        }
        WritePixel(canvas, units, x, y,
                   ComposeColor(std::int16_t(c.red), std::int16_t(c.green), std::int16_t(c.blue)));
    });
}

void referenceSubtract(QImage &canvas, const QImage &second, UnitsPerPixel units, float width, float height)
{
    walkPoints(width, height, units, [&](float x, float y) {
        const PixelColor c2 = ReadPixel(second, units, x, y);
        if (c2 < 0)
            return;
        const Channels a = SplitColor(ReadPixel(canvas, units, x, y));
        const Channels b = SplitColor(c2);
        int red = a.red - b.red;
        int green = a.green - b.green;
        int blue = a.blue - b.blue;
        for (int *v : {&red, &green, &blue})
            if (*v < 0)
                *v = 0;
        WritePixel(canvas, units, x, y, ComposeColor(std::int16_t(red), std::int16_t(green), std::int16_t(blue)));
    });
}

void referenceMedian(QImage &canvas, const std::vector<QImage> &held, UnitsPerPixel units, float width,
                     float height)
{
    const auto columns = static_cast<std::size_t>(std::floor(width / units.x)) + 1;
    const auto rows = static_cast<std::size_t>(std::floor(height / units.y)) + 1;
    const std::size_t count = held.size();
    // [image][row][column], one array per channel; a -1 read is not stored and leaves 0.
    std::vector<std::uint8_t> planes[3];
    for (auto &plane : planes)
        plane.assign(columns * rows * count, 0);
    const auto cell = [&](float x, float y, std::size_t image) {
        const auto column = static_cast<std::size_t>(std::floor(x / units.x));
        const auto row = static_cast<std::size_t>(std::floor(y / units.y));
        return (image * rows + row) * columns + column;
    };
    for (std::size_t i = 0; i < count; ++i)
        walkPoints(width, height, units, [&](float x, float y) {
            const Channels c = SplitColor(ReadPixel(held[i], units, x, y));
            const int values[3] = {c.red, c.green, c.blue};
            for (int channel = 0; channel < 3; ++channel)
                if (values[channel] >= 0 && values[channel] <= 255)
                    planes[channel][cell(x, y, i)] = static_cast<std::uint8_t>(values[channel]);
        });
    walkPoints(width, height, units, [&](float x, float y) {
        int medians[3];
        for (int channel = 0; channel < 3; ++channel) {
            std::vector<double> samples;
            for (std::size_t i = 0; i < count; ++i)
                samples.push_back(planes[channel][cell(x, y, i)]);
            medians[channel] = exchangeSortMedian(std::move(samples));
        }
        WritePixel(canvas, units, x, y,
                   ComposeColor(std::int16_t(medians[0]), std::int16_t(medians[1]), std::int16_t(medians[2])));
    });
}
