// The window's first entry: its canvas stands in for the first frame while it shows that file
// untouched, so the run need not decode it again.
#include "engine/decode/decode.h"
#include "imaging/picturebox.h"
#include "ops/median.h"
#include "support/images.h"
#include "support/window/fakes.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

class DecodeAheadTest : public QObject {
    Q_OBJECT
private slots:
    void firstEntryOnCanvas_data();
    void firstEntryOnCanvas();
};

namespace {

QRgb red(int value)
{
    return qRgb(value, 0, 0);
}

} // namespace

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
    const QTemporaryDir folder;
    const auto frame = [&](const char *name, QRgb color) {
        return writePicture(filledPicture(3, 3, color), folder.path(), name);
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
    runMedian(host, {.memory = [] { return std::optional<std::uint64_t>(); }, .pool = &pool, .decoder = recording});
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, red(median)));
    QCOMPARE(decoded.contains("a.bmp"), firstDecoded);
    QCOMPARE(host.log.mid(0, 3), (QStringList{"BeginWork", "Cap:Processing image: 1", "events"}));
}

QTEST_MAIN(DecodeAheadTest)
#include "tst_decodeahead.moc"
