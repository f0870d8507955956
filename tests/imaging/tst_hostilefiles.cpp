#include "engine/decode/decodelimits.h"
#include "engine/decode/imageloader.h"
#include "imaging/picturebox.h"
#include "imaging/surface.h"
#include "support/childload.h"
#include "support/externaltools.h"
#include "support/images.h"
#include "support/rgbhash.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

// Files that lie about their size, bombs, and files that change between being listed and being
// loaded. Anything that could hang is loaded in a child process with a time bound.
namespace {

enum class Expect { Refused, Loaded, Either };

void appendLe(QByteArray &bytes, quint32 value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes.append(char((value >> (8 * i)) & 0xffu));
}

void appendBe32(QByteArray &bytes, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xffu));
}

QByteArray bmpClaiming(quint32 width, quint32 height)
{
    QByteArray bytes("BM");
    appendLe(bytes, 54 + 4096, 4);
    appendLe(bytes, 0, 4);
    appendLe(bytes, 54, 4);
    appendLe(bytes, 40, 4);
    appendLe(bytes, width, 4);
    appendLe(bytes, height, 4);
    appendLe(bytes, 1, 2);  // planes
    appendLe(bytes, 24, 2); // bits per pixel
    bytes.append(24, '\0'); // BI_RGB, image size, resolution, palette counts
    bytes.append(4096, '\x7f');
    return bytes;
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendPngChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    appendBe32(png, quint32(data.size()));
    const QByteArray typed = QByteArray(type) + data;
    png += typed;
    appendBe32(png, crc32(typed));
}

QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBe32(header, width);
    appendBe32(header, height);
    header.append("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, not interlaced
    appendPngChunk(png, "IHDR", header);
    appendPngChunk(png, "IEND", {});
    return png;
}

// GIF LZW codes (minimum code size 2) for `count` pixels of palette index 0. A constant run
// always extends the longest table entry, so each code covers one pixel more than the last:
// about 8 million pixels per 6 KB between table resets.
QByteArray lzwZeros(qint64 count)
{
    constexpr int clear = 4;
    constexpr int first = 6;
    QByteArray packed;
    quint32 pending = 0;
    int pendingBits = 0;
    int width = 3;
    const auto put = [&](int code) {
        pending |= quint32(code) << pendingBits;
        for (pendingBits += width; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
            packed.append(char(pending & 0xffu));
    };
    int next = first;
    qint64 longest = 1;
    put(clear);
    while (count > 0) {
        const qint64 run = std::min(longest, count);
        put(run == 1 ? 0 : first + int(run) - 2);
        count -= run;
        if (count == 0)
            break;
        if (next == 4096) {
            put(clear);
            width = 3;
            next = first;
            longest = 1;
            continue;
        }
        ++next;
        longest = run + 1;
        // The decoder adds its entry one code later, so it widens one code later too.
        if (next > (1 << width) && width < 12)
            ++width;
    }
    put(clear + 1);
    if (pendingBits > 0)
        packed.append(char(pending & 0xffu));
    return packed;
}

// One frame of palette index 0 (colour 200, 40, 90), LZW data for `encoded` pixels of it.
QByteArray gifOf(quint32 screenWidth, quint32 screenHeight, quint32 frameWidth, quint32 frameHeight, qint64 encoded)
{
    QByteArray gif("GIF89a");
    appendLe(gif, screenWidth, 2);
    appendLe(gif, screenHeight, 2);
    gif.append("\x81\x00\x00", 3); // global palette of 4 colours
    gif.append("\xc8\x28\x5a\x00\x00\x00\xff\xff\xff\x80\x80\x80", 12);
    gif.append(',');
    appendLe(gif, 0, 4);
    appendLe(gif, frameWidth, 2);
    appendLe(gif, frameHeight, 2);
    gif.append('\0');
    gif.append('\x02');
    const QByteArray codes = lzwZeros(encoded);
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        gif.append(char(block.size()));
        gif += block;
    }
    gif.append('\0');
    gif.append(';');
    return gif;
}

