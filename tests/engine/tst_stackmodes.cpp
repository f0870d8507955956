// Every stack mode through a whole run, against the plain definitions, on seeded data.
#include "engine/stack/modetable.h"
#include "engine/stack/stackrun.h"
#include "reference/stackmodes.h"
#include "support/images.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

const StackResources inMemory{.memory = [] { return std::optional<std::uint64_t>(); }};

QImage::Format formatAt(int bits)
{
    return bits == 16 ? QImage::Format_RGBX64 : QImage::Format_RGB32;
}

// Values around a level with noise and, now and then, an outlier: what clipping must reject.
QImage burstFrame(QSize size, std::mt19937 &random, int bits = 8)
{
    QImage frame(size, formatAt(bits));
    const int top = (1 << bits) - 1, scale = top / 255;
    std::uniform_int_distribution<int> noise(-6 * scale, 6 * scale), any(0, top), odds(0, 9);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const auto channel = [&](int level) {
                return odds(random) == 0 ? any(random) : std::clamp(level * scale + noise(random), 0, top);
            };
            setSamples(frame, x, y, {channel(40 + 20 * x), channel(200), channel(128 + 10 * y)});
        }
    return frame;
}

// Each channel of the mode over the samples gathered.
Samples stackOf(const StackOptions &options, const std::array<std::vector<int>, 3> &samples)
{
    return {referenceStack(options, samples[0]), referenceStack(options, samples[1]), referenceStack(options, samples[2])};
}

// The run's pixel (x, y) from the samples the frames give there: black beyond a smaller frame.
QImage expectedStack(const StackOptions &options, const std::vector<QImage> &frames, QSize area)
{
    QImage expected(area, frames[0].format());
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x) {
            std::array<std::vector<int>, 3> samples;
            for (const QImage &frame : frames)
                for (std::size_t c = 0; c < 3; ++c)
                    samples[c].push_back(frame.rect().contains(x, y) ? samplesAt(frame, x, y)[c] : 0);
            setSamples(expected, x, y, stackOf(options, samples));
        }
    return expected;
}

// Warped frames cover a run of each row, or nothing; one covers the whole area as a reference
// does, unless the case leaves it out too.
Coverage randomCoverage(QSize area, std::mt19937 &random)
{
    std::uniform_int_distribution<int> begin(-2, area.width() / 2), length(0, area.width() + 2), odds(0, 7);
    Coverage coverage;
    for (int y = 0; y < area.height(); ++y) {
        const int first = begin(random);
        coverage.push_back(odds(random) == 0 ? RowSpan{} : RowSpan{first, first + length(random)});
    }
    return coverage;
}

bool covers(const std::optional<Coverage> &coverage, int x, int y)
{
    return coverage && (*coverage)[std::size_t(y)].begin <= x && x < (*coverage)[std::size_t(y)].end;
}

// Pixel (x, y) from the frames that cover it alone; where none does, the surface's own value.
QImage expectedCoveredStack(const StackOptions &options, const std::vector<QImage> &frames,
                            const std::vector<std::optional<Coverage>> &coverage, const QImage &surface)
{
    QImage expected = surface.copy();
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) {
            std::array<std::vector<int>, 3> samples;
            for (std::size_t i = 0; i < frames.size(); ++i)
                if (covers(coverage[i], x, y))
                    for (std::size_t c = 0; c < 3; ++c)
                        samples[c].push_back(samplesAt(frames[i], x, y)[c]);
            if (!samples[0].empty())
                setSamples(expected, x, y, stackOf(options, samples));
        }
    return expected;
}

} // namespace

class TestStackModes : public QObject {
    Q_OBJECT
private slots:
    void modesMatchTheirDefinitions_data();
    void modesMatchTheirDefinitions();
    void clippingBeyondSixtyFourBits();
    void clippingSixteenBitRows_data();
    void clippingSixteenBitRows();
    void coveredSamplesAlone_data();
    void coveredSamplesAlone();
};

