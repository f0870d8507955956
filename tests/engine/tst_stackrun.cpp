#include "engine/stack/runstack.h"
#include "engine/stack/stackrun.h"
#include "reference/exchangesortmedian.h"
#include "support/failingio.h"
#include "support/images.h"
#include "support/scratchfolders.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/statfs.h>

#include <cerrno>
#include <cstring>

using Pictures = std::vector<QImage>;

class StackRunTest : public QObject {
    Q_OBJECT
private slots:
    void faultReachesCaller_data();
    void faultReachesCaller();
    void failingDiskReachesCaller();
    void spilledMatchesInMemory_data();
    void spilledMatchesInMemory();
    void unfitScratchFolderRefuses_data();
    void unfitScratchFolderRefuses();
    void tooSmallFileSystemRefuses();
};

Q_DECLARE_METATYPE(Pictures)

namespace {

const QSize Area(37, 23);
constexpr int FrameCount = 5;
constexpr int BandRows = 4; // six bands; a frame is copied in two chunks of 20 rows and 3

Pictures frames()
{
    Pictures pictures;
    for (int i = 0; i < FrameCount; ++i)
        pictures.push_back(randomPicture(Area.width(), Area.height(), std::uint32_t(i + 1)));
    return pictures;
}

MemoryProbe bands()
{
    return spillingInBands(BandRows, Area, FrameCount);
}

// Files stacked from their paths as the batch tool does, a frame that does not load left out;
// `frameDone` sees each frame's turn end.
StackResult stackFiles(const QStringList &paths, QSize area, const StackResources &resources,
                       const std::function<void(int)> &frameDone = {})
{
    StackPlan plan{.area = area};
    for (const QString &path : paths)
        plan.frames.push_back({path, {}});
    StackEvents events;
    events.frameTaken = [](FrameTaken &frame) {
        if (!frame.picture)
            return FrameChoice{FrameChoice::Kind::LeaveOut, {}};
        return FrameChoice{FrameChoice::Kind::Stack, std::move(*frame.picture)};
    };
    events.frameDone = frameDone;
    return runStack(std::move(plan), events, resources);
}

QString notEnoughMemory(int count, QSize area)
{
    return QStringLiteral("Not enough memory to stack %1 images of %2 x %3 pixels.").arg(count).arg(area.width()).arg(area.height());
}

QImage referenceStack(const Pictures &pictures)
{
    QImage medians(Area, QImage::Format_RGB32);
    for (int y = 0; y < Area.height(); ++y)
        for (int x = 0; x < Area.width(); ++x) {
            std::array<int, 3> channel{};
            for (int c = 0; c < 3; ++c) {
                std::vector<double> samples;
                for (const QImage &picture : pictures)
                    samples.push_back((picture.pixel(x, y) >> (16 - 8 * c)) & 0xffu);
                channel[std::size_t(c)] = exchangeSortMedian(samples);
            }
            medians.setPixel(x, y, qRgb(channel[0], channel[1], channel[2]));
        }
    return medians;
}

struct StackEnd {
    std::optional<QString> added;    // the first reason add() gave
    std::optional<QString> finished; // what finish() gave
};

std::optional<QString> failureOf(const Outcome<> &outcome)
{
    return outcome ? std::nullopt : std::optional(outcome.reason());
}

// Frames the caller brings itself, added in order while none fails, then finished into `surface`.
StackEnd stack(const Pictures &pictures, const StackResources &resources, QImage &surface)
{
    StackRun run(Area, QStringList(qsizetype(pictures.size())), resources);
    Q_ASSERT(run.admitted());
    StackEnd outcome;
    for (std::size_t i = 0; i < pictures.size() && !outcome.added; ++i)
        outcome.added = failureOf(run.add(int(i), pictures[i]));
    outcome.finished = failureOf(run.finish(surface));
    return outcome;
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

void StackRunTest::faultReachesCaller_data()
{
    QTest::addColumn<FailingIo::Kind>("kind");
    QTest::addColumn<int>("failAt");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("fatal");

    // Every call the clean spilled run makes, failed in turn.
    const QTemporaryDir scratch;
    FailingIo counting;
    QImage surface(Area, QImage::Format_RGB32);
    stack(frames(), {.memory = bands(), .scratchFolder = scratch.path(), .io = &counting}, surface);
    QTest::newRow("no fault") << FailingIo::Kind::Write << 0 << 0 << false;
    const std::array errors{EIO, EROFS, ENOSPC};
    for (const auto &[kind, name] : {std::pair(FailingIo::Kind::Write, "write"), std::pair(FailingIo::Kind::Read, "read"),
                                     std::pair(FailingIo::Kind::Flush, "flush")}) {
        const int calls = counting.calls(kind);
        QVERIFY(calls >= 2 * FrameCount);
        for (int k = 1; k <= calls; ++k) {
            const int error = errors[std::size_t(k) % errors.size()];
            QTest::addRow("%s %d of %d: %s", name, k, calls, std::strerror(error)) << kind << k << error << true;
        }
    }
    // Not failures: an interrupted call is repeated, and a file system without the flush keeps the data.
    QTest::newRow("write interrupted") << FailingIo::Kind::Write << 2 << EINTR << false;
    QTest::newRow("read interrupted") << FailingIo::Kind::Read << 7 << EINTR << false;
    QTest::newRow("flush unsupported") << FailingIo::Kind::Flush << 1 << EOPNOTSUPP << false;
}

void StackRunTest::faultReachesCaller()
{
    QFETCH(FailingIo::Kind, kind);
    QFETCH(int, failAt);
    QFETCH(int, error);
    QFETCH(bool, fatal);
    const Pictures pictures = frames();
    const QImage before = randomPicture(Area.width(), Area.height(), 99);
    QImage surface = before.copy();
    const QTemporaryDir scratch;
    FailingIo io(kind, failAt, error);
    const StackEnd outcome = stack(pictures, {.memory = bands(), .scratchFolder = scratch.path(), .io = &io}, surface);

    QCOMPARE(entriesOf(scratch.path()), QStringList());
    QCOMPARE(openFilesIn(scratch.path()), 0);
    if (!fatal) {
        QCOMPARE(outcome.added, std::nullopt);
        QCOMPARE(outcome.finished, std::nullopt);
        QCOMPARE_PIXELS(surface, referenceStack(pictures));
        return;
    }
    // Writes and their flushes happen while frames are added, reads while the medians are painted.
    if (kind == FailingIo::Kind::Read) {
        QCOMPARE(outcome.added, std::nullopt);
    } else {
        QCOMPARE(outcome.added, reason(error));
    }
    QCOMPARE(outcome.finished, reason(error));
    QCOMPARE_PIXELS(surface, before);
}

// A real disk failing part-way: ext4 turns itself read-only under the run.
void StackRunTest::failingDiskReachesCaller()
{
    const QTemporaryDir folder;
    const LoopMountedExt4 disk(folder.path(), 8 << 20);
    if (!disk.mounted())
        QSKIP("cannot loop-mount a file system here");
    const Pictures pictures = frames();
    const QImage before = randomPicture(Area.width(), Area.height(), 99);
    QImage surface = before.copy();
    const QStringList entries = entriesOf(disk.path());
    {
        StackRun run(Area, QStringList(FrameCount), {.memory = bands(), .scratchFolder = disk.path()});
        QVERIFY(run.admitted());
        QVERIFY(run.add(0, pictures[0]));
        if (!disk.fail())
            QSKIP("this kernel cannot fail an ext4 file system on request");
        const std::optional<QString> failure = failureOf(run.add(1, pictures[1]));
        QVERIFY2(failure == reason(EROFS) || failure == reason(EIO), qPrintable(failure.value_or("success")));
        QCOMPARE(failureOf(run.finish(surface)), failure);
    }
    QCOMPARE_PIXELS(surface, before);
    QCOMPARE(openFilesIn(disk.path()), 0);
    QCOMPARE(entriesOf(disk.path()), entries);
}

void StackRunTest::spilledMatchesInMemory_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<Pictures>("pictures");
    QTest::addColumn<int>("bandRows");
    const auto random = [](int w, int h, std::uint32_t seed) { return randomPicture(w, h, seed); };
    QTest::newRow("three frames, bands of two rows")
        << QSize(13, 9) << Pictures{random(13, 9, 1), random(13, 9, 2), random(13, 9, 3)} << 2;
    Pictures twenty;
    for (int i = 0; i < 20; ++i)
        twenty.push_back(random(38, 9, std::uint32_t(i)));
    QTest::newRow("twenty frames, a row a band") << QSize(38, 9) << twenty << 1;
    Pictures mixed;
    for (int i = 0; i < 20; ++i)
        mixed.push_back(i == 7 ? QImage() : random(5 + i % 7, 4 + i % 9, std::uint32_t(i)));
    QTest::newRow("twenty frames of mixed sizes, one undecodable") << QSize(8, 10) << mixed << 3;
    QTest::newRow("frames smaller and larger than the area")
        << QSize(9, 8) << Pictures{random(9, 8, 1), random(4, 8, 2), random(12, 11, 3), random(7, 5, 4)} << 3;
}

void StackRunTest::spilledMatchesInMemory()
{
    QFETCH(QSize, area);
    QFETCH(Pictures, pictures);
    QFETCH(int, bandRows);
    const QTemporaryDir folder;
    const QTemporaryDir scratch;
    const QStringList paths = writeFrames(pictures, folder.path());
    const StackResult inMemory = stackFiles(paths, area, {.memory = [] { return std::nullopt; }, .scratchFolder = scratch.path()});
    int filesDuringRun = -1;
    const StackResult spilled = stackFiles(paths, area,
                                           {.memory = spillingInBands(bandRows, area, int(pictures.size())),
                                            .scratchFolder = scratch.path()},
                                           [&](int index) {
                                               if (index == 0)
                                                   filesDuringRun = openFilesIn(scratch.path());
                                           });
    QCOMPARE(int(spilled.kind), int(StackResult::Kind::Done));
    QCOMPARE(int(inMemory.kind), int(StackResult::Kind::Done));
    QCOMPARE(filesDuringRun, 1);
    QCOMPARE_PIXELS(spilled.picture, inMemory.picture);
    QCOMPARE(openFilesIn(scratch.path()), 0);
    QCOMPARE(entriesOf(scratch.path()), QStringList());
}

void StackRunTest::unfitScratchFolderRefuses_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("missing folder") << QStringLiteral("missing");
    QTest::newRow("memory file system") << QStringLiteral("/dev/shm");
}