// A real 64x48 baseline JPEG whose frame header is rewritten to claim another size; libjpeg
// fills everything past the real data with grey.
QByteArray jpegClaiming(quint16 width, quint16 height)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    randomPicture(64, 48, 11).save(&buffer, "jpg", 75);
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (sof < 0)
        return {};
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xffu);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xffu);
    return jpeg;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray noise(qsizetype count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(count, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random() & 0xffu);
    return bytes;
}

// A real HEIC of the picture, as heif-enc writes it: a grid of one 64x64 tile cropped to size.
QByteArray heicOf(const QImage &picture)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.png"));
    const QString heic = dir.filePath(QStringLiteral("picture.heic"));
    if (!picture.save(source)
        || !runTool(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("50"), QStringLiteral("-o"), heic, source})
                .isEmpty())
        return {};
    return contentsOf(heic);
}

quint32 be32At(const QByteArray &bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16 | quint32(quint8(bytes[at + 2])) << 8
           | quint8(bytes[at + 3]);
}

// Each 'ispe' property (an item's coded size) that says `from` says `to` instead.
QByteArray heicClaiming(QByteArray heic, QSize from, QSize to)
{
    for (qsizetype at = heic.indexOf("ispe"); at >= 0; at = heic.indexOf("ispe", at + 4)) {
        // type, version and flags, width, height
        if (at + 16 > heic.size() || be32At(heic, at + 8) != quint32(from.width()) || be32At(heic, at + 12) != quint32(from.height()))
            continue;
        QByteArray size;
        appendBe32(size, quint32(to.width()));
        appendBe32(size, quint32(to.height()));
        heic.replace(at + 8, 8, size);
    }
    return heic;
}

// The boxes that describe the picture kept, the coded picture replaced by noise.
QByteArray heicWithNoisePicture(QByteArray heic)
{
    const qsizetype data = heic.indexOf("mdat") + 4;
    return data < 4 ? QByteArray() : heic.replace(data, heic.size() - data, noise(heic.size() - data, 23));
}

// A 12-bit RGGB CFA DNG as tests/support/write_tiff.py writes it: header, first directory,
// the values it points at, then one strip of samples.
QByteArray dngOf(QSize size)
{
    QTemporaryDir dir;
    QByteArray mosaic;
    std::mt19937 random(29);
    for (int i = 0; i < size.width() * size.height(); ++i)
        appendLe(mosaic, quint32(64 + random() % 4032), 2);
    const QString dng = dir.filePath(QStringLiteral("sensor.dng"));
    return writeTiff(QStringLiteral("dng"), size, mosaic, dng).isEmpty() ? contentsOf(dng) : QByteArray();
}

quint32 leAt(const QByteArray &bytes, qsizetype at, int count)
{
    quint32 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

// The little-endian TIFF's first directory: where its entries start, and how many.
std::pair<qsizetype, int> firstDirectory(const QByteArray &tiff)
{
    const qsizetype at = leAt(tiff, 4, 4);
    return {at + 2, int(leAt(tiff, at, 2))};
}

// The first directory's entry for `tag` made one LONG of `value`.
QByteArray withTiffTag(QByteArray tiff, quint16 tag, quint32 value)
{
    const auto [entries, count] = firstDirectory(tiff);
    for (int i = 0; i < count; ++i) {
        const qsizetype at = entries + 12 * i;
        if (leAt(tiff, at, 2) != tag)
            continue;
        QByteArray entry;
        appendLe(entry, tag, 2);
        appendLe(entry, 4, 2); // LONG
        appendLe(entry, 1, 4);
        appendLe(entry, value, 4);
        return tiff.replace(at, 12, entry);
    }
    return {};
}

// The header and the first directory kept; what its entries point at and the samples are noise.
QByteArray dngWithNoiseAfterDirectory(QByteArray dng)
{
    const auto [entries, count] = firstDirectory(dng);
    const qsizetype end = entries + 12 * count + 4;
    return dng.replace(end, dng.size() - end, noise(dng.size() - end, 31));
}

QByteArray filledSha256(int width, int height, QRgb color)
{
    QByteArray row;
    for (int x = 0; x < width; ++x)
        row.append(char(qRed(color))).append(char(qGreen(color))).append(char(qBlue(color)));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < height; ++y)
        hash.addData(row);
    return hash.result().toHex();
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

QString describe(const ChildLoad &load)
{
    switch (load.outcome) {
    case ChildLoad::Outcome::Loaded:
        return QStringLiteral("loaded %1x%2").arg(load.size.width()).arg(load.size.height());
    case ChildLoad::Outcome::Refused:
        return QStringLiteral("refused: ") + load.reason;
    default:
        return load.detail;
    }
}

} // namespace

