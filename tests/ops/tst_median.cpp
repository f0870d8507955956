#include "imaging/picturebox.h"
#include "ops/median.h"
#include "reference/pointops.h"
#include "support/failingio.h"
#include "support/images.h"
#include "support/rgbhash.h"
#include "support/scratchfolders.h"
#include "support/window/fakes.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using Pictures = std::vector<QImage>;

class MedianTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fewerThanTwoImages_data();
    void fewerThanTwoImages();
    void titleSequenceForThreeImages();
    void tenthImageTitle();
    void pixelRules_data();
    void pixelRules();
    void matchesReference_data();
    void matchesReference();
    void stop_data();
    void stop();
    void removedEntryCountsAsFailedLoad();
    void notEnoughMemoryEndsCleanly();
    void spilledStopLeavesNothing();
    void spilledFailureReachesPerson_data();
    void spilledFailureReachesPerson();
    void completesUnderDataLimit();

private:
    // Writes each picture as a BMP (an empty picture becomes an undecodable file).
    QStringList writeFiles(const Pictures &pictures);
    std::unique_ptr<QTemporaryDir> m_dir;
};

Q_DECLARE_METATYPE(Pictures)

namespace {

// The median as the plain point-by-point reference forms it, with the canvas's picture
// standing in for every file that does not load.
QImage expectedMedian(const QImage &startPicture, const Pictures &pictures)
{
    Pictures held;
    QImage canvas = startPicture;
    for (const QImage &picture : pictures) {
        if (!picture.isNull())
            canvas = picture;
        held.push_back(canvas);
    }
    const UnitsPerPixel units;
    referenceMedian(canvas, held, units, scaleWidth(startPicture, units), scaleHeight(startPicture, units));
    return canvas;
}

} // namespace

void MedianTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

QStringList MedianTest::writeFiles(const Pictures &pictures)
{
    return writeFrames(pictures, m_dir->path());
}

void MedianTest::fewerThanTwoImages_data()
{
    QTest::addColumn<int>("entries");
    QTest::newRow("empty list") << 0;
    QTest::newRow("one entry") << 1;
}

void MedianTest::fewerThanTwoImages()
{
    QFETCH(int, entries);
    FakeHost host;
    host.paths = writeFiles(Pictures(std::size_t(entries), filledPicture(3, 3, qRgb(1, 2, 3))));
    const QImage before = host.Picture1->surface().copy();
    runMedian(host);
    QCOMPARE(host.log, (QStringList{"BeginWork", "EndWork", "Cap:Done", "info:Must be at least 2 images"}));
    QCOMPARE(host.Picture1->surface(), before);
    QVERIFY(!host.StopFlag);
}

void MedianTest::titleSequenceForThreeImages()
{
    FakeHost host;
    host.paths = writeFiles(Pictures(3, filledPicture(4, 4, qRgb(9, 9, 9))));
    runMedian(host);
    QCOMPARE(host.log, (QStringList{"BeginWork", "Cap:Processing image: 1", "events", "Cap:Processing image: 2",
                                    "events", "Cap:Processing image: 3", "events", "Cap:Generating Median...",
                                    "Cap:Done", "beep", "EndWork"}));
}

void MedianTest::tenthImageTitle()
{
    FakeHost host;
    host.paths = writeFiles(Pictures(10, filledPicture(2, 2, qRgb(9, 9, 9))));
    runMedian(host);
    QVERIFY(host.log.contains(QStringLiteral("Cap:Processing image: 10")));
}

void MedianTest::pixelRules_data()
{
    QTest::addColumn<QList<QRgb>>("colors");
    QTest::addColumn<QRgb>("median");
    QTest::newRow("two: mean rounded down") << QList<QRgb>{qRgb(10, 0, 0), qRgb(13, 0, 0)} << qRgb(11, 0, 0);
    QTest::newRow("three: middle") << QList<QRgb>{qRgb(10, 0, 0), qRgb(200, 0, 0), qRgb(13, 0, 0)} << qRgb(13, 0, 0);
    QTest::newRow("four: middle pair")
        << QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(100, 0, 0), qRgb(101, 0, 0)} << qRgb(100, 0, 0);
    QTest::newRow("primaries give black")
        << QList<QRgb>{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)} << qRgb(0, 0, 0);
    QTest::newRow("channels independent")
        << QList<QRgb>{qRgb(10, 20, 30), qRgb(30, 10, 20), qRgb(20, 30, 10)} << qRgb(20, 20, 20);
}

