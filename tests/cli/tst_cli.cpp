#include "cli/framelist.h"
#include "engine/decode/imageloader.h"
#include "engine/stack/modetable.h"
#include "reference/stackmodes.h"
#include "reference/pointops.h"
#include "support/externaltools.h"
#include "support/images.h"
#include "support/scratchfolders.h"
#include "support/texturedscene.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QStorageInfo>
#include <QThread>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <utility>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The built tool in a child process, as a script runs it: no display, no platform plugin.
// With limits, under prlimit(1) with those options; with a cache, that is its XDG_CACHE_HOME.
struct ChildSetup {
    QByteArray input;
    QStringList limits;
    QString cache;
};

ToolRun runProgram(const QString &program, const QStringList &arguments, const QString &workingDir,
                   const ChildSetup &setup = {})
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!setup.cache.isEmpty())
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), setup.cache);
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workingDir);
    if (setup.limits.isEmpty())
        child.start(program, arguments);
    else
        child.start(QStringLiteral("prlimit"), setup.limits + QStringList{QStringLiteral("--"), program} + arguments);
    child.write(setup.input);
    child.closeWriteChannel();
    ToolRun outcome;
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit) {
        child.kill();
        child.waitForFinished();
        return outcome;
    }
    outcome.exitCode = child.exitCode();
    outcome.out = child.readAllStandardOutput();
    outcome.err = child.readAllStandardError();
    return outcome;
}

ToolRun runCli(const QStringList &arguments, const QString &workingDir, const ChildSetup &setup = {})
{
    return runProgram(QStringLiteral(OMBRELUX_CLI), arguments, workingDir, setup);
}

// QProcess would replace the bytes of an argument that is not UTF-8; the shell's printf hands
// them to the tool as they are.
ToolRun runCliWithBytes(const QList<QByteArray> &arguments, const QString &workingDir)
{
    QString script = QStringLiteral("exec \"$0\"");
    for (const QByteArray &argument : arguments) {
        QString octal;
        for (const char byte : argument)
            octal += QStringLiteral("\\%1").arg(uint(uchar(byte)), 3, 8, QLatin1Char('0'));
        script += QStringLiteral(" \"$(printf '%1')\"").arg(octal);
    }
    return runProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral(OMBRELUX_CLI)},
                      workingDir);
}

QStringList addressSpace(int mib)
{
    return {QStringLiteral("--as=%1").arg(qint64(mib) << 20)};
}

// The least address space, in MiB, in which the tool starts at all (its libraries map).
int startingAddressSpace(const QString &workingDir)
{
    int fails = 8;
    int starts = 4096;
    while (starts - fails > 1) {
        const int mib = (fails + starts) / 2;
        (runCli({"--version"}, workingDir, {.limits = addressSpace(mib)}).exitCode == 0 ? starts : fails) = mib;
    }
    return starts;
}

void appendLe(QByteArray &bytes, quint32 value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes.append(char((value >> (8 * i)) & 0xffu));
}

// A GIF of 4 palette colours, written without compression: a clear code after every second
// pixel keeps the code table from growing past 3-bit codes. Returns the picture it holds.
QImage writeGif(const QString &path, int width, int height, std::uint32_t seed)
{
    const std::array<QRgb, 4> palette{qRgb(200, 40, 90), qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(17, 130, 250)};
    QImage picture(width, height, QImage::Format_RGB32);
    QByteArray codes;
    quint32 pending = 0;
    int pendingBits = 0;
    const auto put = [&](quint32 code) {
        pending |= code << pendingBits;
        for (pendingBits += 3; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
            codes.append(char(pending & 0xffu));
    };
    constexpr quint32 clear = 4;
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0)
            put(clear);
        const quint32 index = (seed = seed * 1103515245u + 12345u) >> 30;
        picture.setPixel(i % width, i / width, palette[index]);
        put(index);
    }
    put(clear + 1);
    if (pendingBits > 0)
        codes.append(char(pending & 0xffu));

    QByteArray gif("GIF89a");
    appendLe(gif, quint32(width), 2);
    appendLe(gif, quint32(height), 2);
    gif.append("\x81\x00\x00", 3);
    for (const QRgb colour : palette)
        for (const int channel : {qRed(colour), qGreen(colour), qBlue(colour)})
            gif.append(char(channel));
    gif.append(',');
    appendLe(gif, 0, 4);
    appendLe(gif, quint32(width), 2);
    appendLe(gif, quint32(height), 2);
    gif.append('\0');
    gif.append('\x02');
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        gif.append(char(block.size()));
        gif += block;
    }
    gif.append("\0;", 2);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(gif) != gif.size())
        return {};
    return picture;
}

// A BMP header announcing 16384 x 16000 pixels (Qt's reader takes no side over 16384), then a
// few rows of them.
void writeHugeBmpHeader(const QString &path)
{
    QByteArray bmp("BM");
    appendLe(bmp, 54 + 4096, 4);
    appendLe(bmp, 0, 4);
    appendLe(bmp, 54, 4);
    for (const quint32 field : {40u, 16384u, 16000u})
        appendLe(bmp, field, 4);
    appendLe(bmp, 1, 2);
    appendLe(bmp, 24, 2);
    bmp.append(24, '\0');
    bmp.append(4096, '\x7f');
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bmp);
}

// Flips a bit of the CRC of the first chunk of this type.
QByteArray withBadCrc(QByteArray png, const QByteArray &type)
{
    const qsizetype at = png.indexOf(type);
    const auto length = qsizetype(qFromBigEndian<quint32>(png.constData() + at - 4));
    png[at + 4 + length] = char(png[at + 4 + length] ^ 1);
    return png;
}

// A PNG of this size with a tEXt chunk, whose CRC is bad when the chunk is named.
QByteArray pngWithText(QSize size, const QByteArray &badChunk = {})
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setText(QStringLiteral("Comment"), QStringLiteral("ombrelux"));
    writer.write(randomPicture(size.width(), size.height(), 61));
    return badChunk.isEmpty() ? png : withBadCrc(png, badChunk);
}

// A 2 x 2 RGB TIFF, uncompressed in one strip, with a private tag libtiff does not know.
// With `photometric` 32803 (a colour filter array), one libtiff refuses to read as RGB.
QByteArray tiffWithUnknownTag(quint32 photometric = 2)
{
    const std::array<std::array<quint32, 4>, 11> tags{{{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 3, 146},
        {259, 3, 1, 1}, {262, 3, 1, photometric}, {273, 4, 1, 152}, {277, 3, 1, 3}, {278, 3, 1, 2}, {279, 4, 1, 12},
        {284, 3, 1, 1}, {65000, 3, 1, 7}}};
    QByteArray tiff("II*\0", 4);
    appendLe(tiff, 8, 4);
    appendLe(tiff, quint32(tags.size()), 2);
    for (const auto &[tag, type, count, value] : tags) {
        appendLe(tiff, tag, 2);
        appendLe(tiff, type, 2);
        appendLe(tiff, count, 4);
        appendLe(tiff, value, 4);
    }
    appendLe(tiff, 0, 4);
    for (int i = 0; i < 3; ++i)
        appendLe(tiff, 8, 2);
    tiff.append(12, '\x40');
    return tiff;
}

// The first half of a 64 x 48 JPEG: libjpeg fills the rest with grey and warns.
QByteArray firstHalfOfJpeg(std::uint32_t seed)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(randomPicture(64, 48, seed));
    return jpeg.left(jpeg.size() / 2);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pixels alone: QImage's == also compares the colour space PNG output is tagged with.