Q_DECLARE_METATYPE(Expect)

class TestHostileFiles : public QObject {
    Q_OBJECT

    enum Change { Delete, Directory, Fifo, LinkToZero, LinkToRandom, Unreadable, TruncateEmpty,
                  TruncateHalf, Replace, LinkToPicture };

private slots:
    void hostileSizes_data();
    void hostileSizes();
    void changedAfterListing_data();
    void changedAfterListing();
    void failedLoadKeepsPicture_data();
    void failedLoadKeepsPicture();
};

void TestHostileFiles::hostileSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<QSize>("size");          // when it loads
    QTest::addColumn<QByteArray>("sha256");   // when it must load
    QTest::addColumn<QString>("reason");      // when refused, if it must be this one

    const QSize none;
    const QString anyReason;
    QTest::newRow("bmp header claims 65535x65535")
        << "huge.bmp" << bmpClaiming(65535, 65535) << Expect::Refused << none << QByteArray() << anyReason;
    QTest::newRow("png header claims 65535x65535")
        << "huge.png" << pngClaiming(65535, 65535) << Expect::Refused << none << QByteArray() << anyReason;
    QTest::newRow("gif screen and frame claim 65535x65535")
        << "huge.gif" << gifOf(65535, 65535, 65535, 65535, 100'000) << Expect::Refused << none << QByteArray() << anyReason;
    QTest::newRow("jpeg frame claims 65500x65500")
        << "huge.jpg" << jpegClaiming(65500, 65500) << Expect::Refused << none << QByteArray() << anyReason;
    // 1024 million bytes as RGB32 passes the allocation limit: only the pixel budget stops these.
    QTest::newRow("jpeg claims 16000x16000, over the pixel budget")
        << "budget.jpg" << jpegClaiming(16000, 16000) << Expect::Refused << none << QByteArray() << anyReason;
    QTest::newRow("gif bomb of 16000x16000 pixels, over the pixel budget")
        << "bomb.gif" << gifOf(16000, 16000, 16000, 16000, 16000LL * 16000) << Expect::Refused << none << QByteArray()
        << anyReason;
    // Qt announces the frame's size but decodes onto the whole screen.
    QTest::newRow("gif screen 8000x6000 around a 1x1 frame")
        << "screen.gif" << gifOf(8000, 6000, 1, 1, 1) << Expect::Either << QSize(8000, 6000) << QByteArray() << anyReason;
    QTest::newRow("jpeg claims 100 megapixels with a few KB of data")
        << "grey.jpg" << jpegClaiming(10000, 10000) << Expect::Either << QSize(10000, 10000) << QByteArray() << anyReason;
    QTest::newRow("gif bomb of 4096x4096 pixels, within the limits")
        << "bomb.gif" << gifOf(4096, 4096, 4096, 4096, 4096LL * 4096) << Expect::Loaded << QSize(4096, 4096)
        << filledSha256(4096, 4096, qRgb(200, 40, 90)) << anyReason;

    // The decoders behind libheif and LibRaw, which read what their own headers say.
    const QImage picture = randomPicture(37, 23, 13);
    const QByteArray heic = heicOf(picture);
    const QSize sensor(32, 24);
    const QByteArray dng = dngOf(sensor);
    QTest::newRow("heic, empty") << "empty.heic" << QByteArray() << Expect::Refused << none << QByteArray() << Undecodable;
    QTest::newRow("heic cut inside its boxes") << "half.heic" << heic.left(heic.size() / 2) << Expect::Refused << none
                                               << QByteArray() << Undecodable;
    QTest::newRow("heic cut inside its coded picture") << "cut.heic" << heic.left(heic.size() - 64) << Expect::Refused
                                                       << none << QByteArray() << Undecodable;
    QTest::newRow("heic claims 20000x20000, over the pixel budget")
        << "huge.heic" << heicClaiming(heic, picture.size(), QSize(20000, 20000)) << Expect::Refused << none
        << QByteArray() << TooLarge;
    // Beyond libheif's own limits, which it reports as a memory error.
    QTest::newRow("heic claims 65535x65535") << "huge.heic" << heicClaiming(heic, picture.size(), QSize(65535, 65535))
                                             << Expect::Refused << none << QByteArray() << TooLarge;
    QTest::newRow("heic whose coded picture is noise") << "noise.heic" << heicWithNoisePicture(heic) << Expect::Either
                                                       << picture.size() << QByteArray() << Undecodable;
    QTest::newRow("dng, empty") << "empty.dng" << QByteArray() << Expect::Refused << none << QByteArray() << Undecodable;
    // Samples missing from the file must not be made up.
    QTest::newRow("dng cut to half") << "half.dng" << dng.left(dng.size() / 2) << Expect::Refused << none
                                     << QByteArray() << Undecodable;
    QTest::newRow("dng claims 20000x20000, over the pixel budget")
        << "huge.dng" << withTiffTag(withTiffTag(dng, 256, 20000), 257, 20000) << Expect::Refused << none
        << QByteArray() << TooLarge;
    QTest::newRow("dng, noise after its directory") << "noise.dng" << dngWithNoiseAfterDirectory(dng) << Expect::Either
                                                    << sensor << QByteArray() << Undecodable;
    QTest::newRow("dng strip starts past the end") << "strip.dng" << withTiffTag(dng, 273, quint32(dng.size()) + 4096)
                                                   << Expect::Refused << none << QByteArray() << Undecodable;
    // Grids, overlays and derived images whose canvas or tiles dwarf what their 'ispe' says.
    const QDir corpus(QStringLiteral(OMBRELUX_FUZZ_CORPUS));
    for (const QString &bomb : corpus.entryList({QStringLiteral("loader-heic-bomb-*")})) {
        QFile file(corpus.filePath(bomb));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::addRow("heic bomb: %s", qPrintable(bomb.mid(17)))
            << "bomb.heic" << file.readAll().mid(1) << Expect::Refused << none << QByteArray() << TooLarge;
    }
    // Within the budget, but its one 64x64 tile cannot fill the canvas: libheif took 2.6 GB.
    QFile uncovered(corpus.filePath(QStringLiteral("loader-heic-grid-15000x15000-of-one-tile")));
    QVERIFY(uncovered.open(QIODevice::ReadOnly));
    QTest::newRow("heic grid 15000x15000 of one 64x64 tile")
        << "bomb.heic" << uncovered.readAll().mid(1) << Expect::Refused << none << QByteArray() << Undecodable;
}

