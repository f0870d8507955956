// Median runs whose files are decoded ahead on workers: a decode held at a latch is in flight
// while the list changes, the file is replaced or Stop arrives, so no case depends on timing.
#include "engine/decode/imageloader.h"
#include "imaging/picturebox.h"
#include "ops/median.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <latch>
#include <mutex>
#include <thread>

namespace {

const MemoryProbe plenty = [] { return std::optional<std::uint64_t>(); };

// Decodes as the program does, but a worker's decode of the file named `held` waits at a latch
// before reading anything. Records the decodes the run's own thread does at an entry's turn.
class GatedDecoder {
public:
    explicit GatedDecoder(QString held = {}) : m_held(std::move(held)) {}

    FrameDecoder decoder()
    {
        return [this](QIODevice &file, const SizeAdmission &admit) {
            const QString name = QFileInfo(static_cast<QFile &>(file).fileName()).fileName();
            const bool onWorker = std::this_thread::get_id() != m_runThread;
            if (!onWorker)
                atTurn << name;
            if (onWorker && name == m_held) {
                entered.count_down();
                release.wait();
                Outcome<QImage> picture = decodeImageDevice(file, admit);
                heldDecoded = bool(picture);
                finished.count_down();
                return picture;
            }
            return decodeImageDevice(file, admit);
        };
    }

    std::latch entered{1};
    std::latch release{1};
    std::latch finished{1};
    std::atomic<bool> heldDecoded{false};
    QStringList atTurn;

private:
    QString m_held;
    std::thread::id m_runThread = std::this_thread::get_id();
};

QRgb red(int value)
{
    return qRgb(value, 0, 0);
}

} // namespace

class DecodeAheadTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void listChangedWhileDecoding();
    void fileReplacedWhileDecoding_data();
    void fileReplacedWhileDecoding();
    void stopWhileDecodingThenNewRun();
    void readAheadOnlyWithinRoom_data();
    void readAheadOnlyWithinRoom();
    void firstEntryOnCanvas_data();
    void firstEntryOnCanvas();
    void alignedFramesStayOnWorkers();

private:
    QString frame(const QString &name, QRgb color, int side = 3);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void DecodeAheadTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

QString DecodeAheadTest::frame(const QString &name, QRgb color, int side)
{
    return writePicture(filledPicture(side, side, color), m_dir->path(), name);
}

void DecodeAheadTest::listChangedWhileDecoding()
{
    GatedDecoder gate(QStringLiteral("b.bmp"));
    DecodePool pool(1, 2);
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, red(0)));
    host.paths = {frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30))};
    const QString other = frame("d.bmp", red(200));
    host.atEventPoint = [&](int point) {
        if (point == 2) { // after image 1 is copied, while b decodes: entry 2 now names d
            gate.entered.wait();
            host.paths[1] = other;
        }
    };
    // The run must not wait for b, which stays held until it has ended.
    runMedian(host, {.memory = plenty, .pool = &pool, .decoder = gate.decoder()});
    gate.release.count_down();
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(30)));
    QVERIFY(gate.atTurn.contains("d.bmp"));
    QVERIFY(!gate.atTurn.contains("b.bmp"));
}

void DecodeAheadTest::fileReplacedWhileDecoding_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("another file renamed over it") << false;
    QTest::newRow("rewritten in place") << true;
}

void DecodeAheadTest::fileReplacedWhileDecoding()
{
    QFETCH(bool, inPlace);
    GatedDecoder gate(QStringLiteral("b.bmp"));
    DecodePool pool(1, 2);
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, red(0)));
    host.paths = {frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30))};
    host.atEventPoint = [&](int point) {
        if (point != 2)
            return;
        gate.entered.wait();
        // A larger picture, so the size differs whatever the clock's resolution.
        const QString replacement = frame("new.bmp", red(200), 4);
        if (inPlace) {
            QFile source(replacement);
            QFile target(host.paths[1]);
            QVERIFY(source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate));
            target.write(source.readAll());
        } else {
            QVERIFY(QFile::remove(host.paths[1]) && QFile::rename(replacement, host.paths[1]));
        }
        // The old content finishes decoding; its frame must not be used.
        gate.release.count_down();
    };
    runMedian(host, {.memory = plenty, .pool = &pool, .decoder = gate.decoder()});
    QVERIFY(gate.heldDecoded);
    QVERIFY(gate.atTurn.contains("b.bmp"));
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(30)));
}