QImage readResult(const QString &path)
{
    QImage result = QImage(path).convertToFormat(QImage::Format_RGB32);
    result.setColorSpace(QColorSpace());
    return result;
}

// Per pixel and channel over the first frame's area, a frame counting 0 where it does not reach.
// At the frames' depth: RGB32 or RGBX64.
QImage expectedStack(const std::vector<QImage> &frames, const StackOptions &options = {})
{
    QImage result(frames.front().size(), frames.front().format());
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            Samples channels{};
            for (std::size_t c = 0; c < 3; ++c) {
                std::vector<int> samples;
                for (const QImage &frame : frames)
                    samples.push_back(frame.valid(x, y) ? samplesAt(frame, x, y)[c] : 0);
                channels[c] = referenceStack(options, samples);
            }
            setSamples(result, x, y, channels);
        }
    return result;
}

// Each sample of the picture, or of it and a second one, through `operation`.
template <typename Operation>
QImage pointwise(const QImage &picture, const QImage &second, Operation operation)
{
    QImage result = picture.copy();
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            Samples samples = samplesAt(picture, x, y);
            for (std::size_t c = 0; c < 3; ++c)
                samples[c] = operation(samples[c], second.valid(x, y) ? samplesAt(second, x, y)[c] : 0);
            setSamples(result, x, y, samples);
        }
    return result;
}

// The mode a command line names: `stack --mode WORD`, or `median`.
StackMode modeOf(const QStringList &command)
{
    const QString word = command.value(command.indexOf(QStringLiteral("--mode")) + 1, QStringLiteral("median"));
    return std::ranges::find(stackModes(), word, &ModeEntry::word)->mode;
}

// A seeded picture of 16-bit samples over the whole range.
QImage deepPicture(QSize size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    QImage picture(size, QImage::Format_RGBX64);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            setSamples(picture, x, y, {int(random() % 65536), int(random() % 65536), int(random() % 65536)});
    return picture;
}

// The window's brightening pass by pass, until a pass changes nothing.
QImage referenceBrightened(QImage picture, int passes)
{
    const UnitsPerPixel units;
    for (int pass = 0; pass < passes; ++pass) {
        const QImage before = picture;
        referenceBrighten(picture, units, scaleWidth(picture, units), scaleHeight(picture, units));
        if (picture == before)
            break;
    }
    return picture;
}

// How the first frame was taken, as `exiv2 -Pkv` prints it back.
constexpr std::array<std::pair<const char *, const char *>, 7> CaptureTags{{
    {"Exif.Image.Make", "Lumen Optics"},
    {"Exif.Image.Model", "Test Camera"},
    {"Exif.Photo.LensModel", "35mm F1.4"},
    {"Exif.Photo.DateTimeOriginal", "2026:12:09 05:17:35"},
    {"Exif.Photo.ExposureTime", "1/250"},
    {"Exif.Photo.FNumber", "28/10"},
    {"Exif.Photo.ISOSpeedRatings", "400"},
}};

// The EXIF keys exiv2 reads in a file, with their values; none where it reads nothing.
QMap<QString, QString> exifOf(const QString &path)
{
    QByteArray printed;
    runTool(QStringLiteral("exiv2"), {QStringLiteral("-q"), QStringLiteral("-Pkv"), path}, &printed);
    QMap<QString, QString> tags;
    for (const QByteArray &line : printed.split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype gap = text.indexOf(u' ');
        if (gap > 0)
            tags.insert(text.left(gap), text.mid(gap).trimmed());
    }
    return tags;
}

// The JPEG's EXIF segment cut inside its first directory, its length field saying so: the
// picture still decodes; of the metadata only the first entry is whole, without its value.
QByteArray withTruncatedExif(QByteArray jpeg)
{
    const qsizetype at = jpeg.indexOf(QByteArray("\xff\xe1", 2));
    if (at < 0)
        return {};
    const int length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
    // The length field, "Exif\0\0", the TIFF header, the entry count, one entry and part of the next.
    constexpr int kept = 2 + 6 + 8 + 2 + 12 + 10;
    jpeg.remove(at + 2 + kept, length - kept);
    jpeg[at + 2] = char(kept >> 8);
    jpeg[at + 3] = char(kept & 0xff);
    return jpeg;
}

// Mean absolute difference per channel over the area less a margin on every side.
double interiorError(const QImage &picture, const QImage &truth, int margin)
{
    double sum = 0;
    for (int y = margin; y < truth.height() - margin; ++y)
        for (int x = margin; x < truth.width() - margin; ++x)
            for (const int shift : {0, 8, 16})
                sum += std::abs(int((picture.pixel(x, y) >> shift) & 0xff) - int((truth.pixel(x, y) >> shift) & 0xff));
    return sum / (3.0 * (truth.width() - 2 * margin) * (truth.height() - 2 * margin));
}

bool everyLinePrefixed(const QByteArray &err)
{
    const QList<QByteArray> lines = err.trimmed().split('\n');
    return std::all_of(lines.begin(), lines.end(), [](const QByteArray &line) { return line.startsWith("ombrelux-cli: "); });
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void median_data();
    void median();
    void stackModes_data();
    void stackModes();
    void manyFramesFoldInBoundedMemory();
    void alignedBurst_data();
    void alignedBurst();
    void subtract_data();
    void subtract();
    void brighten_data();
    void brighten();
    void outputFormats_data();
    void outputFormats();
    void killedWhileWriting_data();
    void killedWhileWriting();
    void fullDisk_data();
    void fullDisk();
    void scratchDiskFails();
    void captureMetadata_data();
    void captureMetadata();
    void heicCaptureMetadata_data();
    void heicCaptureMetadata();
    void sixteenBits_data();
    void sixteenBits();
    void failures_data();
    void failures();
    void qtWarningsNameTheFile();
    void decoderMessages_data();
    void decoderMessages();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void memoryRunsOut_data();
    void memoryRunsOut();
    void helpAndVersion_data();
    void helpAndVersion();

private:
    QTemporaryDir m_dir;
};

void CliTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void CliTest::median_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<QString>("output");
    // The first frame sets the area; the others are smaller, larger or both.
    QTest::newRow("three frames, PNG out") << QStringList{"m1.png", "m2.bmp", "m3.bmp"}
                                           << QList<QSize>{{6, 4}, {4, 6}, {8, 3}} << "median.png";
    QTest::newRow("four frames with a GIF, BMP out")
        << QStringList{"n1.bmp", "n2.png", "n3.gif", "n4.bmp"} << QList<QSize>{{7, 5}, {9, 4}, {5, 6}, {7, 5}}
        << "median.bmp";
    QTest::newRow("two frames, output over the first") << QStringList{"o1.bmp", "o2.png"}
                                                       << QList<QSize>{{3, 2}, {3, 2}} << "o1.bmp";
    QTest::newRow("five frames on three threads, PNG out")
        << QStringList{"--threads", "3", "p1.png", "p2.bmp", "p3.bmp", "p4.bmp", "p5.bmp"}
        << QList<QSize>{{}, {}, {40, 30}, {31, 40}, {40, 30}, {40, 30}, {40, 30}} << "threads.png";
}

void CliTest::median()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QSize>, sizes);
    QFETCH(QString, output);
    std::vector<QImage> frames;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].startsWith(u'-') || sizes[i].isEmpty())
            continue; // an option and its value
        const QString path = m_dir.filePath(names[i]);
        const auto seed = std::uint32_t(i + 7 * names.size());
        if (names[i].endsWith(u".gif")) {
            frames.push_back(writeGif(path, sizes[i].width(), sizes[i].height(), seed));
        } else {
            frames.push_back(randomPicture(sizes[i].width(), sizes[i].height(), seed));
            QVERIFY(frames.back().save(path));
        }
    }
    const ToolRun run = runCli(QStringList{"median", "-o", output} + names, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(readResult(m_dir.filePath(output)), expectedStack(frames));
}