// Each either loads within the loader's limits or is refused, within the child's time bound.
void TestHostileFiles::hostileSizes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(Expect, expect);
    QFETCH(QSize, size);
    QFETCH(QByteArray, sha256);
    QFETCH(QString, reason);
    QVERIFY(!contents.isEmpty() || name.startsWith(QLatin1String("empty.")));
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(name), contents);
    QVERIFY(!path.isEmpty());

    // A bound for a hang, not a timing check: decoding 100 megapixels takes seconds.
    const ChildLoad load = loadInChild(path, 30'000, sha256.isEmpty() ? ChildLoad::Pixels::NotHashed
                                                                      : ChildLoad::Pixels::Hashed);
    QVERIFY2(load.outcome == ChildLoad::Outcome::Loaded || load.outcome == ChildLoad::Outcome::Refused,
             qPrintable(load.detail));
    if (expect == Expect::Refused)
        QVERIFY2(load.outcome == ChildLoad::Outcome::Refused, qPrintable(describe(load)));
    if (load.outcome == ChildLoad::Outcome::Refused) {
        // Refused before the pixels: each claim would take a gigabyte or more to decode, and a
        // HEIF bomb is refused from its boxes alone (the probe itself takes about 20 MB, 53 MB
        // under AddressSanitizer).
        const qint64 boundKb = (name == QLatin1String("bomb.heic") ? 64 : 256) * 1024;
        QVERIFY2(load.peakRssKb < boundKb, qPrintable(QStringLiteral("peak %1 KB").arg(load.peakRssKb)));
        if (!reason.isEmpty())
            QCOMPARE(load.reason, reason);
    }
    if (expect == Expect::Loaded)
        QVERIFY2(load.outcome == ChildLoad::Outcome::Loaded, qPrintable(load.detail));
    if (load.outcome == ChildLoad::Outcome::Loaded) {
        QCOMPARE(load.size, size);
        QVERIFY(qint64(load.size.width()) * load.size.height() <= MaxPicturePixels);
        if (!sha256.isEmpty())
            QCOMPARE(load.sha256, sha256);
    }
}

