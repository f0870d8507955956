// Writes a hand-held burst of one procedural scene: frame 0 is the reference, every other frame
// sees the scene through a known random homography (shift up to 3 % of the width, a turn of up
// to 2 degrees, a zoom of 0.98-1.02, slight perspective), with Gaussian noise and a few opaque
// passers-by. Also writes clean.png (the scene on the reference's grid, no noise, nobody in it)
// and transforms.txt (per frame the true reference -> frame homography). Same seed, same files.
// --scene parallax adds a near layer (an ellipse of the scene) that shifts against the rest by up
// to 2 % of the width each way per frame; --scene lens bends each frame but the first by barrel or
// pincushion distortion, k from -0.01 to 0.01 at the half-diagonal. transforms.txt then holds the
// homography alone: the part one fit can find.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using Matrix = std::array<double, 9>;

Matrix multiply(const Matrix &a, const Matrix &b)
{
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return r;
}

Matrix inverse(const Matrix &m)
{
    const Matrix c{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                   m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                   m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double det = m[0] * c[0] + m[1] * c[3] + m[2] * c[6];
    Matrix r;
    for (int i = 0; i < 9; ++i)
        r[static_cast<std::size_t>(i)] = c[static_cast<std::size_t>(i)] / det;
    return r;
}

std::uint32_t hash(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    std::uint32_t h = a * 0x9e3779b1u ^ (b + 0x7f4a7c15u) * 0x85ebca77u ^ (c + 0x165667b1u) * 0xc2b2ae3du;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

double unit(std::uint32_t h)
{
    return h / 4294967296.0;
}

// Smoothly interpolated lattice noise in [0, 1] with the given period in pixels.
double valueNoise(double x, double y, double period, std::uint32_t seed)
{
    const double fx = x / period, fy = y / period;
    const double ix = std::floor(fx), iy = std::floor(fy);
    const auto i = static_cast<std::uint32_t>(static_cast<std::int64_t>(ix));
    const auto j = static_cast<std::uint32_t>(static_cast<std::int64_t>(iy));
    const auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double tx = fade(fx - ix), ty = fade(fy - iy);
    const double a = unit(hash(i, j, seed)), b = unit(hash(i + 1, j, seed));
    const double c = unit(hash(i, j + 1, seed)), d = unit(hash(i + 1, j + 1, seed));
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Coverage of a one-pixel-wide anti-aliased edge at signed distance d (inside negative).
double edge(double d)
{
    return std::clamp(0.5 - d, 0.0, 1.0);
}

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour colourOf(std::uint32_t h)
{
    return {double(h & 0xff), double((h >> 8) & 0xff), double((h >> 16) & 0xff)};
}

// The scene at a point of the reference's grid: noise at many scales, then in cells of 160 px a
// disc, a box, or lines of glyph-like bars on a plain card.
Colour scene(double x, double y, std::uint32_t seed)
{
    double grain = 0, weight = 0, amplitude = 1;
    for (const double period : {600.0, 150.0, 37.0, 9.0, 3.0}) {
        grain += amplitude * valueNoise(x, y, period, seed);
        weight += amplitude;
        amplitude *= 0.7;
    }
    grain /= weight;
    Colour c{40 + 180 * grain * valueNoise(x, y, 900, seed + 1) + 30 * grain,
             40 + 180 * grain * valueNoise(x, y, 900, seed + 2) + 30 * grain,
             40 + 180 * grain * valueNoise(x, y, 900, seed + 3) + 30 * grain};

    constexpr double cell = 160;
    const double cx = std::floor(x / cell), cy = std::floor(y / cell);
    const std::uint32_t h = hash(static_cast<std::uint32_t>(static_cast<std::int64_t>(cx)),
                                 static_cast<std::uint32_t>(static_cast<std::int64_t>(cy)), seed + 7);
    const double lx = x - cx * cell - cell / 2, ly = y - cy * cell - cell / 2;
    switch (h % 4) {
    case 0: { // disc
        const double radius = 20 + (h >> 8) % 50;
        return mix(c, colourOf(hash(h, 1, seed)), edge(std::hypot(lx, ly) - radius));
    }
    case 1: { // box
        const double half = 15 + (h >> 8) % 55;
        return mix(c, colourOf(hash(h, 2, seed)), edge(std::max(std::abs(lx), std::abs(ly)) - half));
    }
    case 2: { // a card with four lines of 5 x 7 glyphs of 2.5 px dots
        const double card = edge(std::max(std::abs(lx) - 70, std::abs(ly) - 45));
        if (card == 0)
            return c;
        Colour paper = mix(c, Colour{235, 232, 220}, card);
        const double gx = lx + 65, gy = ly + 40;
        if (gx < 0 || gy < 0 || gx >= 130 || gy >= 80)
            return paper;
        const int glyph = int(gx / 16), line = int(gy / 20);
        const double px = std::fmod(gx, 16.0) / 2.5, py = std::fmod(gy, 20.0) / 2.5;
        if (px >= 5 || py >= 7)
            return paper;
        const std::uint32_t bits = hash(h, static_cast<std::uint32_t>(glyph + 16 * line), seed);
        if (!((bits >> (int(py) * 5 + int(px)) % 32) & 1))
            return paper;
        const double inDot = std::max(std::abs(std::fmod(px, 1.0) - 0.5), std::abs(std::fmod(py, 1.0) - 0.5));
        return mix(paper, Colour{20, 20, 30}, edge((inDot - 0.4) * 2.5));
    }
    default:
        return c;
    }
}

QRgb toPixel(Colour c, double noise[3])
{
    const auto byte = [](double v) { return static_cast<int>(std::clamp(std::lround(v), 0L, 255L)); };
    return qRgb(byte(c.r + noise[0]), byte(c.g + noise[1]), byte(c.b + noise[2]));
}

// Reference -> frame: about the centre, zoom, turn, slight tilt, then shift.
Matrix randomHomography(std::mt19937_64 &random, int width, int height)
{
    std::uniform_real_distribution<double> u(-1, 1);
    const double shiftX = 0.03 * width * u(random), shiftY = 0.03 * width * u(random);
    const double angle = 2 * u(random) * std::numbers::pi / 180, zoom = 1 + 0.02 * u(random);
    // 0.01 on the normalised grid: the far side looks about 1 % larger than the near one.
    const double tiltX = 0.01 * u(random) / width, tiltY = 0.01 * u(random) / width;
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const Matrix toCentre{1, 0, -cx, 0, 1, -cy, 0, 0, 1};
    const Matrix tilt{1, 0, 0, 0, 1, 0, tiltX, tiltY, 1};
    const Matrix turn{zoom * std::cos(angle), -zoom * std::sin(angle), 0, zoom * std::sin(angle),
                      zoom * std::cos(angle), 0, 0, 0, 1};
    const Matrix back{1, 0, cx + shiftX, 0, 1, cy + shiftY, 0, 0, 1};
    Matrix h = multiply(back, multiply(turn, multiply(tilt, toCentre)));
    for (double &v : h)
        v /= h[8];
    return h;
}

struct Passer {
    double x, y, rx, ry;
    bool round;
    Colour colour;
};

// What a frame sees beyond its homography.
struct Geometry {
    double lensK = 0;             // radial, at the half-diagonal
    double nearX = 0, nearY = 0;  // the near layer's own shift, in frame pixels
    bool parallax = false;
};

// The lens's undistorted frame point of frame pixel (x, y), by fixed-point iteration.
void undistort(double &x, double &y, int width, int height, double k)
{
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0, half = std::hypot(cx, cy);
    const double dx = x - cx, dy = y - cy;
    double ux = dx, uy = dy;
    for (int i = 0; i < 5; ++i) {
        const double r2 = (ux * ux + uy * uy) / (half * half);
        ux = dx / (1 + k * r2);
        uy = dy / (1 + k * r2);
    }
    x = cx + ux;
    y = cy + uy;
}

// The near layer: an ellipse of the reference's grid left of the centre.
bool inNearLayer(double x, double y, int width, int height)
{
    const double ex = (x - 0.42 * width) / (0.2 * width), ey = (y - 0.5 * height) / (0.27 * height);
    return ex * ex + ey * ey <= 1;
}

// The reference point frame pixel (x, y) shows: through the lens, then the near layer where it
// is in front, else the background.
void toReferencePoint(const Matrix &m, const Geometry &geometry, int width, int height, double &x, double &y)
{
    if (geometry.lensK != 0)
        undistort(x, y, width, height, geometry.lensK);
    const auto map = [&m](double px, double py, double &rx, double &ry) {
        const double w = m[6] * px + m[7] * py + m[8];
        rx = (m[0] * px + m[1] * py + m[2]) / w;
        ry = (m[3] * px + m[4] * py + m[5]) / w;
    };
    double nx = 0, ny = 0;
    map(x - geometry.nearX, y - geometry.nearY, nx, ny);
    if (geometry.parallax && inNearLayer(nx, ny, width, height)) {
        x = nx;
        y = ny;
        return;
    }
    map(x, y, x, y);
}

// Renders frame pixels through `toReference` (frame -> reference) on two threads by rows.
QImage render(int width, int height, const Matrix &toReference, const Geometry &geometry,
              const std::vector<Passer> &passers, double sigma, std::uint32_t seed, std::uint32_t frameSeed)
{
    QImage frame(width, height, QImage::Format_RGB32);
    const auto rows = [&](int first, int step) {
        for (int y = first; y < height; y += step) {
            std::mt19937 random(hash(frameSeed, static_cast<std::uint32_t>(y), 99));
            std::normal_distribution<double> noise(0, sigma);
            auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < width; ++x) {
                double rx = x, ry = y;
                toReferencePoint(toReference, geometry, width, height, rx, ry);
                Colour c = scene(rx, ry, seed);
                for (const Passer &p : passers) {
                    const double dx = (x - p.x) / p.rx, dy = (y - p.y) / p.ry;
                    const double d = p.round ? std::hypot(dx, dy) : std::max(std::abs(dx), std::abs(dy));
                    c = mix(c, p.colour, edge((d - 1) * std::min(p.rx, p.ry)));
                }
                double n[3] = {noise(random), noise(random), noise(random)};
                line[x] = toPixel(c, n);
            }
        }
    };
    std::thread other(rows, 1, 2);
    rows(0, 2);
    other.join();
    return frame;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Writes a synthetic hand-held burst with its true transforms.");
    parser.addHelpOption();
    parser.addPositionalArgument("dir", "Folder to write into (made if missing).");
    const QCommandLineOption countOption("count", "Frames (10).", "n", "10");
    const QCommandLineOption sizeOption("size", "Frame size (4000x3000).", "WxH", "4000x3000");
    const QCommandLineOption seedOption("seed", "Random seed (1).", "n", "1");
    const QCommandLineOption formatOption("format", "jpg (quality 95), bmp or both (jpg).", "f", "jpg");
    const QCommandLineOption noiseOption("noise", "Noise sigma in levels (4).", "s", "4");
    const QCommandLineOption sceneOption("scene", "plain, parallax or lens (plain).", "kind", "plain");
    parser.addOptions({countOption, sizeOption, seedOption, formatOption, noiseOption, sceneOption});
    parser.process(app);
    const QStringList size = parser.value(sizeOption).split('x');
    const QString format = parser.value(formatOption);
    const QString sceneKind = parser.value(sceneOption);
    if (parser.positionalArguments().size() != 1 || size.size() != 2
        || !QStringList{"jpg", "bmp", "both"}.contains(format) || !QStringList{"plain", "parallax", "lens"}.contains(sceneKind)) {
        parser.showHelp(2);
    }
    const QDir dir(parser.positionalArguments()[0]);
    const int count = parser.value(countOption).toInt();
    const int width = size[0].toInt(), height = size[1].toInt();
    const auto seed = parser.value(seedOption).toUInt();
    const double sigma = parser.value(noiseOption).toDouble();
    if (!dir.mkpath(".") || count < 1 || width < 16 || height < 16) {
        std::fputs("makeburst-handheld: bad folder, count or size\n", stderr);
        return 2;
    }

    std::mt19937_64 random(seed);
    const Matrix identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
    const Geometry reference{.parallax = sceneKind == "parallax"};
    if (!render(width, height, identity, reference, {}, 0, seed, 0).save(dir.filePath("clean.png"))) {
        std::fputs("makeburst-handheld: cannot write clean.png\n", stderr);
        return 1;
    }
    QFile transforms(dir.filePath("transforms.txt"));
    if (!transforms.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream out(&transforms);
    out << "# frame, then h00 h01 h02 h10 h11 h12 h20 h21 h22: reference pixel -> frame pixel, centres at integers\n";
    for (int i = 0; i < count; ++i) {
        const Matrix h = i == 0 ? identity : randomHomography(random, width, height);
        std::uniform_real_distribution<double> u(0, 1);
        std::vector<Passer> passers(2 + random() % 3);
        for (Passer &p : passers)
            p = {u(random) * width, u(random) * height, (0.02 + 0.05 * u(random)) * width,
                 (0.02 + 0.08 * u(random)) * width, random() % 2 == 0, colourOf(static_cast<std::uint32_t>(random()))};
        Geometry geometry = reference;
        std::uniform_real_distribution<double> between(-1, 1);
        if (i > 0 && sceneKind == "parallax") {
            geometry.nearX = 0.02 * width * between(random);
            geometry.nearY = 0.02 * width * between(random);
        }
        if (i > 0 && sceneKind == "lens")
            geometry.lensK = 0.01 * between(random);
        const QImage frame = render(width, height, inverse(h), geometry, passers, sigma, seed,
                                    hash(seed, static_cast<std::uint32_t>(i), 5));
        const QString name = QStringLiteral("frame%1").arg(i, 3, 10, QLatin1Char('0'));
        for (const char *suffix : {"jpg", "bmp"}) {
            if (format != "both" && format != suffix)
                continue;
            if (!frame.save(dir.filePath(name + '.' + suffix), suffix, 95)) {
                std::fprintf(stderr, "makeburst-handheld: cannot write %s.%s\n", qPrintable(name), suffix);
                return 1;
            }
        }
        out << name << '.' << (format == "bmp" ? "bmp" : "jpg");
        for (const double v : h)
            out << ' ' << QString::number(v, 'g', 17);
        out << '\n';
    }
    return out.status() == QTextStream::Ok && transforms.flush() ? 0 : 1;
}