void CliTest::stackModes_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("kappa");
    QTest::addColumn<QString>("frames"); // "list", "stdin" or "arguments"
    QTest::newRow("median") << QStringList{"--mode", "median"} << int(StackMode::Median) << 250 << "arguments";
    QTest::newRow("mean from a list") << QStringList{"--mode", "mean"} << int(StackMode::Mean) << 250 << "list";
    QTest::newRow("sigma, kappa 1.5, from standard input") << QStringList{"--mode", "sigma", "--kappa", "1.5"}
                                                             << int(StackMode::SigmaClippedMean) << 150 << "stdin";
    QTest::newRow("min") << QStringList{"--mode", "min"} << int(StackMode::Minimum) << 250 << "arguments";
    QTest::newRow("max from a list") << QStringList{"--mode", "max"} << int(StackMode::Maximum) << 250 << "list";
}

void CliTest::stackModes()
{
    QFETCH(QStringList, options);
    QFETCH(int, mode);
    QFETCH(int, kappa);
    QFETCH(QString, frames);
    QTemporaryDir dir;
    std::vector<QImage> pictures;
    QStringList names;
    // Sizes mixed: black beyond a smaller frame, a larger one cropped.
    const QList<QSize> sizes{{7, 5}, {5, 6}, {9, 4}, {7, 5}, {7, 5}, {6, 5}, {8, 8}};
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        pictures.push_back(randomPicture(sizes[i].width(), sizes[i].height(), std::uint32_t(i + 90)));
        names << QStringLiteral("s%1.png").arg(i);
        QVERIFY(pictures.back().save(dir.filePath(names.back())));
    }
    // A list has blank lines and a CRLF ending; its paths are relative to the current folder.
    const QByteArray list = "\n" + names.join(u'\n').toUtf8() + "\r\n\n";
    writeFile(dir.filePath("frames.txt"), list);
    const QStringList given = frames == u"list"    ? QStringList{"@frames.txt"}
                              : frames == u"stdin" ? QStringList{"@-"}
                                                   : names;
    const ToolRun run = runCli(QStringList{"stack"} + options + QStringList{"-o", "out.png"} + given, dir.path(),
                               {.input = frames == u"stdin" ? list : QByteArray()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(readResult(dir.filePath("out.png")), expectedStack(pictures, {StackMode(mode), kappa}));
}

void CliTest::manyFramesFoldInBoundedMemory()
{
    // 400 frames of 0.5 MP: planes would take 600 MB, running values take the area alone.
    QTemporaryDir dir;
    QImage frame(1000, 500, QImage::Format_RGB32);
    frame.fill(qRgb(90, 120, 30));
    QVERIFY(frame.save(dir.filePath("frame.jpg"), "jpg", 90));
    writeFile(dir.filePath("frames.txt"), QByteArray("frame.jpg\n").repeated(400));
    const ToolRun run = runCli({"stack", "--mode", "max", "-o", "max.bmp", "@frames.txt"}, dir.path());
    QCOMPARE(run.exitCode, 0);
    // The largest child this test has waited for; the earlier ones held far less.
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    QVERIFY2(children.ru_maxrss < 200 * 1024, qPrintable(QStringLiteral("peak RSS %1 KiB").arg(children.ru_maxrss)));
}

void CliTest::alignedBurst_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("align");
    QTest::addColumn<bool>("flatFrame");
    QTest::newRow("median") << QStringList{"median"} << "--align" << false;
    QTest::newRow("mean") << QStringList{"stack", "--mode", "mean"} << "--align" << false;
    QTest::newRow("median, one homography a frame") << QStringList{"median"} << "--align=global" << false;
    QTest::newRow("median at 16 bits") << QStringList{"median", "--depth", "16"} << "--align" << false;
    QTest::newRow("a flat frame in the burst") << QStringList{"median"} << "--align" << true;
}

// A hand-held burst of one scene, its first frame the scene itself: aligned, the stack is the
// scene again; as shot, it is blurred. A frame that cannot be aligned ends the run unwritten.
void CliTest::alignedBurst()
{
    QFETCH(QStringList, command);
    QFETCH(QString, align);
    QFETCH(bool, flatFrame);
#if defined(__SANITIZE_THREAD__)
    if (command.contains(QStringLiteral("--depth")))
        QSKIP("Qt widens a picture this large to 16 bits on its own threads, which ThreadSanitizer cannot see into");
#endif
    const QSize size(480, 360);
    QTemporaryDir dir;
    QStringList names;
    const QImage scene = sceneFrame(size, Homography());
    const Homography moves[] = {Homography(), moved(size, 14.3, -9.6, 0.8), moved(size, -11.7, 12.2, -1.2),
                                moved(size, 8.5, 10.1, 0.4), moved(size, -13.2, -7.7, -0.6)};
    for (const Homography &toFrame : moves) {
        names << QStringLiteral("frame%1.png").arg(names.size());
        QVERIFY(sceneFrame(size, inverted(toFrame)).save(dir.filePath(names.back())));
    }
    if (flatFrame) {
        names.insert(2, QStringLiteral("flat.png"));
        QVERIFY(filledPicture(size.width(), size.height(), qRgb(90, 90, 90)).save(dir.filePath(names[2])));
    }
    const QStringList before = entriesOf(dir.path());
    const ToolRun aligned = runCli(command + QStringList{align, "--report", "report.json", "-o", "aligned.png"} + names, dir.path());
    // The report describes every frame, reached or not.
    const QJsonObject report = QJsonDocument::fromJson(contents(dir.filePath("report.json"))).object();
    const QJsonArray described = report["frames"].toArray();
    QCOMPARE(report["frameCount"].toInt(), names.size());
    QCOMPARE(report["written"].toBool(), !flatFrame);
    QCOMPARE(report["align"].toString(), align == u"--align" ? "global and local" : "global");
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QJsonObject frame = described[i].toObject();
        QCOMPARE(frame["path"].toString(), names[i]);
        const QString status = i == 0 ? "reference" : !flatFrame || i < 2 ? "stacked" : i == 2 ? "not aligned" : "not reached";
        QCOMPARE(frame["status"].toString(), status);
        if (status == u"stacked")
            QVERIFY(frame["alignment"]["inliers"].toInt() >= 40 && frame["alignment"]["residualPixels"].toDouble() < 1);
    }
    if (flatFrame) {
        QVERIFY(report["reason"].toString().startsWith("cannot align frame flat.png"));
        QVERIFY(described[2]["reason"].toString().startsWith("too few matching features"));
        QCOMPARE(aligned.exitCode, 1);
        QVERIFY2(QRegularExpression(R"(^ombrelux-cli: cannot align frame flat\.png: too few matching features \(\d+ of \d+ needed\)\n$)")
                     .match(QString::fromLocal8Bit(aligned.err))
                     .hasMatch(),
                 aligned.err.constData());
        QCOMPARE(entriesOf(dir.path()), before + QStringList{"report.json"});
        return;
    }
    QCOMPARE(aligned.exitCode, 0);
    QCOMPARE(aligned.err, QByteArray());
    const ToolRun asShot = runCli(command + QStringList{"-o", "as-shot.png"} + names, dir.path());
    QCOMPARE(asShot.exitCode, 0);
    // Beyond the largest move every frame covers the pixel.
    const double error = interiorError(readResult(dir.filePath("aligned.png")), scene, 24);
    const double blurred = interiorError(readResult(dir.filePath("as-shot.png")), scene, 24);
    QVERIFY2(error < 1 && error * 10 < blurred, qPrintable(QStringLiteral("%1 against %2").arg(error).arg(blurred)));
}