void MedianTest::pixelRules()
{
    QFETCH(QList<QRgb>, colors);
    QFETCH(QRgb, median);
    Pictures pictures;
    for (const QRgb color : colors)
        pictures.push_back(filledPicture(5, 3, color));
    FakeHost host;
    host.Picture1->setPicture(filledPicture(5, 3, qRgb(1, 1, 1)));
    host.paths = writeFiles(pictures);
    runMedian(host);
    QCOMPARE(host.Picture1->surface(), filledPicture(5, 3, median));
}

void MedianTest::matchesReference_data()
{
    QTest::addColumn<QSize>("start");
    QTest::addColumn<Pictures>("pictures");
    const auto random = [](int w, int h, std::uint32_t seed) { return randomPicture(w, h, seed); };
    QTest::newRow("identical images") << QSize(7, 5) << Pictures(4, random(7, 5, 1));
    QTest::newRow("five random") << QSize(13, 6)
                                 << Pictures{random(13, 6, 1), random(13, 6, 2), random(13, 6, 3), random(13, 6, 4),
                                             random(13, 6, 5)};
    QTest::newRow("wide rows with a ragged end")
        << QSize(37, 3) << Pictures{random(37, 3, 1), random(37, 3, 2), random(37, 3, 3), random(37, 3, 4)};
    QTest::newRow("second narrower counts as zero")
        << QSize(9, 4) << Pictures{random(9, 4, 1), random(4, 4, 2), random(9, 4, 3)};
    QTest::newRow("larger images cropped top-left")
        << QSize(5, 3) << Pictures{random(11, 8, 1), random(12, 9, 2)};
    QTest::newRow("undecodable middle copies the first again")
        << QSize(6, 6) << Pictures{random(6, 6, 1), QImage(), random(6, 6, 3)};
    QTest::newRow("none loads: the starting picture") << QSize(4, 4) << Pictures{QImage(), QImage(), QImage()};
    QTest::newRow("last picture larger keeps its own pixels")
        << QSize(4, 3) << Pictures{random(4, 3, 1), random(4, 3, 2), random(9, 7, 3)};
    QTest::newRow("last picture smaller drops medians")
        << QSize(8, 8) << Pictures{random(8, 8, 1), random(8, 8, 2), random(3, 5, 3)};
    QTest::newRow("empty stacked area") << QSize(0, 0) << Pictures{random(3, 3, 1), random(3, 3, 2)};
    // Decoded ahead on workers, taken in list order.
    QTest::newRow("two mixed sizes") << QSize(6, 5) << Pictures{random(3, 7, 1), random(9, 2, 2)};
    QTest::newRow("three mixed sizes")
        << QSize(7, 7) << Pictures{random(7, 7, 1), random(2, 9, 2), random(11, 4, 3)};
    Pictures ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back(i == 6 ? QImage() : random(17 + 3 * (i % 4), 9 + 2 * (i % 3), std::uint32_t(i + 1)));
    QTest::newRow("ten mixed sizes, one undecodable") << QSize(21, 12) << ten;
}

void MedianTest::matchesReference()
{
    QFETCH(QSize, start);
    QFETCH(Pictures, pictures);
    const QImage startPicture = randomPicture(start.width(), start.height(), 99);
    FakeHost host;
    host.Picture1->setPicture(startPicture);
    host.paths = writeFiles(pictures);
    runMedian(host);
    QCOMPARE(host.Picture1->surface(), expectedMedian(startPicture, pictures));
}

void MedianTest::stop_data()
{
    QTest::addColumn<int>("eventPoint");
    QTest::addColumn<int>("stoppedAtImage");
    // Event points per image: two inside its title update, one after its copy.
    QTest::newRow("pressed inside image 2's title") << 3 << 2;
    QTest::newRow("pressed after image 2: image 3 loads first") << 5 << 3;
    QTest::newRow("pressed after the last image: no effect") << 14 << 0;
    QTest::newRow("pressed in the median phase: no effect") << 15 << 0;
}