void TestStackModes::modesMatchTheirDefinitions_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("kappa");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("mixedSizes");
    QTest::addColumn<int>("bits");
    // Every mode of the table, so a new row cannot go untested.
    for (const ModeEntry &entry : stackModes())
        for (const int frames : {2, 3, 10, 21, 64, 65, 200})
            for (const bool mixed : {false, true})
                for (const int bits : {8, 16})
                    QTest::addRow("%s of %d%s, %d bits", entry.word.data(), frames, mixed ? ", sizes mixed" : "", bits)
                        << int(entry.mode) << DefaultKappaHundredths << frames << mixed << bits;
    for (const int kappa : {100, 137, 1000})
        for (const int bits : {8, 16})
            QTest::addRow("sigma, kappa %d, %d bits", kappa, bits) << int(StackMode::SigmaClippedMean) << kappa << 15 << false << bits;
}

void TestStackModes::modesMatchTheirDefinitions()
{
    QFETCH(int, mode);
    QFETCH(int, kappa);
    QFETCH(int, frames);
    QFETCH(bool, mixedSizes);
    QFETCH(int, bits);
    const QSize area(9, 5);
    std::mt19937 random(std::uint32_t(frames * 31 + mode * 7 + kappa + bits));
    std::vector<QImage> pictures;
    for (int i = 0; i < frames; ++i) {
        // Every third frame smaller, every fifth larger: black beyond the one, cropped the other.
        const QSize size = !mixedSizes ? area : i % 3 == 1 ? QSize(6, 3) : i % 5 == 2 ? QSize(12, 7) : area;
        pictures.push_back(burstFrame(size, random, bits));
    }
    const StackOptions options{StackMode(mode), kappa, bits == 16 ? SampleDepth::Sixteen : SampleDepth::Eight};
    StackRun run(area, QStringList(frames, QString()), inMemory, options);
    QVERIFY(run.admitted());
    for (int i = 0; i < frames; ++i)
        QVERIFY(run.add(i, pictures[std::size_t(i)]));
    QImage result(area, formatAt(bits));
    result.fill(QColor(0x12, 0x34, 0x56));
    QVERIFY(run.finish(result));
    QCOMPARE_PIXELS(result, expectedStack(options, pictures, area));
}

void TestStackModes::clippingBeyondSixtyFourBits()
{
    // Past 23000 samples the kernel's products need 128 bits.
    const int n = 23'100;
    std::mt19937 random(5);
    std::vector<std::uint8_t> samples(std::size_t(n) * 2);
    std::vector<int> first, second;
    for (int i = 0; i < n; ++i) {
        samples[2 * std::size_t(i)] = std::uint8_t(i % 7 == 0 ? 255 : 100 + random() % 5);
        samples[2 * std::size_t(i) + 1] = std::uint8_t(random() % 256);
        first.push_back(samples[2 * std::size_t(i)]);
        second.push_back(samples[2 * std::size_t(i) + 1]);
    }
    std::uint8_t out[2] = {};
    sigmaClippedMeanRow(samples.data(), 2, n, DefaultKappaHundredths, out, 2);
    const StackOptions sigma{StackMode::SigmaClippedMean, DefaultKappaHundredths};
    QCOMPARE(int(out[0]), referenceStack(sigma, first));
    QCOMPARE(int(out[1]), referenceStack(sigma, second));
}

void TestStackModes::clippingSixteenBitRows_data()
{
    QTest::addColumn<int>("kappa");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("lowest"); // the least level; -1 for only 0 and 65535
    for (const int kappa : {100, 250, 1000}) {
        for (const int n : {2, 3, 10, 20, 64, 65, 200})
            QTest::addRow("kappa %d, %d samples", kappa, n) << kappa << n << 0;
        QTest::addRow("kappa %d, 200 samples of 0 and 65535", kappa) << kappa << 200 << -1;
    }
    // 0 and 65535 give the largest products: either side of 64-bit totals, then past 32-bit sums.
    for (const int n : {46340, 46341})
        QTest::addRow("kappa 1000, %d samples of 0 and 65535", n) << 1000 << n << -1;
    QTest::newRow("kappa 250, 80000 samples near the top") << 250 << 80000 << 64000;
}