void CliTest::subtract_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QSize>("secondSize");
    QTest::newRow("second smaller") << QSize(7, 5) << QSize(4, 3);
    QTest::newRow("second larger") << QSize(5, 3) << QSize(9, 6);
}

void CliTest::subtract()
{
    QFETCH(QSize, imageSize);
    QFETCH(QSize, secondSize);
    QImage image = randomPicture(imageSize.width(), imageSize.height(), 11);
    const QImage second = randomPicture(secondSize.width(), secondSize.height(), 12);
    QVERIFY(image.save(m_dir.filePath("image.png")));
    QVERIFY(second.save(m_dir.filePath("second.bmp")));
    const ToolRun run = runCli({"subtract", "-o", "difference.png", "image.png", "second.bmp"}, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err + run.out, QByteArray());
    const UnitsPerPixel units;
    referenceSubtract(image, second, units, scaleWidth(image, units), scaleHeight(image, units));
    QCOMPARE(readResult(m_dir.filePath("difference.png")), image);
}

void CliTest::brighten_data()
{
    QTest::addColumn<QStringList>("passes");
    QTest::addColumn<int>("count");
    QTest::newRow("default one pass") << QStringList{} << 1;
    QTest::newRow("three passes") << QStringList{"--passes", "3"} << 3;
    QTest::newRow("most passes, written with =") << QStringList{"--passes=2147483647"} << 2147483647;
}

void CliTest::brighten()
{
    QFETCH(QStringList, passes);
    QFETCH(int, count);
    const QImage image = randomPicture(9, 7, 21);
    QVERIFY(image.save(m_dir.filePath("bright.bmp")));
    // The output names the input: it is read whole before it is replaced.
    const ToolRun run = runCli(QStringList{"brighten", "--quiet"} + passes + QStringList{"-o", "bright.bmp", "bright.bmp"},
                               m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err + run.out, QByteArray());
    QCOMPARE(readResult(m_dir.filePath("bright.bmp")), referenceBrightened(image, count));
}

void CliTest::outputFormats_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<int>("tolerance"); // mean difference per channel; JPEG's chroma subsampling blurs random pixels most; 0: byte-exact
    QTest::addColumn<bool>("srgb");
    QTest::newRow("bmp") << "format.bmp" << QByteArray("BM") << 0 << false;
    QTest::newRow("upper-case extension") << "FORMAT.PNG" << QByteArray("\x89PNG") << 0 << true;
    QTest::newRow("jpg") << "format.jpg" << QByteArray("\xff\xd8\xff") << 64 << true;
    QTest::newRow("jpeg") << "format.jpeg" << QByteArray("\xff\xd8\xff") << 64 << true;
    QTest::newRow("ppm") << "format.ppm" << QByteArray("P6") << 0 << false;
    QTest::newRow("tif") << "format.tif" << QByteArray("II*") << 0 << true;
    QTest::newRow("webp") << "format.webp" << QByteArray("RIFF") << 64 << false;
}

void CliTest::outputFormats()
{
    QFETCH(QString, output);
    QFETCH(QByteArray, magic);
    QVERIFY(randomPicture(6, 5, 31).save(m_dir.filePath("source.bmp")));
    QFETCH(int, tolerance);
    QFETCH(bool, srgb);
    const ToolRun run = runCli({"brighten", "-o", output, "source.bmp"}, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(contents(m_dir.filePath(output)).left(magic.size()), magic);
    const QImage expected = referenceBrightened(QImage(m_dir.filePath("source.bmp")).convertToFormat(QImage::Format_RGB32), 1);
    QImage written(m_dir.filePath(output));
    QCOMPARE(written.colorSpace() == QColorSpace(QColorSpace::SRgb), srgb);
    written = written.convertToFormat(QImage::Format_RGB32);
    if (tolerance == 0) {
        QCOMPARE_PIXELS(written, expected);
        return;
    }
    QCOMPARE(written.size(), expected.size());
    long difference = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            for (const int shift : {0, 8, 16})
                difference += std::abs(int((written.pixel(x, y) >> shift) & 0xff) - int((expected.pixel(x, y) >> shift) & 0xff));
    QVERIFY2(difference <= long(tolerance) * 3 * expected.width() * expected.height(), qPrintable(QString::number(difference)));
}

void CliTest::killedWhileWriting_data()
{
    QTest::addColumn<QString>("output");
    for (const char *format : {"png", "jpg", "tif", "bmp", "ppm", "webp"})
        QTest::newRow(format) << QStringLiteral("out.%1").arg(format);
}

// Killed at any point of a run, the folder holds the old OUT or the complete new one, nothing else.
void CliTest::killedWhileWriting()
{
#if defined(__SANITIZE_THREAD__)
    QSKIP("Qt converts a picture this large on its own threads, which ThreadSanitizer cannot see into");
#endif
    QFETCH(QString, output);
    const QTemporaryDir dir;
    const QImage large = randomPicture(2400, 1800, 7);
    QVERIFY(large.save(dir.filePath("large.bmp")) && randomPicture(5, 4, 8).save(dir.filePath("small.bmp")));
    QCOMPARE(runCli({"brighten", "-o", output, "small.bmp"}, dir.path()).exitCode, 0);
    const QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(runCli({"brighten", "-o", "whole." + QFileInfo(output).suffix(), "large.bmp"}, dir.path()).exitCode, 0);
    const qint64 wholeRunMs = timer.elapsed();
    QVERIFY(QFile::remove(dir.filePath("whole." + QFileInfo(output).suffix())));
    // Kills late in the run fall into the encoding and the replacing of OUT.
    for (const double share : {0.3, 0.6, 0.75, 0.85, 0.92, 0.97}) {
        QProcess child;
        child.setWorkingDirectory(dir.path());
        child.start(QStringLiteral(OMBRELUX_CLI), {"brighten", "--quiet", "-o", output, "large.bmp"});
        QVERIFY(child.waitForStarted());
        QThread::msleep(std::uint64_t(share * double(wholeRunMs)));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), entries);
        const QSize size = QImageReader(dir.filePath(output)).size();
        QVERIFY2(size == QSize(5, 4) || (size == large.size() && !QImage(dir.filePath(output)).isNull()),
                 qPrintable(QStringLiteral("killed at %1 of the run: %2 x %3").arg(share).arg(size.width()).arg(size.height())));
    }
}

void CliTest::fullDisk_data()
{
    killedWhileWriting_data();
}

// The file system's reason alone: no encoder's own words before it, nothing left on the disk.
void CliTest::fullDisk()
{
#if defined(__SANITIZE_THREAD__)
    QSKIP("Qt converts a picture this large on its own threads, which ThreadSanitizer cannot see into");
#endif
    QFETCH(QString, output);
    const QTemporaryDir dir;
    const LoopMountedExt4 disk(dir.path(), 4 << 20);
    if (!disk.mounted())
        QSKIP("cannot loop-mount a file system here");
    QVERIFY(randomPicture(2400, 1800, 9).save(dir.filePath("large.bmp")));
    const QString target = QDir(disk.path()).filePath(output);
    const QStringList before = entriesOf(disk.path());
    const ToolRun run = runCli({"brighten", "-o", target, "large.bmp"}, dir.path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("ombrelux-cli: cannot write %1: %2\n").arg(target, QString::fromLocal8Bit(std::strerror(ENOSPC))).toLocal8Bit());
    QCOMPARE(entriesOf(disk.path()), before);
}

