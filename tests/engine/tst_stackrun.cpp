#include "engine/stack/stackrun.h"
#include "reference/exchangesortmedian.h"
#include "support/failingio.h"
#include "support/images.h"
#include "support/scratchfolders.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using Pictures = std::vector<QImage>;

class StackRunTest : public QObject {
    Q_OBJECT
private slots:
    void faultReachesCaller_data();
    void faultReachesCaller();
    void failingDiskReachesCaller();
};

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

// Twice a band beyond the room for decoding (12 bytes a pixel), so the planes spill.
MemoryProbe bands()
{
    const auto width = std::uint64_t(Area.width());
    const std::uint64_t budget = 12u * width * std::uint64_t(Area.height()) + 2u * BandRows * 3u * FrameCount * width;
    return [budget] { return std::optional<std::uint64_t>(budget); };
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
    Q_ASSERT(!run.refusal());
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
        QVERIFY(!run.refusal());
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

QTEST_MAIN(StackRunTest)
#include "tst_stackrun.moc"