void MedianTest::stop()
{
    QFETCH(int, eventPoint);
    QFETCH(int, stoppedAtImage);
    Pictures pictures;
    for (int i = 0; i < 5; ++i)
        pictures.push_back(filledPicture(3, 2, qRgb(10 * i, 0, 0)));
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 2, qRgb(1, 1, 1)));
    host.paths = writeFiles(pictures);
    host.atEventPoint = [&](int point) {
        if (point == eventPoint)
            host.StopFlag = true;
    };
    runMedian(host);
    QVERIFY(host.StopFlag);
    if (stoppedAtImage == 0) {
        QCOMPARE(host.log.last(), QStringLiteral("EndWork"));
        QCOMPARE(host.Picture1->surface(), filledPicture(3, 2, qRgb(20, 0, 0)));
        return;
    }
    const QStringList tail{QStringLiteral("Cap:Processing image: %1").arg(stoppedAtImage), "EndWork", "Cap:Done",
                           "beep"};
    QCOMPARE(host.log.mid(host.log.size() - 4), tail);
    QCOMPARE(host.Picture1->surface(), pictures[std::size_t(stoppedAtImage - 1)]);
}

void MedianTest::removedEntryCountsAsFailedLoad()
{
    const Pictures pictures{filledPicture(2, 2, qRgb(10, 10, 10)), filledPicture(2, 2, qRgb(20, 20, 20)),
                            filledPicture(2, 2, qRgb(250, 250, 250))};
    FakeHost host;
    host.Picture1->setPicture(filledPicture(2, 2, qRgb(0, 0, 0)));
    host.paths = writeFiles(pictures);
    host.atEventPoint = [&](int point) {
        if (point == 2) // after image 1: the last entry goes away
            host.paths.removeLast();
    };
    runMedian(host);
    // Images 1, 2 and 2 again: the median is image 2.
    QCOMPARE(host.Picture1->surface(), pictures[1]);
    QCOMPARE(host.log.last(), QStringLiteral("EndWork"));
}

void MedianTest::notEnoughMemoryEndsCleanly()
{
    FakeHost host;
    host.paths = writeFiles(Pictures(3, filledPicture(2, 2, qRgb(10, 10, 10))));
    const QImage before = host.Picture1->surface().copy();
    runMedian(host, {.memory = [] { return std::optional<std::uint64_t>(1000); }});
    QCOMPARE(host.log,
             (QStringList{"BeginWork", "EndWork", "warn:Not enough memory to stack 3 images of 233 x 305 pixels."}));
    QCOMPARE(host.Picture1->surface(), before);
}

void MedianTest::spilledStopLeavesNothing()
{
    Pictures pictures;
    for (int i = 0; i < 5; ++i)
        pictures.push_back(filledPicture(4, 5, qRgb(10 * i, 0, 0)));
    const QTemporaryDir scratch;
    FakeHost host;
    host.Picture1->setPicture(filledPicture(4, 5, qRgb(1, 1, 1)));
    host.paths = writeFiles(pictures);
    int filesDuringRun = -1;
    host.atEventPoint = [&](int point) {
        if (point == 2)
            filesDuringRun = openFilesIn(scratch.path());
        if (point == 5) // after image 2: image 3 loads, then the run stops
            host.StopFlag = true;
    };
    runMedian(host, {.memory = spillingInBands(1, QSize(4, 5), 5), .scratchFolder = scratch.path()});
    QCOMPARE(filesDuringRun, 1);
    QCOMPARE(host.log.mid(host.log.size() - 4),
             (QStringList{"Cap:Processing image: 3", "EndWork", "Cap:Done", "beep"}));
    QCOMPARE(host.Picture1->surface(), pictures[2]);
    QCOMPARE(openFilesIn(scratch.path()), 0);
    QCOMPARE(entriesOf(scratch.path()), QStringList());
}