void TestHostileFiles::changedAfterListing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("change");
    QTest::addColumn<Expect>("expect");

    QTest::newRow("deleted") << "gone.bmp" << int(Delete) << Expect::Refused;
    QTest::newRow("replaced by a directory") << "a.jpg" << int(Directory) << Expect::Refused;
    QTest::newRow("replaced by a named pipe") << "x.bmp" << int(Fifo) << Expect::Refused;
    QTest::newRow("replaced by a link to /dev/zero") << "z.bmp" << int(LinkToZero) << Expect::Refused;
    QTest::newRow("replaced by a link to /dev/urandom") << "r.jpg" << int(LinkToRandom) << Expect::Refused;
    QTest::newRow("made unreadable") << "unreadable.bmp" << int(Unreadable) << Expect::Refused;
    QTest::newRow("truncated to nothing") << "empty.jpg" << int(TruncateEmpty) << Expect::Refused;
    QTest::newRow("jpeg truncated to half") << "half.jpg" << int(TruncateHalf) << Expect::Either;
    // The rows that the file still holds, and black where stale memory could show through.
    QTest::newRow("bmp truncated to half") << "half.bmp" << int(TruncateHalf) << Expect::Loaded;
    QTest::newRow("replaced by another picture") << "other.bmp" << int(Replace) << Expect::Loaded;
    QTest::newRow("replaced by a link to a picture") << "linked.bmp" << int(LinkToPicture) << Expect::Loaded;
}