// The scratch disk turns read-only while JPEG frames are read ahead: the frames whose reads are
// then refused must not be reported as damaged before the disk's reason.
void CliTest::scratchDiskFails()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's shadow memory counts as data");
#endif
    const QTemporaryDir dir;
    const LoopMountedExt4 disk(dir.path(), 256 << 20);
    if (!disk.mounted())
        QSKIP("cannot loop-mount a file system here");
    QStringList frames;
    for (int i = 0; i < 10; ++i) {
        frames << QStringLiteral("f%1.jpg").arg(i);
        QVERIFY(randomPicture(2400, 1800, std::uint32_t(i)).save(dir.filePath(frames.back()), "jpg", 90));
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), disk.path());
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(dir.path());
    // 130 MB of planes beside 100 MiB of data: they go to the disk.
    child.start(QStringLiteral("prlimit"), QStringList{"--data=104857600", "--", OMBRELUX_CLI, "median", "--quiet", "-o", "out.bmp"} + frames);
    QVERIFY(child.waitForStarted());
    // The planes' file has no name: the space it takes tells that the run is spilling.
    const qint64 free = QStorageInfo(disk.path()).bytesAvailable();
    QTRY_VERIFY_WITH_TIMEOUT(QStorageInfo(disk.path()).bytesAvailable() < free - (50 << 20) || child.state() == QProcess::NotRunning, 20000);
    if (!disk.fail())
        QSKIP("this kernel cannot fail an ext4 file system on request");
    QVERIFY(child.state() == QProcess::NotRunning || child.waitForFinished(60000));
    const QByteArray err = child.readAllStandardError();
    if (child.exitCode() == 0)
        QSKIP("the run ended before the disk failed");
    QCOMPARE(child.exitCode(), 1);
    QVERIFY2(err == "ombrelux-cli: cannot stack: " + QByteArray(std::strerror(EROFS)) + '\n'
                 || err == "ombrelux-cli: cannot stack: " + QByteArray(std::strerror(EIO)) + '\n',
             err.constData());
}

void CliTest::captureMetadata_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("exif"); // of the first frame: "capture", "none" or "truncated"
    QTest::newRow("median, jpeg") << QStringList{"median"} << "out.jpg" << "capture";
    QTest::newRow("stack mean, png") << QStringList{"stack", "--mode", "mean"} << "out.png" << "capture";
    QTest::newRow("brighten, tiff") << QStringList{"brighten"} << "out.tif" << "capture";
    QTest::newRow("median, bmp holds none") << QStringList{"median"} << "out.bmp" << "capture";
    QTest::newRow("brighten, ppm holds none") << QStringList{"brighten"} << "out.ppm" << "capture";
    QTest::newRow("stack max, png, first frame without exif") << QStringList{"stack", "--mode", "max"} << "out.png"
                                                              << "none";
    QTest::newRow("median, jpeg, truncated exif") << QStringList{"median"} << "out.jpg" << "truncated";
    QTest::newRow("brighten, tiff, truncated exif") << QStringList{"brighten"} << "out.tif" << "truncated";
}

// The first frame's capture tags reach JPEG, PNG and TIFF output with their values; its
// orientation (applied to the pixels) and its thumbnail (of the unprocessed picture) do not.
// Metadata is best-effort: without it or with it damaged, the picture is still written.
void CliTest::captureMetadata()
{
    QFETCH(QStringList, command);
    QFETCH(QString, output);
    QFETCH(QString, exif);
    QTemporaryDir dir;
    const QString first = dir.filePath("first.jpg");
    const QString second = dir.filePath("second.jpg");
    QVERIFY(randomPicture(12, 8, 41).save(first, "jpg", 95));
    if (exif != u"none") {
        QVERIFY(randomPicture(4, 3, 42).save(dir.filePath("first-thumb.jpg"))); // exiv2 -it takes it by this name
        QStringList edits{"-M", "set Exif.Image.Orientation 6"};
        for (const auto &[key, value] : CaptureTags)
            edits << "-M" << QStringLiteral("set %1 %2").arg(key, value);
        QCOMPARE(runTool("exiv2", edits << first), QString());
        QCOMPARE(runTool("exiv2", {"-it", first}), QString());
        QVERIFY(exifOf(first).contains("Exif.Thumbnail.JPEGInterchangeFormat"));
    }
    // The same pixels from another camera: only the first frame's tags count.
    QVERIFY(QFile::copy(first, second));
    QCOMPARE(runTool("exiv2", {"-M", "set Exif.Image.Model Second Camera", second}), QString());
    if (exif == u"truncated")
        writeFile(first, withTruncatedExif(contents(first)));
    const Outcome<QImage> frame = decodeImageFile(first);
    QVERIFY(frame);

    const bool brighten = command.first() == u"brighten";
    const QStringList frames = brighten ? QStringList{"first.jpg"} : QStringList{"first.jpg", "second.jpg"};
    const ToolRun run = runCli(command + QStringList{"-o", output} + frames, dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QString written = dir.filePath(output);
    const QImage expected = brighten ? referenceBrightened(*frame, 1) : *frame;
    if (output.endsWith(u".jpg"))
        QCOMPARE(QImage(written).size(), expected.size());
    else
        QCOMPARE_PIXELS(readResult(written), expected);

    const QMap<QString, QString> tags = exifOf(written);
    const bool holdsExif = !output.endsWith(u".bmp") && !output.endsWith(u".ppm");
    for (const auto &[key, value] : CaptureTags) {
        if (exif == u"none")
            QVERIFY2(!tags.contains(key), key);
        else if (exif == u"capture" && holdsExif)
            QCOMPARE(tags.value(key), QString::fromLatin1(value));
        else // what survived, unchanged
            QCOMPARE(tags.value(key, value), QString::fromLatin1(value));
    }
    // Upright: no orientation, or the one a TIFF encoder writes for its own rows.
    QCOMPARE(tags.value("Exif.Image.Orientation", "1"), QStringLiteral("1"));
    QVERIFY(std::none_of(tags.keyBegin(), tags.keyEnd(),
                         [](const QString &key) { return key.startsWith("Exif.Thumbnail."); }));
    if (!holdsExif)
        QVERIFY(!contents(written).contains("Test Camera"));
}

void CliTest::heicCaptureMetadata_data()
{
    QTest::addColumn<QString>("output");
    for (const char *output : {"out.jpg", "out.png", "out.tif"})
        QTest::newRow(output) << QString::fromLatin1(output);
}

// A phone's HEIC keeps its EXIF in an item of its own, which only libheif reads; exiftool checks.
void CliTest::heicCaptureMetadata()
{
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QString jpeg = dir.filePath("camera.jpg");
    QVERIFY(randomPicture(64, 48, 43).save(jpeg, "jpg", 95));
    const QStringList tags{"-Make=Phone Maker", "-Model=Phone 15", "-DateTimeOriginal=2026:05:06 07:08:09", "-ExposureTime=1/250"};
    QCOMPARE(runTool("exiftool", QStringList{"-q", "-overwrite_original"} + tags + QStringList{jpeg}), QString());
    QCOMPARE(runTool("heif-enc", {"-q", "60", "-o", dir.filePath("first.heic"), jpeg}), QString());
    const ToolRun run = runCli({"median", "-o", output, "first.heic", "first.heic"}, dir.path());
    QCOMPARE(run.exitCode, 0);
    QByteArray read;
    QCOMPARE(runTool("exiftool", {"-s3", "-Make", "-Model", "-DateTimeOriginal", "-ExposureTime", dir.filePath(output)}, &read), QString());
    QCOMPARE(read, QByteArray("Phone Maker\nPhone 15\n2026:05:06 07:08:09\n1/250\n"));
}

void CliTest::sixteenBits_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("inputs"); // 16-bit TIFF, 8-bit BMP or CFA DNG frames
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("bits"); // of the samples computed and written
    QTest::newRow("median to TIFF") << QStringList{"median"} << "tif" << "out.tif" << 16;
    QTest::newRow("mean to PNG") << QStringList{"stack", "--mode", "mean"} << "tif" << "out.png" << 16;
    QTest::newRow("sigma to PPM") << QStringList{"stack", "--mode", "sigma"} << "tif" << "out.ppm" << 16;
    QTest::newRow("min of camera RAW") << QStringList{"stack", "--mode", "min"} << "dng" << "out.tif" << 16;
    QTest::newRow("8-bit frames, --depth 16") << QStringList{"stack", "--mode", "mean", "--depth", "16"} << "bmp" << "out.png" << 16;
    QTest::newRow("--depth 8") << QStringList{"median", "--depth", "8"} << "tif" << "out.png" << 8;
    QTest::newRow("BMP holds 8 bits") << QStringList{"stack", "--mode", "max"} << "tif" << "out.bmp" << 8;
    QTest::newRow("brighten") << QStringList{"brighten"} << "tif" << "out.tif" << 16;
    QTest::newRow("subtract") << QStringList{"subtract"} << "tif" << "out.png" << 16;
}