void MedianTest::spilledFailureReachesPerson_data()
{
    QTest::addColumn<FailingIo::Kind>("kind");
    QTest::addColumn<int>("failAt");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("failedImage"); // 0: while the medians are painted
    // Five frames of 13 x 9 in bands of two rows: each frame is one write and one flush per
    // channel, and each band one read per frame and channel.
    QTest::newRow("first write") << FailingIo::Kind::Write << 1 << EIO << 1;
    QTest::newRow("a write of image 2") << FailingIo::Kind::Write << 5 << ENOSPC << 2;
    QTest::newRow("last flush") << FailingIo::Kind::Flush << 15 << EIO << 5;
    QTest::newRow("first read") << FailingIo::Kind::Read << 1 << EIO << 0;
    QTest::newRow("a read of the third band") << FailingIo::Kind::Read << 31 << EROFS << 0;
    QTest::newRow("last read") << FailingIo::Kind::Read << 75 << EIO << 0;
}

void MedianTest::spilledFailureReachesPerson()
{
    QFETCH(FailingIo::Kind, kind);
    QFETCH(int, failAt);
    QFETCH(int, error);
    QFETCH(int, failedImage);
    Pictures pictures;
    for (int i = 0; i < 5; ++i)
        pictures.push_back(randomPicture(13, 9, std::uint32_t(i + 1)));
    const QTemporaryDir scratch;
    FakeHost host;
    host.Picture1->setPicture(filledPicture(13, 9, qRgb(1, 2, 3)));
    host.paths = writeFiles(pictures);
    FailingIo io(kind, failAt, error);
    runMedian(host, {.memory = spillingInBands(2, QSize(13, 9), 5), .scratchFolder = scratch.path(), .io = &io});
    QVERIFY(io.calls(kind) >= failAt);
    const QString last = failedImage ? QStringLiteral("Cap:Processing image: %1").arg(failedImage)
                                     : QStringLiteral("Cap:Generating Median...");
    const QString warning = QStringLiteral("warn:The median could not be finished: ") + QString::fromLocal8Bit(std::strerror(error));
    QCOMPARE(host.log.mid(host.log.size() - 4), (QStringList{last, "EndWork", warning, "Cap:Done"}));
    QVERIFY(!host.log.contains(QStringLiteral("beep")));
    // What the loop left: the image it failed on, or the last one.
    QCOMPARE_PIXELS(host.Picture1->surface(), pictures[std::size_t(failedImage ? failedImage - 1 : 4)]);
    QCOMPARE(openFilesIn(scratch.path()), 0);
    QCOMPARE(entriesOf(scratch.path()), QStringList());
}

void MedianTest::completesUnderDataLimit()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory counts as data");
#endif
#if defined(__SANITIZE_THREAD__)
    QSKIP("ThreadSanitizer's shadow memory counts as data");
#endif
    // Each frame inverts its own band of rows of one picture, so the median is that picture.
    // 57.6 MB of planes against 48 MiB of data limit: they only fit on disk.
    const QImage scene = randomPicture(1000, 800, 5);
    Pictures frames;
    for (int i = 0; i < 24; ++i) {
        QImage frame = scene.copy();
        for (int y = i * 33; y < i * 33 + 30; ++y) {
            auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); ++x)
                row[x] ^= 0x00ffffffu;
        }
        frames.push_back(frame);
    }
    const QTemporaryDir scratch;
    QProcess child;
    child.start(QStringLiteral(OMBRELUX_MEDIANPROBE),
                QStringList{QStringLiteral("--data-headroom"), QStringLiteral("48"), QStringLiteral("--scratch"),
                            scratch.path()}
                    + writeFiles(frames));
    QVERIFY(child.waitForFinished(120000));
    const QStringList out = QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n');
    QVERIFY2(out.size() >= 2, qPrintable(child.readAllStandardError()));
    QVERIFY2(out[0].endsWith(QStringLiteral("Cap:Processing image: 24|events|Cap:Generating Median...|Cap:Done|beep|EndWork")),
             qPrintable(out[0]));
    QCOMPARE(out[1], QStringLiteral("sha256 ") + QString::fromLatin1(rgbSha256(scene)));
    QCOMPARE(entriesOf(scratch.path()), QStringList());
}

QTEST_MAIN(MedianTest)
#include "tst_median.moc"