void DecodeAheadTest::stopWhileDecodingThenNewRun()
{
    GatedDecoder gate(QStringLiteral("c.bmp"));
    std::optional<DecodePool> pool(std::in_place, 1, 2);
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, red(0)));
    host.paths = {frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30)),
                  frame("d.bmp", red(40))};
    host.atEventPoint = [&](int point) {
        if (point == 3) { // inside image 2's title, while c decodes
            gate.entered.wait();
            host.StopFlag = true;
        }
    };
    runMedian(host, {.memory = plenty, .pool = &*pool, .decoder = gate.decoder()});
    QCOMPARE(host.log.mid(host.log.size() - 3), (QStringList{"EndWork", "Cap:Done", "beep"}));
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(20)));

    // The only worker is still held by the stopped run: a new run decodes at each turn itself.
    host.atEventPoint = {};
    host.paths = {frame("e.bmp", red(50)), frame("f.bmp", red(60))};
    gate.atTurn.clear();
    runMedian(host, {.memory = plenty, .pool = &*pool, .decoder = gate.decoder()});
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(55)));
    QCOMPARE(gate.atTurn, (QStringList{"e.bmp", "f.bmp"}));

    // Its reads fail once released: the old run's file is never decoded, let alone used.
    gate.release.count_down();
    pool.reset();
    QVERIFY(!gate.heldDecoded);
}

void DecodeAheadTest::readAheadOnlyWithinRoom_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("atTurn");
    // The memory check counts 12 bytes a pixel of the stacked area for decoding: 3 x 3 gives
    // 108 bytes, room for a 1 x 1 frame (4 bytes) and a 5 x 5 one (100) but not a 6 x 6 one (144).
    QTest::newRow("fits: read ahead") << 5 << false;
    QTest::newRow("too large: decoded at its turn") << 6 << true;
}

void DecodeAheadTest::readAheadOnlyWithinRoom()
{
    QFETCH(int, side);
    QFETCH(bool, atTurn);
    GatedDecoder gate(QStringLiteral("b.bmp"));
    gate.release.count_down();
    DecodePool pool(1, 3);
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, red(0)));
    host.paths = {frame("a.bmp", red(10), 1), frame("b.bmp", red(20), side)};
    host.atEventPoint = [&](int point) {
        if (point == 0) // b's turn comes only once a worker has decoded or refused it
            gate.finished.wait();
    };
    runMedian(host, {.memory = plenty, .pool = &pool, .decoder = gate.decoder()});
    QCOMPARE(gate.atTurn.contains("b.bmp"), atTurn);
    QCOMPARE(gate.heldDecoded.load(), !atTurn);
}

void DecodeAheadTest::firstEntryOnCanvas_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("firstDecoded");
    QTest::addColumn<int>("median");
    QTest::newRow("shown and untouched") << "" << false << 20;
    QTest::newRow("another file renamed over it") << "renamed" << true << 30;
    QTest::newRow("canvas written") << "written" << true << 20;
    QTest::newRow("another entry shown") << "other" << true << 20;
}

// The canvas stands in for the first frame only while it is that file's untouched picture.
void DecodeAheadTest::firstEntryOnCanvas()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, firstDecoded);
    QFETCH(int, median);
    std::mutex mutex;
    QStringList decoded;
    const FrameDecoder recording = [&](QIODevice &file, const SizeAdmission &admit) {
        const std::lock_guard lock(mutex);
        decoded << QFileInfo(static_cast<QFile &>(file).fileName()).fileName();
        return decodeImageDevice(file, admit);
    };
    FakeHost host;
    host.paths = {frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30))};
    QVERIFY(LoadImageFile(*host.Picture1, meanwhile == "other" ? host.paths[1] : host.paths[0]));
    if (meanwhile == "renamed") {
        QVERIFY(QFile::remove(host.paths[0]));
        QVERIFY(QFile::rename(frame("d.bmp", red(200)), host.paths[0]));
    } else if (meanwhile == "written") {
        host.canvas().setPixel(0, 0, qRgb(255, 255, 255));
        host.canvasChanged();
    }
    DecodePool pool(1, 2);
    runMedian(host, {.memory = plenty, .pool = &pool, .decoder = recording});
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(median)));
    QCOMPARE(decoded.contains("a.bmp"), firstDecoded);
    QCOMPARE(host.log.mid(0, 3), (QStringList{"BeginWork", "Cap:Processing image: 1", "events"}));
}

// Aligning costs several decodes: done at the run's turn, it would take a core from the workers
// while they wait at their limit of frames in flight for the run to take theirs.
void DecodeAheadTest::alignedFramesStayOnWorkers()
{
    GatedDecoder gate;
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, red(0)));
    for (const char *name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"})
        host.paths << frame(name, red(10));
    DecodePool pool(1, 2);
    stackList(host, {}, QStringLiteral("Median of Aligned Frames"), Framing::Aligned,
              {.memory = plenty, .pool = &pool, .decoder = gate.decoder()});
    QCOMPARE(gate.atTurn, QStringList());
}

QTEST_MAIN(DecodeAheadTest)
#include "tst_decodeahead.moc"