// The file loaded when it was listed; then it changes, and the next load must not hang or crash.
void TestHostileFiles::changedAfterListing()
{
    QFETCH(QString, name);
    QFETCH(int, change);
    QFETCH(Expect, expect);
    if (change == Unreadable && ::geteuid() == 0)
        QSKIP("running as root, which reads a file whatever its permissions");

    QTemporaryDir dir;
    const bool bmp = name.endsWith(QLatin1String(".bmp"));
    const QImage original = randomPicture(33, 20, 5); // odd width: BMP rows carry padding
    const QString path = writePicture(original, dir.path(), name, bmp ? "bmp" : "jpg");
    QVERIFY(decodeImageFile(path));

    QImage wanted = original;
    QFile file(path);
    switch (change) {
    case Delete:
        QVERIFY(file.remove());
        break;
    case Directory:
        QVERIFY(file.remove());
        QVERIFY(QDir().mkdir(path));
        break;
    case Fifo:
        QVERIFY(file.remove());
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        break;
    case LinkToZero:
    case LinkToRandom:
        QVERIFY(file.remove());
        QVERIFY(QFile::link(change == LinkToZero ? QStringLiteral("/dev/zero") : QStringLiteral("/dev/urandom"), path));
        break;
    case Unreadable:
        QVERIFY(file.setPermissions({}));
        break;
    case TruncateEmpty:
        QVERIFY(file.resize(0));
        break;
    case TruncateHalf: {
        const qint64 half = file.size() / 2;
        QVERIFY(file.resize(half));
        if (bmp) {
            // Bottom-up rows after a 54-byte header: only whole rows that remain decode.
            const qint64 rowBytes = (qint64(original.width()) * 3 + 3) / 4 * 4;
            const int kept = int((half - 54) / rowBytes);
            for (int y = 0; y < original.height() - kept; ++y)
                std::fill_n(reinterpret_cast<QRgb *>(wanted.scanLine(y)), wanted.width(), qRgb(0, 0, 0));
        }
        break;
    }
    case Replace:
        wanted = randomPicture(17, 29, 6);
        QVERIFY(file.remove());
        QCOMPARE(writePicture(wanted, dir.path(), name), path);
        break;
    case LinkToPicture:
        QVERIFY(file.rename(dir.filePath(QStringLiteral("real.bmp"))));
        QVERIFY(QFile::link(file.fileName(), path));
        break;
    }

    const ChildLoad load = loadInChild(path);
    QVERIFY2(load.outcome == ChildLoad::Outcome::Loaded || load.outcome == ChildLoad::Outcome::Refused,
             qPrintable(load.detail));
    if (expect == Expect::Refused)
        QVERIFY2(load.outcome == ChildLoad::Outcome::Refused, qPrintable(describe(load)));
    if (expect == Expect::Loaded) {
        QVERIFY2(load.outcome == ChildLoad::Outcome::Loaded, qPrintable(load.detail));
        QCOMPARE(load.size, wanted.size());
        QCOMPARE(load.sha256, rgbSha256(wanted));
    }
    if (load.outcome == ChildLoad::Outcome::Loaded)
        QCOMPARE(load.size, wanted.size());
}

void TestHostileFiles::failedLoadKeepsPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");

    QTest::newRow("bmp header claims 65535x65535") << "huge.bmp" << bmpClaiming(65535, 65535);
    QTest::newRow("png header claims 65535x65535") << "huge.png" << pngClaiming(65535, 65535);
    QTest::newRow("jpeg over the pixel budget") << "budget.jpg" << jpegClaiming(16000, 16000);
    QTest::newRow("gif screen and frame claim 65535x65535")
        << "huge.gif" << gifOf(65535, 65535, 65535, 65535, 1000);
    QTest::newRow("png cut after its header") << "cut.png" << pngClaiming(40, 30).left(33);
    QTest::newRow("gif header only") << "cut.gif" << gifOf(8, 8, 8, 8, 64).left(13);
}

// A refused file leaves the box as it was: picture, size, place and an earlier pixel write.
void TestHostileFiles::failedLoadKeepsPicture()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(name), contents);
    QVERIFY(!path.isEmpty());

    PictureBox box(QSize(40, 30), nullptr);
    QVERIFY(LoadImageFile(box, writePicture(randomPicture(7, 5, 3), dir.path(), QStringLiteral("good.bmp"))));
    const UnitsPerPixel units;
    const PixelColor written = ComposeColor(10, 20, 30);
    WritePixel(box.surface(), units, 2 * units.x, 3 * units.y, written);
    box.surfaceChanged();
    const QImage before = box.surface().copy();
    const QRect geometry = box.geometry();

    QVERIFY(!LoadImageFile(box, path));
    QVERIFY(box.hasPicture());
    QCOMPARE(box.geometry(), geometry);
    QCOMPARE(box.surface(), before);
    QCOMPARE(ReadPixel(box.surface(), units, 2 * units.x, 3 * units.y), written);
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
