#include "engine/align/bicubicrow.h"
#include "engine/core/cpufeatures.h"

#include <QImage>
#include <QtTest>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using RowFn = void (*)(const Rgb32Source &, const float *, const float *, int, std::uint32_t *);

struct Path {
    const char *name;
    RowFn run;
};

std::vector<Path> allPaths()
{
    std::vector<Path> paths{{"dispatch", bicubicRow}, {"scalar", bicubicRowScalar}};
#if defined(__x86_64__)
    if (sse41Supported())
        paths.push_back({"sse4.1", bicubicRowSse41});
    if (avx2Supported())
        paths.push_back({"avx2", bicubicRowAvx2});
#endif
    return paths;
}

Rgb32Source sourceOf(const QImage &picture)
{
    return {picture.constBits(), picture.bytesPerLine(), picture.width(), picture.height()};
}

QImage randomPicture(QSize size, std::mt19937 &rng)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, std::uint32_t(rng()) | 0xff000000u);
    return picture;
}

} // namespace

class BicubicRowTest : public QObject {
    Q_OBJECT

private slots:
    void vectorPathsMatchScalar_data();
    void vectorPathsMatchScalar();
    void linearShadingIsKept_data();
    void linearShadingIsKept();
};

void BicubicRowTest::vectorPathsMatchScalar_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<float>("low");
    QTest::addColumn<float>("high");
    QTest::addColumn<int>("count");
    const QSize size(37, 23);
    QTest::newRow("inside") << size << 1.0f << 20.0f << 301;
    QTest::newRow("across the edges") << size << -4.0f << 40.0f << 301;
    QTest::newRow("far outside") << size << -1e9f << 1e9f << 64;
    QTest::newRow("shorter than a vector") << size << -1.0f << 30.0f << 7;
    QTest::newRow("not numbers") << size << std::numeric_limits<float>::quiet_NaN() << std::numeric_limits<float>::infinity() << 33;
    QTest::newRow("one pixel") << QSize(1, 1) << -3.0f << 3.0f << 40;
    QTest::newRow("two by three") << QSize(2, 3) << -3.0f << 5.0f << 40;
    QTest::newRow("three by one") << QSize(3, 1) << -3.0f << 5.0f << 40;
}

// Byte for byte, with the positions spread over [low, high] (NaN and infinities as they are): the
// scalar path on a picture of `size` alone against every path on the same pixels whose lines run
// on into other pixels, which none may read.
void BicubicRowTest::vectorPathsMatchScalar()
{
    QFETCH(QSize, size);
    QFETCH(float, low);
    QFETCH(float, high);
    QFETCH(int, count);
    std::mt19937 rng(17);
    const QImage wider = randomPicture({40, 24}, rng);
    const QImage alone = wider.copy(QRect(QPoint(0, 0), size));
    const Rgb32Source padded{wider.constBits(), wider.bytesPerLine(), size.width(), size.height()};
    std::uniform_real_distribution<float> spread(std::isfinite(low) ? low : 0.0f, std::isfinite(high) ? high : 1.0f);
    std::vector<float> u(static_cast<std::size_t>(count)), v(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
        u[i] = i % 5 == 0 ? low : spread(rng);
        v[i] = i % 7 == 0 ? high : spread(rng) * 0.6f;
    }
    std::vector<std::uint32_t> expected(u.size());
    bicubicRowScalar(sourceOf(alone), u.data(), v.data(), count, expected.data());
    for (const Path &path : allPaths()) {
        std::vector<std::uint32_t> got(u.size());
        path.run(padded, u.data(), v.data(), count, got.data());
        for (std::size_t i = 0; i < got.size(); ++i)
            QVERIFY2(got[i] == expected[i], qPrintable(QStringLiteral("%1 at %2 (%3, %4): %5 against %6")
                                                           .arg(path.name).arg(i).arg(u[i]).arg(v[i])
                                                           .arg(got[i], 8, 16).arg(expected[i], 8, 16)));
    }
}

void BicubicRowTest::linearShadingIsKept_data()
{
    QTest::addColumn<double>("alongX");
    QTest::addColumn<double>("alongY");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("flat") << 0.0 << 0.0 << 0;
    QTest::newRow("across") << 4.0 << 0.0 << 1;
    QTest::newRow("down") << 0.0 << -5.0 << 1;
    QTest::newRow("diagonal") << 3.0 << 2.5 << 1;
}

// The cubic kernel reproduces a linear function: inside, a shaded picture sampled anywhere gives
// the shading at the position (on the 1/256 grid), a flat one its own value exactly.
void BicubicRowTest::linearShadingIsKept()
{
    QFETCH(double, alongX);
    QFETCH(double, alongY);
    QFETCH(int, tolerance);
    const auto shade = [&](double x, double y) { return 120 + alongX * (x - 20) + alongY * (y - 12); };
    QImage picture(41, 25, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int value = int(std::lround(shade(x, y)));
            picture.setPixel(x, y, qRgb(value, 255 - value, value / 2));
        }
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> across(1, 38), down(1, 22);
    std::vector<float> u(200), v(200);
    for (std::size_t i = 0; i < u.size(); ++i)
        u[i] = across(rng), v[i] = down(rng);
    std::vector<std::uint32_t> got(u.size());
    bicubicRow(sourceOf(picture), u.data(), v.data(), int(u.size()), got.data());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double expected = shade(std::round(u[i] * 256) / 256, std::round(v[i] * 256) / 256);
        const int red = qRed(got[i]), green = qGreen(got[i]), blue = qBlue(got[i]);
        QVERIFY2(std::abs(red - expected) <= tolerance + 0.5 && std::abs(green - (255 - expected)) <= tolerance + 0.5
                     && std::abs(blue - expected / 2) <= tolerance + 1 && qAlpha(got[i]) == 255,
                 qPrintable(QStringLiteral("(%1, %2): %3 %4 %5 against %6").arg(u[i]).arg(v[i]).arg(red).arg(green).arg(blue).arg(expected)));
    }
}

QTEST_MAIN(BicubicRowTest)
#include "tst_bicubicrow.moc"