// Per pixel a level with noise and one outlier in ten. 300 pixels cross the blocks of 256.
void TestStackModes::clippingSixteenBitRows()
{
    QFETCH(int, kappa);
    QFETCH(int, n);
    QFETCH(int, lowest);
    const std::size_t count = n > 1000 ? 3 : 300;
    std::mt19937 random(std::uint32_t(n * 3 + kappa));
    std::uniform_int_distribution<int> any(0, 65535), levels(std::max(lowest, 0), 65535), noise(-1500, 1500), odds(0, 9);
    std::vector<std::uint16_t> samples(std::size_t(n) * count);
    std::vector<std::vector<int>> pixels(count);
    for (std::size_t x = 0; x < count; ++x)
        for (int i = 0, level = levels(random); i < n; ++i) {
            const int v = lowest < 0           ? (odds(random) < 5 ? 65535 : 0)
                          : odds(random) == 0 ? any(random)
                                              : std::clamp(level + noise(random), 0, 65535);
            samples[std::size_t(i) * count + x] = std::uint16_t(v);
            pixels[x].push_back(v);
        }
    std::vector<std::uint16_t> out(count);
    sigmaClippedMeanRow(samples.data(), count, n, kappa, out.data(), count);
    for (std::size_t x = 0; x < count; ++x)
        QCOMPARE(int(out[x]), referenceStack({StackMode::SigmaClippedMean, kappa}, pixels[x]));
}

void TestStackModes::coveredSamplesAlone_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("spilled");
    QTest::addColumn<bool>("reference");
    QTest::addColumn<int>("bits");
    for (const ModeEntry &entry : stackModes())
        for (const int bits : {8, 16}) {
            for (const int frames : {2, 3, 10, 21, 65})
                for (const bool reference : {true, false})
                    QTest::addRow("%s of %d%s, %d bits", entry.word.data(), frames, reference ? "" : ", no reference", bits)
                        << int(entry.mode) << frames << false << reference << bits;
            // Spilled planes are painted band by band: the bands must find their rows' coverage.
            if (entry.kernel)
                QTest::addRow("%s of 10, spilled, %d bits", entry.word.data(), bits)
                    << int(entry.mode) << 10 << true << true << bits;
        }
}

void TestStackModes::coveredSamplesAlone()
{
    QFETCH(int, mode);
    QFETCH(int, frames);
    QFETCH(bool, spilled);
    QFETCH(bool, reference);
    QFETCH(int, bits);
    const QSize area(23, 9);
    std::mt19937 random(std::uint32_t(frames * 131 + mode + bits));
    std::vector<QImage> pictures;
    std::vector<std::optional<Coverage>> coverage;
    for (int i = 0; i < frames; ++i) {
        pictures.push_back(burstFrame(area, random, bits));
        // Every seventh frame could not be aligned and is never added.
        coverage.push_back(i % 7 == 5 ? std::nullopt : std::optional(randomCoverage(area, random)));
    }
    if (reference)
        coverage[0] = Coverage(std::size_t(area.height()), RowSpan{0, area.width()});
    const QTemporaryDir scratch;
    // Room for decoding (12 samples a pixel) and two rows of planes: three bands at least.
    const std::uint64_t budget = std::uint64_t(bits / 8)
                               * (12u * std::uint64_t(area.width() * area.height()) + 2u * 3u * std::uint64_t(frames * area.width()));
    const StackResources resources = spilled ? StackResources{.memory = [budget] { return std::optional(budget); },
                                                              .scratchFolder = scratch.path()}
                                             : inMemory;
    const StackOptions options{StackMode(mode), DefaultKappaHundredths, bits == 16 ? SampleDepth::Sixteen : SampleDepth::Eight};
    StackRun run(area, QStringList(frames, QString()), resources, options, pictures[0]);
    QVERIFY(run.admitted());
    for (int i = 0; i < frames; ++i)
        if (coverage[std::size_t(i)])
            QVERIFY(run.add(i, pictures[std::size_t(i)], coverage[std::size_t(i)]));
    QImage result(area, formatAt(bits));
    result.fill(QColor(0x12, 0x34, 0x56));
    const QImage expected = expectedCoveredStack(options, pictures, coverage, result);
    QVERIFY(run.finish(result));
    QCOMPARE_PIXELS(result, expected);
}

QTEST_MAIN(TestStackModes)
#include "tst_stackmodes.moc"