void CliTest::sixteenBits()
{
    QFETCH(QStringList, command);
    QFETCH(QString, inputs);
    QFETCH(QString, output);
    QFETCH(int, bits);
    QTemporaryDir dir;
    const int count = command.first() == u"brighten" ? 1 : command.first() == u"subtract" ? 2 : 5;
    std::vector<QImage> frames; // as the run reads them
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << dir.filePath(QStringLiteral("f%1.").arg(i) + inputs);
        if (inputs == u"dng") {
            // A sensor's 12 bits, developed by dcraw_emu as the loader develops them (camera white
            // balance, sRGB, AHD, 16 bits), read back by tifffile.
            const QImage mosaic = deepPicture({32, 24}, std::uint32_t(i + 7));
            QByteArray samples;
            for (int s = 0; s < 32 * 24; ++s)
                samples.append(char(mosaic.constBits()[2 * s])).append(char(mosaic.constBits()[2 * s + 1] & 0x0f));
            QCOMPARE(writeTiff(QStringLiteral("dng"), {32, 24}, samples, names.back()), QString());
            const QString developed = names.back() + ".tif";
            QCOMPARE(runTool("dcraw_emu", {"-w", "-o", "1", "-q", "3", "-6", "-T", "-Z", developed, names.back()}), QString());
            QImage frame;
            QCOMPARE(readIndependently(developed, frame), QString());
            frames.push_back(frame);
            continue;
        }
        const QImage frame = inputs == u"tif" ? deepPicture({9, 7}, std::uint32_t(i + 7)) : randomPicture(9, 7, std::uint32_t(i + 7));
        const QByteArray samples = QByteArray::fromRawData(reinterpret_cast<const char *>(frame.constBits()), frame.sizeInBytes());
        if (inputs == u"tif")
            QCOMPARE(writeTiff(QStringLiteral("rgbx16"), frame.size(), samples, names.back()), QString());
        else
            QVERIFY(frame.save(names.back()));
        frames.push_back(frame.convertToFormat(bits == 16 ? QImage::Format_RGBX64 : QImage::Format_RGB32));
    }
    const ToolRun run = runCli(command + QStringList{"--quiet", "-o", output} + names, dir.path());
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    const int top = (1 << bits) - 1;
    const QImage expected = command.first() == u"brighten" ? pointwise(frames[0], {}, [top](int v, int) { return std::min(v + v / 2, top); })
                            : command.first() == u"subtract" ? pointwise(frames[0], frames[1], [](int a, int b) { return std::max(a - b, 0); })
                            : expectedStack(frames, {.mode = modeOf(command)});
    QImage written;
    QCOMPARE(readIndependently(dir.filePath(output), written), QString());
    QCOMPARE_PIXELS(written, expected);
}