void StackRunTest::unfitScratchFolderRefuses()
{
    QFETCH(QString, folder);
    const QTemporaryDir frames;
    const QString path = QDir(frames.path()).absoluteFilePath(folder);
    if (folder.startsWith(u'/')) {
        struct statfs disk{};
        if (statfs(folder.toLocal8Bit().constData(), &disk) != 0 || disk.f_type != 0x01021994) // tmpfs
            QSKIP("no tmpfs at /dev/shm here");
    }
    const QStringList paths = writeFrames(Pictures(3, filledPicture(13, 9, qRgb(10, 10, 10))), frames.path());
    const QStringList before = entriesOf(path);
    const StackResult result = stackFiles(paths, QSize(13, 9), {.memory = spillingInBands(2, QSize(13, 9), 3), .scratchFolder = path});
    QCOMPARE(int(result.kind), int(StackResult::Kind::Refused));
    QCOMPARE(result.reason, notEnoughMemory(3, QSize(13, 9)));
    QCOMPARE(entriesOf(path), before);
    QVERIFY(!QFileInfo::exists(QDir(frames.path()).filePath(QStringLiteral("missing"))));
}

// An ext4 image of 4 MiB, loop-mounted: needs root and a kernel that lets this process mount.
void StackRunTest::tooSmallFileSystemRefuses()
{
    const QTemporaryDir folder;
    const LoopMountedExt4 disk(folder.path(), 4 << 20);
    if (!disk.mounted())
        QSKIP("cannot loop-mount a file system here");
    const QStringList paths = writeFrames(Pictures(20, filledPicture(2, 2, qRgb(10, 10, 10))), folder.path());
    const QStringList before = entriesOf(disk.path());
    // 3.6 MB of planes on a file system of 4 MiB
    const QSize area(300, 200);
    const StackResult refused = stackFiles(paths, area, {.memory = spillingInBands(10, area, 20), .scratchFolder = disk.path()});
    QCOMPARE(int(refused.kind), int(StackResult::Kind::Refused));
    QCOMPARE(refused.reason, notEnoughMemory(20, area));
    QCOMPARE(entriesOf(disk.path()), before);
    // The same stack fits once it is small enough for that disk.
    const StackResult fits = stackFiles(paths, QSize(30, 20), {.memory = spillingInBands(2, QSize(30, 20), 20), .scratchFolder = disk.path()});
    QCOMPARE(int(fits.kind), int(StackResult::Kind::Done));
    QCOMPARE_PIXELS(fits.picture.copy(0, 0, 2, 2), filledPicture(2, 2, qRgb(10, 10, 10)));
    QCOMPARE(entriesOf(disk.path()), before);
}

QTEST_MAIN(StackRunTest)
#include "tst_stackrun.moc"
