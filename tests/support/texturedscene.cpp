#include "support/texturedscene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

std::uint32_t hash(std::int64_t i, std::int64_t j, std::uint32_t seed)
{
    auto h = std::uint32_t(i) * 0x9e3779b1u ^ std::uint32_t(j) * 0x85ebca77u ^ seed * 0xc2b2ae3du;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    return h ^ (h >> 15);
}

double unit(std::uint32_t h)
{
    return h / 4294967296.0;
}

// Lattice values in [0, 1] blended with a smootherstep: continuous down to its second derivative.
double valueNoise(double x, double y, double period, std::uint32_t seed)
{
    const double fx = x / period, fy = y / period, ix = std::floor(fx), iy = std::floor(fy);
    const auto i = std::int64_t(ix), j = std::int64_t(iy);
    const auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double tx = fade(fx - ix), ty = fade(fy - iy);
    const double top = unit(hash(i, j, seed)) + (unit(hash(i + 1, j, seed)) - unit(hash(i, j, seed))) * tx;
    const double bottom = unit(hash(i, j + 1, seed)) + (unit(hash(i + 1, j + 1, seed)) - unit(hash(i, j + 1, seed))) * tx;
    return top + (bottom - top) * ty;
}

double texture(double x, double y, std::uint32_t seed)
{
    return (valueNoise(x, y, 41, seed) + 0.7 * valueNoise(x, y, 13, seed + 1) + 0.5 * valueNoise(x, y, 5, seed + 2)) / 2.2;
}

// Inside where d < 0, blended over one pixel.
double inside(double d)
{
    return std::clamp(0.5 - d, 0.0, 1.0);
}

QRgb sceneAt(double x, double y, std::uint32_t seed)
{
    double rgb[3];
    for (int c = 0; c < 3; ++c)
        rgb[c] = 30 + 190 * texture(x, y, seed + 10 * std::uint32_t(c));
    // In cells of 48 px, a disc or a box of a colour of its own, or nothing.
    constexpr double Cell = 48;
    const double cx = std::floor(x / Cell), cy = std::floor(y / Cell);
    const std::uint32_t h = hash(std::int64_t(cx), std::int64_t(cy), seed + 99);
    const double lx = x - (cx + 0.5) * Cell, ly = y - (cy + 0.5) * Cell, size = 6 + (h >> 8) % 14;
    const double d = h % 3 == 0 ? std::hypot(lx, ly) - size : std::max(std::abs(lx), std::abs(ly)) - size;
    const double t = h % 3 == 2 ? 0 : inside(d);
    for (int c = 0; c < 3; ++c)
        rgb[c] += (double((h >> (8 * c)) & 0xff) - rgb[c]) * t;
    return qRgb(int(std::lround(rgb[0])), int(std::lround(rgb[1])), int(std::lround(rgb[2])));
}

} // namespace

QImage sceneFrame(QSize size, const std::function<QPointF(QPointF)> &toScene, std::uint32_t seed)
{
    QImage frame(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const QPointF p = toScene(QPointF(x, y));
            row[x] = sceneAt(p.x(), p.y(), seed);
        }
    }
    return frame;
}

QImage sceneFrame(QSize size, const Homography &toScene, std::uint32_t seed)
{
    return sceneFrame(size, [&toScene](QPointF p) { return toScene.map(p); }, seed);
}

Homography inverted(const Homography &h)
{
    const auto &m = h.m;
    const std::array<double, 9> c{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                                  m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                                  m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    Homography r;
    for (std::size_t i = 0; i < 9; ++i)
        r.m[i] = c[i] / c[8];
    return r;
}

Homography moved(QSize size, double dx, double dy, double degrees, double zoom, double tiltX, double tiltY)
{
    // p' = C + shift + Z R (q - C) / (1 + tilt . (q - C)), with C the centre, written as one matrix.
    const double cx = (size.width() - 1) / 2.0, cy = (size.height() - 1) / 2.0;
    const double a = degrees * std::numbers::pi / 180, c = zoom * std::cos(a), s = zoom * std::sin(a);
    const double tx = cx + dx, ty = cy + dy, w = 1 - tiltX * cx - tiltY * cy;
    Homography h;
    h.m = {c + tx * tiltX, -s + tx * tiltY, -c * cx + s * cy + tx * w,
           s + ty * tiltX, c + ty * tiltY,  -s * cx - c * cy + ty * w,
           tiltX,          tiltY,           w};
    for (double &v : h.m)
        v /= w;
    return h;
}

double cornerError(const Homography &a, const Homography &b, QSize area)
{
    const double w = area.width() - 1, h = area.height() - 1;
    double worst = 0;
    for (const QPointF corner : {QPointF(0, 0), QPointF(w, 0), QPointF(w, h), QPointF(0, h)}) {
        const QPointF d = a.map(corner) - b.map(corner);
        worst = std::max(worst, std::hypot(d.x(), d.y()));
    }
    return worst;
}