void CliTest::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString frames = QStringLiteral("good.bmp good.png");
    const auto args = [](const QString &line) { return line.split(u' ', Qt::SkipEmptyParts); };
    QTest::newRow("no command") << QStringList{} << 2 << "no command given";
    QTest::newRow("unknown command") << args("blend -o keep.bmp " + frames) << 2 << "unknown command 'blend'";
    QTest::newRow("stack without a mode") << args("stack -o keep.bmp " + frames) << 2 << "stack needs --mode";
    QTest::newRow("unknown mode") << args("stack --mode mode -o keep.bmp " + frames) << 2 << "unknown --mode 'mode'";
    QTest::newRow("mode on median") << args("median --mode max -o keep.bmp " + frames) << 2 << "'mode'";
    QTest::newRow("kappa without sigma") << args("stack --mode mean --kappa 2 -o keep.bmp " + frames) << 2
                                         << "--kappa goes with --mode sigma only";
    QTest::newRow("kappa below 1") << args("stack --mode sigma --kappa 0.99 -o keep.bmp " + frames) << 2 << "not '0.99'";
    QTest::newRow("kappa above 10") << args("stack --mode sigma --kappa 10.01 -o keep.bmp " + frames) << 2
                                    << "not '10.01'";
    QTest::newRow("kappa with three decimals") << args("stack --mode sigma --kappa 2.505 -o keep.bmp " + frames) << 2
                                               << "not '2.505'";
    QTest::newRow("unreadable list") << args("stack --mode max -o keep.bmp @missing.txt") << 1
                                     << "cannot read list missing.txt: No such file or directory";
    QTest::newRow("list of one frame") << args("median -o keep.bmp @one.txt") << 2 << "two or more frames";
    QTest::newRow("list is a device") << args("median -o keep.bmp @/dev/zero") << 1
                                      << "cannot read list /dev/zero: not a regular file";
    QTest::newRow("list is a FIFO") << args("median -o keep.bmp @fifo.txt") << 1 << "cannot read list fifo.txt: not a regular file";
    QTest::newRow("list over the bound") << args("median -o keep.bmp @big.txt") << 1 << "cannot read list big.txt: larger than 64 MiB";
    QTest::newRow("NUL inside a line") << args("median -o keep.bmp @nul.txt") << 2 << "list nul.txt, line 2: a NUL byte";
    QTest::newRow("NUL starting a line") << args("median -o keep.bmp @nul-first.txt") << 2 << "list nul-first.txt, line 1: a NUL byte";
    QTest::newRow("unknown option") << args("median --fast -o keep.bmp " + frames) << 2 << "Unknown option 'fast'";
    QTest::newRow("passes on median") << args("median --passes 2 -o keep.bmp " + frames) << 2 << "'passes'";
    QTest::newRow("missing -o") << args("median " + frames) << 2 << "missing -o OUT";
    QTest::newRow("one frame") << args("median -o keep.bmp good.bmp") << 2 << "two or more frames";
    QTest::newRow("subtract with one image") << args("subtract -o keep.bmp good.bmp") << 2 << "IMAGE and SECOND";
    QTest::newRow("brighten with two images") << args("brighten -o keep.bmp " + frames) << 2 << "one IMAGE";
    QTest::newRow("zero passes") << args("brighten --passes 0 -o keep.bmp good.bmp") << 2 << "not '0'";
    QTest::newRow("passes beyond int") << args("brighten --passes 2147483648 -o keep.bmp good.bmp") << 2
                                       << "not '2147483648'";
    QTest::newRow("passes not a number") << args("brighten --passes x -o keep.bmp good.bmp") << 2 << "not 'x'";
    QTest::newRow("no threads") << args("median --threads 0 -o keep.bmp " + frames) << 2 << "--threads takes";
    QTest::newRow("depth of 12") << args("median --depth 12 -o keep.png " + frames) << 2 << "--depth takes 8 or 16, not '12'";
    QTest::newRow("16 bits to BMP") << args("median --depth 16 -o keep.bmp " + frames) << 2
                                    << "keep.bmp cannot hold 16 bits a sample; these formats can: .png, .ppm, .tif, .tiff";
    QTest::newRow("16 bits to JPEG") << args("brighten --depth 16 -o keep.jpg good.bmp") << 2 << "keep.jpg cannot hold 16 bits";
    QTest::newRow("threads not a number") << args("brighten --threads x -o keep.bmp good.bmp") << 2 << "not 'x'";
    QTest::newRow("no extension") << args("median -o result " + frames) << 2
                                  << "output format of result: its name must end in .bmp, .png, .jpg, .jpeg, .ppm";
    QTest::newRow("gif output") << args("median -o result.gif " + frames) << 2 << "output format of result.gif";
    QTest::newRow("missing frame") << args("median -o keep.bmp good.bmp missing.png") << 1
                                   << "cannot read frame missing.png: No such file or directory";
    QTest::newRow("damaged middle frame") << args("median -o keep.bmp good.bmp damaged.jpg good.png") << 1
                                          << "cannot read frame damaged.jpg: not a picture or damaged";
    QTest::newRow("damaged first frame") << args("median -o keep.bmp damaged.jpg " + frames) << 1
                                         << "cannot read frame damaged.jpg: not a picture or damaged";
    QTest::newRow("unalignable frame") << args("median --align -o keep.bmp good.bmp flat.bmp") << 1
                                       << "cannot align frame flat.bmp: ";
    QTest::newRow("frame of one column") << args("median --align -o keep.bmp wide.bmp column.bmp") << 1
                                         << "cannot align frame column.bmp: the frame is too small to align (1 x 40 pixels";
    QTest::newRow("reference of one row") << args("median --align -o keep.bmp row.bmp wide.bmp") << 1
                                          << "the reference is too small to align (60 x 1 pixels";
    QTest::newRow("report in a missing folder") << args("median --report nowhere/report.json -o keep.bmp " + frames) << 1
                                                << "cannot write report nowhere/report.json: ";
    QTest::newRow("report on brighten") << args("brighten --report report.json -o keep.bmp good.bmp") << 2
                                        << "Unknown option 'report'";
    QTest::newRow("align=local") << args("median --align=local -o keep.bmp " + frames) << 2
                                 << "--align takes no value or =global, not 'local'";
    QTest::newRow("align on subtract") << args("subtract --align -o keep.bmp good.bmp good.png") << 2
                                       << "Unknown option 'align'";
    QTest::newRow("too large") << args("brighten -o keep.bmp huge.bmp") << 1 << "cannot read image huge.bmp: too large";
    QTest::newRow("folder as second") << args("subtract -o keep.bmp good.bmp folder") << 1
                                      << "cannot read image folder: not a regular file";
    QTest::newRow("output in a missing folder") << args("brighten -o nowhere/out.bmp good.bmp") << 1
                                                << "cannot write nowhere/out.bmp: No such file or directory";
    QTest::newRow("output is a folder") << args("brighten -o folder.bmp good.bmp") << 1
                                        << "cannot write folder.bmp: ";
}

void CliTest::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(randomPicture(5, 4, 41).save(dir.filePath("good.bmp")));
    QVERIFY(randomPicture(4, 5, 42).save(dir.filePath("good.png")));
    QVERIFY(filledPicture(5, 4, qRgb(90, 90, 90)).save(dir.filePath("flat.bmp")));
    for (const auto &[name, size] : {std::pair("column.bmp", QSize(1, 40)), std::pair("row.bmp", QSize(60, 1)),
                                     std::pair("wide.bmp", QSize(64, 48))})
        QVERIFY(randomPicture(size.width(), size.height(), 43).save(dir.filePath(name)));
    QFile damaged(dir.filePath("damaged.jpg"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray("\xff\xd8\xff\xe0 a JPEG in name only") + QByteArray(3000, '\x5a'));
    damaged.close();
    writeHugeBmpHeader(dir.filePath("huge.bmp"));
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(QDir(dir.path()).mkdir("folder.bmp"));
    writeFile(dir.filePath("one.txt"), "good.bmp\n");
    writeFile(dir.filePath("nul.txt"), QByteArray("good.bmp\ngood\0.png\n", 20));
    writeFile(dir.filePath("nul-first.txt"), QByteArray("\0good.bmp\ngood.png\n", 19));
    QFile big(dir.filePath("big.txt")); // sparse: no disk, the size alone
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(MaxListBytes + 1));
    big.close();
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo.txt")).constData(), 0600), 0);
    const QByteArray kept = "an earlier result that must survive";
    QFile keep(dir.filePath("keep.bmp"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write(kept);
    keep.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);

    const ToolRun run = runCli(arguments, dir.path());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(everyLinePrefixed(run.err), run.err.constData());
    QVERIFY2(run.err.contains(message.toLocal8Bit()), run.err.constData());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), before);
    QCOMPARE(QDir(dir.filePath("folder.bmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(contents(dir.filePath("keep.bmp")), kept);
}

void CliTest::qtWarningsNameTheFile()
{
    // libjpeg fills what is missing with grey and warns: the load succeeds, the warning names the file.
    writeFile(m_dir.filePath("truncated.jpg"), firstHalfOfJpeg(51));
    const ToolRun run = runCli({"brighten", "-o", "truncated.bmp", "truncated.jpg"}, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.startsWith("ombrelux-cli: truncated.jpg: "), run.err.constData());
    QVERIFY2(everyLinePrefixed(run.err), run.err.constData());
}

void CliTest::decoderMessages_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("damaged");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("exitCode");
    const auto brighten = [](const QString &input) { return QStringList{"brighten", "-o", "out.bmp", input}; };
    QTest::newRow("PNG, ancillary chunk CRC") << brighten("text.png") << "text.png"
                                               << QByteArray("libpng warning: tEXt: CRC error") << 0;
    QTest::newRow("PNG, IDAT CRC") << brighten("idat.png") << "idat.png" << QByteArray("libpng error: IDAT: CRC error") << 1;
    QTest::newRow("truncated JPEG") << brighten("half.jpg") << "half.jpg"
                                    << QByteArray("Corrupt JPEG data: premature end of data segment") << 0;
    QTest::newRow("TIFF, unknown tag") << brighten("tag.tif") << "tag.tif"
                                       << QByteArray("Unknown field with tag 65000") << 0;
    QTest::newRow("TIFF named .png") << brighten("tiff.png") << "tiff.png" << QByteArray("Unknown field with tag 65000")
                                     << 0;
    QTest::newRow("TIFF libtiff refuses") << brighten("cfa.tif") << "cfa.tif" << QByteArray("Sorry, can not handle image")
                                          << 1;
    // Beyond the room of frames read ahead: its header is read by a worker, then again at its turn.
    QTest::newRow("PNG frame beyond the decode-ahead room")
        << QStringList{"median", "-o", "out.bmp", "first.bmp", "wide.png"} << "wide.png"
        << QByteArray("libpng warning: tEXt: CRC error") << 0;
}

void CliTest::decoderMessages()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, damaged);
    QFETCH(QByteArray, message);
    QFETCH(int, exitCode);
    if (message.contains("tag 65000") && !QImageReader::supportedImageFormats().contains("tiff"))
        QSKIP("no TIFF plugin");
    QTemporaryDir dir;
    writeFile(dir.filePath("text.png"), pngWithText({5, 4}, "tEXt"));
    writeFile(dir.filePath("idat.png"), pngWithText({5, 4}, "IDAT"));
    writeFile(dir.filePath("half.jpg"), firstHalfOfJpeg(62));
    writeFile(dir.filePath("tag.tif"), tiffWithUnknownTag());
    writeFile(dir.filePath("tiff.png"), tiffWithUnknownTag());
    writeFile(dir.filePath("cfa.tif"), tiffWithUnknownTag(32803));
    // A first frame that takes the loop a while to copy, and one over 3 times its area.
    QImage first(800, 600, QImage::Format_RGB32);
    first.fill(Qt::darkCyan);
    QVERIFY(first.save(dir.filePath("first.bmp")));
    writeFile(dir.filePath("wide.png"), withBadCrc(pngWithText({1600, 1200}), "tEXt"));

    const ToolRun run = runCli(arguments, dir.path());
    QCOMPARE(run.exitCode, exitCode);
    for (const QByteArray &line : run.err.trimmed().split('\n'))
        QVERIFY2(line.startsWith("ombrelux-cli: ") && line.contains(damaged.toLocal8Bit()), run.err.constData());
    QVERIFY2(run.err.count(message) == 1, run.err.constData());
    QVERIFY2(!run.err.contains("foo"), run.err.constData()); // the name Qt's TIFF plugin gives every file
}

