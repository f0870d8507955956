// Decode-ahead within a stack run: a decode held at a latch is in flight while the list changes,
// the file is replaced or the run stops, so no case depends on timing.
#include "engine/decode/imageloader.h"
#include "engine/stack/runstack.h"
#include "support/images.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <latch>
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

// A stack of 3 x 3 over `paths` as they stand at each frame's turn; a frame that gives no
// picture is left out.
StackResult stackPaths(const QStringList &paths, DecodePool &pool, const FrameDecoder &decoder, StackEvents events = {},
                       std::optional<Alignment> alignment = std::nullopt)
{
    StackPlan plan{.area = QSize(3, 3), .alignment = std::move(alignment)};
    for (const QString &path : paths)
        plan.frames.push_back({path, {}});
    events.pathAtTurn = [&paths](int index) { return std::optional(paths[index]); };
    const auto choose = std::move(events.frameTaken);
    events.frameTaken = [&choose](FrameTaken &frame) {
        if (choose && choose(frame).kind == FrameChoice::Kind::Stop)
            return FrameChoice{FrameChoice::Kind::Stop, {}};
        if (!frame.picture)
            return FrameChoice{FrameChoice::Kind::LeaveOut, {}};
        return FrameChoice{FrameChoice::Kind::Stack, std::move(*frame.picture)};
    };
    return runStack(std::move(plan), events, {.memory = plenty, .pool = &pool, .decoder = decoder});
}

} // namespace

class ReadAheadTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void listChangedWhileDecoding();
    void fileReplacedWhileDecoding_data();
    void fileReplacedWhileDecoding();
    void stopWhileDecodingThenNewRun();
    void readAheadOnlyWithinRoom_data();
    void readAheadOnlyWithinRoom();
    void alignedFramesStayOnWorkers();

private:
    QString frame(const QString &name, QRgb color, int side = 3);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void ReadAheadTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

QString ReadAheadTest::frame(const QString &name, QRgb color, int side)
{
    return writePicture(filledPicture(side, side, color), m_dir->path(), name);
}

void ReadAheadTest::listChangedWhileDecoding()
{
    GatedDecoder gate(QStringLiteral("b.bmp"));
    DecodePool pool(1, 2);
    QStringList paths{frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30))};
    const QString other = frame("d.bmp", red(200));
    StackEvents events;
    events.frameDone = [&](int index) {
        if (index == 0) { // while b decodes: entry 1 now names d
            gate.entered.wait();
            paths[1] = other;
        }
    };
    // The run must not wait for b, which stays held until it has ended.
    const StackResult result = stackPaths(paths, pool, gate.decoder(), events);
    gate.release.count_down();
    QCOMPARE(result.picture, filledPicture(3, 3, red(30)));
    QVERIFY(gate.atTurn.contains("d.bmp"));
    QVERIFY(!gate.atTurn.contains("b.bmp"));
}

void ReadAheadTest::fileReplacedWhileDecoding_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("another file renamed over it") << false;
    QTest::newRow("rewritten in place") << true;
}

void ReadAheadTest::fileReplacedWhileDecoding()
{
    QFETCH(bool, inPlace);
    GatedDecoder gate(QStringLiteral("b.bmp"));
    DecodePool pool(1, 2);
    const QStringList paths{frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30))};
    StackEvents events;
    events.frameDone = [&](int index) {
        if (index != 0)
            return;
        gate.entered.wait();
        // A larger picture, so the size differs whatever the clock's resolution.
        const QString replacement = frame("new.bmp", red(200), 4);
        if (inPlace) {
            QFile source(replacement);
            QFile target(paths[1]);
            QVERIFY(source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate));
            target.write(source.readAll());
        } else {
            QVERIFY(QFile::remove(paths[1]) && QFile::rename(replacement, paths[1]));
        }
        // The old content finishes decoding; its frame must not be used.
        gate.release.count_down();
    };
    const StackResult result = stackPaths(paths, pool, gate.decoder(), events);
    QVERIFY(gate.heldDecoded);
    QVERIFY(gate.atTurn.contains("b.bmp"));
    QCOMPARE(result.picture, filledPicture(3, 3, red(30)));
}

void ReadAheadTest::stopWhileDecodingThenNewRun()
{
    GatedDecoder gate(QStringLiteral("c.bmp"));
    std::optional<DecodePool> pool(std::in_place, 1, 2);
    const QStringList paths{frame("a.bmp", red(10)), frame("b.bmp", red(20)), frame("c.bmp", red(30)),
                            frame("d.bmp", red(40))};
    StackEvents events;
    events.frameTaken = [&](const FrameTaken &taken) {
        if (taken.index != 1)
            return FrameChoice{};
        gate.entered.wait(); // c decodes
        return FrameChoice{FrameChoice::Kind::Stop, {}};
    };
    QCOMPARE(int(stackPaths(paths, *pool, gate.decoder(), events).kind), int(StackResult::Kind::Stopped));

    // The only worker is still held by the stopped run: a new run decodes at each turn itself.
    gate.atTurn.clear();
    const StackResult next = stackPaths({frame("e.bmp", red(50)), frame("f.bmp", red(60))}, *pool, gate.decoder());
    QCOMPARE(next.picture, filledPicture(3, 3, red(55)));
    QCOMPARE(gate.atTurn, (QStringList{"e.bmp", "f.bmp"}));

    // Its reads fail once released: the old run's file is never decoded, let alone used.
    gate.release.count_down();
    pool.reset();
    QVERIFY(!gate.heldDecoded);
}

void ReadAheadTest::readAheadOnlyWithinRoom_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("atTurn");
    // The memory check counts 12 bytes a pixel of the stacked area for decoding: 3 x 3 gives
    // 108 bytes, room for a 1 x 1 frame (4 bytes) and a 5 x 5 one (100) but not a 6 x 6 one (144).
    QTest::newRow("fits: read ahead") << 5 << false;
    QTest::newRow("too large: decoded at its turn") << 6 << true;
}

void ReadAheadTest::readAheadOnlyWithinRoom()
{
    QFETCH(int, side);
    QFETCH(bool, atTurn);
    GatedDecoder gate(QStringLiteral("b.bmp"));
    gate.release.count_down();
    DecodePool pool(1, 3);
    const QStringList paths{frame("a.bmp", red(10), 1), frame("b.bmp", red(20), side)};
    StackEvents events;
    events.frameDone = [&](int index) {
        if (index == 0) // b's turn comes only once a worker has decoded or refused it
            gate.finished.wait();
    };
    stackPaths(paths, pool, gate.decoder(), events);
    QCOMPARE(gate.atTurn.contains("b.bmp"), atTurn);
    QCOMPARE(gate.heldDecoded.load(), !atTurn);
}

// Aligning costs several decodes: done at the run's turn, it would take a core from the workers
// while they wait at their limit of frames in flight for the run to take theirs.
void ReadAheadTest::alignedFramesStayOnWorkers()
{
    GatedDecoder gate;
    QStringList paths;
    for (const char *name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"})
        paths << frame(name, red(10));
    DecodePool pool(1, 2);
    stackPaths(paths, pool, gate.decoder(), {}, Alignment{filledPicture(3, 3, red(0))});
    QCOMPARE(gate.atTurn, QStringList());
}

QTEST_MAIN(ReadAheadTest)
#include "tst_readahead.moc"