void CliTest::namesKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QList<QByteArray>>("inputs");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("brighten into a name that is not UTF-8")
        << QByteArray("brighten") << QByteArray("o\xff.bmp") << QList<QByteArray>{"in.bmp"} << true << QByteArray();
    QTest::newRow("median of such frames, read ahead")
        << QByteArray("median") << QByteArray("m\xc3.png")
        << QList<QByteArray>{"a\xff.bmp", "b\xed\xa0\x80.bmp", "c\xc0\xaf.bmp"} << true << QByteArray();
    QTest::newRow("the message names the missing input") << QByteArray("brighten") << QByteArray("out.bmp")
                                                         << QList<QByteArray>{"gone\xff.bmp"} << false
                                                         << QByteArray("cannot read image gone\xff.bmp: No such file");
    // Control characters would forge lines and reach the terminal: quoted as coreutils quotes them.
    QTest::newRow("a newline in a missing name") << QByteArray("brighten") << QByteArray("out.bmp")
                                                 << QList<QByteArray>{"a\nb.bmp"} << false
                                                 << QByteArray("cannot read image 'a'$'\\n''b.bmp': No such file");
    QTest::newRow("an escape sequence and a quote") << QByteArray("brighten") << QByteArray("out.bmp")
                                                    << QList<QByteArray>{"it's\x1b[31m\xff.bmp"} << false
                                                    << QByteArray("cannot read image 'it'\\''s'$'\\033''[31m\xff.bmp': No such");
}

void CliTest::namesKeepTheirBytes()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, output);
    QFETCH(QList<QByteArray>, inputs);
    QFETCH(bool, present);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    RemovedAtEnd made{{folder + output}};
    std::vector<QImage> frames;
    for (const QByteArray &input : inputs) {
        frames.push_back(randomPicture(5, 3, uint(frames.size()) + 61));
        if (present)
            made.names << writePictureAs(frames.back(), dir.path(), input);
    }
    const ToolRun run = runCliWithBytes(QList<QByteArray>{command, "-o", output} + inputs, dir.path());
    QCOMPARE(run.exitCode, present ? 0 : 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    if (!present)
        return;
    // Found under exactly that name, and read under one Qt can name.
    const QString result = dir.filePath(QStringLiteral("result.") + QFileInfo(QString::fromLatin1(output)).suffix());
    QCOMPARE(std::rename((folder + output).constData(), QFile::encodeName(result).constData()), 0);
    QCOMPARE(readResult(result), command == "median" ? expectedStack(frames) : referenceBrightened(frames[0], 1));
}

void CliTest::memoryRunsOut_data()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's shadow memory does not fit an address-space limit");
#endif
    QTest::addColumn<int>("mib");
    // From too little to decode the first frame, through spilling, to enough: where each
    // allocation fails depends on the threads' timing, so each row allows every honest outcome.
    const int floor = startingAddressSpace(m_dir.path());
    for (int above = 10; above <= 90; above += 10)
        QTest::addRow("%d MiB of address space", floor + above) << floor + above;
}

void CliTest::memoryRunsOut()
{
    QFETCH(int, mib);
    QTemporaryDir dir;
    const QTemporaryDir cache;
    std::vector<QImage> frames;
    QStringList names;
    for (int i = 0; i < 8; ++i) {
        frames.push_back(randomPicture(800, 600, std::uint32_t(60 + i)));
        names << QStringLiteral("f%1.bmp").arg(i);
        QVERIFY(frames.back().save(dir.filePath(names.back())));
    }
    const QByteArray kept = "an earlier result that must survive";
    QFile keep(dir.filePath("keep.bmp"));
    QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write(kept) == kept.size());
    keep.close();

    const ToolRun run = runCli(QStringList{"median", "--quiet", "-o", "keep.bmp"} + names, dir.path(),
                               {.limits = addressSpace(mib), .cache = cache.path()});
    QCOMPARE(entriesOf(cache.path()), QStringList());
    if (run.exitCode == 0) {
        QCOMPARE(run.err, QByteArray());
        QCOMPARE_PIXELS(readResult(dir.filePath("keep.bmp")), expectedStack(frames));
        return;
    }
    QCOMPARE(run.exitCode, 1);
    static const QRegularExpression honest(QStringLiteral(
        "ombrelux-cli: ((cannot stack: |cannot read frame f[0-7]\\.bmp: )?Cannot allocate memory"
        "|Not enough memory to stack 8 images of 800 x 600 pixels\\.)\n"));
    QVERIFY2(honest.match(QString::fromLocal8Bit(run.err)).hasMatch() && run.err.count('\n') == 1, run.err.constData());
    QCOMPARE(contents(dir.filePath("keep.bmp")), kept);
    QCOMPARE(entriesOf(dir.path()).size(), names.size() + 1);
}

void CliTest::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("--help") << QStringList{"--help"} << QByteArray("Usage: ombrelux-cli stack [--quiet] [--align[=global]] [--depth BITS] [--report FILE] --mode MODE [--kappa K] -o OUT FRAME");
    QTest::newRow("command --help") << QStringList{"brighten", "--help"} << QByteArray("Usage: ombrelux-cli");
    QTest::newRow("--version") << QStringList{"--version"} << QByteArray("ombrelux-cli ");
}

void CliTest::helpAndVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, start);
    const ToolRun run = runCli(arguments, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(start), run.out.constData());
    QCOMPARE(run.err, QByteArray());
}

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
