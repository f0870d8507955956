#include "engine/decode/imageloader.h"
#include "support/externaltools.h"
#include "support/images.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <cstring>
#include <random>
#include <vector>

// HEIC, camera RAW, TIFF, WebP and 16-bit files through the loader, against the truth they were
// made from or a reference decoded by the format's own tool; colours converted to sRGB at load.
namespace {

enum class Kind { HeicOpaque, HeicAlpha, Dng, DngLate, Tiff8, Tiff16, WebpLossless, Png16 };
// An EXIF orientation of 6 is a quarter turn clockwise.
enum class Orientation { Upright, QuarterTurn };

// A 16-bit sample rounded to the nearest 8-bit one.
int nearest8(quint16 sample)
{
    return (sample * 255 + 32767) / 65535;
}

// Samples on both sides of where rounding to 8 bits steps: 257k - 129 gives k - 1, 257k - 128 gives k.
std::vector<quint16> roundingBoundaries()
{
    std::vector<quint16> samples{0, 65535};
    for (const int step : {1, 2, 127, 128, 200, 255}) {
        samples.push_back(quint16(257 * step - 129));
        samples.push_back(quint16(257 * step - 128));
    }
    return samples;
}

// Two rows of boundary samples, each pixel's channels taken in turn from the list, as
// little-endian R,G,B samples, with the picture they must load as.
struct DeepSamples {
    QSize size;
    QByteArray bytes;
    QImage expected;
};
DeepSamples deepSamples()
{
    const std::vector<quint16> samples = roundingBoundaries();
    const int width = int(samples.size());
    DeepSamples deep{QSize(width, 2), {}, QImage(width, 2, QImage::Format_RGB32)};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < width; ++x) {
            int channels[3];
            for (int c = 0; c < 3; ++c) {
                const quint16 sample = samples[std::size_t((x + c + y * 5) % width)];
                deep.bytes.append(char(sample & 0xffu)).append(char(sample >> 8));
                channels[c] = nearest8(sample);
            }
            deep.expected.setPixel(x, y, qRgb(channels[0], channels[1], channels[2]));
        }
    }
    return deep;
}

QImage png16From(const DeepSamples &deep)
{
    QImage picture(deep.size, QImage::Format_RGBX64);
    const auto *samples = reinterpret_cast<const quint16 *>(deep.bytes.constData());
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<quint16 *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x, samples += 3)
            for (int c = 0; c < 4; ++c)
                row[4 * x + c] = c < 3 ? samples[c] : 0xffff;
    }
    return picture;
}

QByteArray rgbBytes(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray bytes;
    for (int y = 0; y < rgb.height(); ++y)
        bytes.append(reinterpret_cast<const char *>(rgb.constScanLine(y)), qsizetype(rgb.width()) * 3);
    return bytes;
}

// A 12-bit RGGB mosaic above the black level of 64.
QByteArray mosaic(QSize size)
{
    std::mt19937 random(17);
    QByteArray bytes;
    for (int i = 0; i < size.width() * size.height(); ++i) {
        const auto sample = quint16(64 + random() % 4032);
        bytes.append(char(sample & 0xffu)).append(char(sample >> 8));
    }
    return bytes;
}

// Coverage from transparent to opaque across the picture.
QImage withAlpha(QImage picture)
{
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, (picture.pixel(x, y) & 0xffffffu) | quint32(x * 255 / (picture.width() - 1)) << 24);
    return picture;
}

QImage loaded(const QString &path)
{
    const Outcome<QImage> picture = decodeImageFile(path);
    if (!picture)
        qWarning("%s: %s", qPrintable(path), qPrintable(picture.reason()));
    return picture ? *picture : QImage();
}

// The bytes a file holds, no colour converted, not turned upright.
QImage storedPixels(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

// Empty when every channel is within `tolerance`, alpha exact; else the first difference.
QString differenceBeyond(const QImage &actual, const QImage &expected, int tolerance)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width()).arg(actual.height()).arg(expected.width()).arg(expected.height());
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            if (qAbs(qRed(a) - qRed(e)) > tolerance || qAbs(qGreen(a) - qGreen(e)) > tolerance
                || qAbs(qBlue(a) - qBlue(e)) > tolerance || qAlpha(a) != qAlpha(e))
                return QStringLiteral("(%1, %2): %3, expected %4")
                    .arg(x).arg(y).arg(a, 8, 16, QLatin1Char('0')).arg(e, 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Orientation)

class TestInputFormats : public QObject {
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void convertsToSrgb_data();
    void convertsToSrgb();
    void exifOrientation_data();
    void exifOrientation();
    void decodesAtSixteenBits_data();
    void decodesAtSixteenBits();
    void refusesDamagedAtSixteenBits_data();
    void refusesDamagedAtSixteenBits();

private:
    QTemporaryDir m_dir;
};

void TestInputFormats::decodes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("heic, lossy") << Kind::HeicOpaque;
    QTest::newRow("heic with alpha, over black") << Kind::HeicAlpha;
    QTest::newRow("cfa dng, developed as dcraw_emu does") << Kind::Dng;
    QTest::newRow("cfa dng, its directory after the image data") << Kind::DngLate;
    QTest::newRow("tiff, 8-bit") << Kind::Tiff8;
    QTest::newRow("tiff, 16-bit, rounded to nearest") << Kind::Tiff16;
    QTest::newRow("webp, lossless") << Kind::WebpLossless;
    QTest::newRow("png, 16-bit, rounded to nearest") << Kind::Png16;
}

// Each exactly: the lossy formats against the library's own tool, which runs the same decoder.
void TestInputFormats::decodes()
{
    QFETCH(Kind, kind);
    QVERIFY(m_dir.isValid());
    const QImage truth = randomPicture(37, 23, 9); // odd sizes: chroma and row padding at the edges
    const QString source = m_dir.filePath(QStringLiteral("source.png"));
    const QString reference = m_dir.filePath(QStringLiteral("reference"));
    QString file;
    QImage expected;
    switch (kind) {
    case Kind::HeicOpaque:
    case Kind::HeicAlpha:
        QVERIFY((kind == Kind::HeicAlpha ? withAlpha(truth) : truth).save(source));
        file = m_dir.filePath(QStringLiteral("picture.heic"));
        QCOMPARE(runTool(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("50"), QStringLiteral("-o"), file, source}), QString());
        QCOMPARE(runTool(QStringLiteral("heif-convert"), {file, reference + QStringLiteral(".png")}), QString());
        expected = loaded(reference + QStringLiteral(".png"));
        break;
    case Kind::Dng:
    case Kind::DngLate: {
        file = m_dir.filePath(QStringLiteral("sensor.dng"));
        const QSize size(32, 24);
        QCOMPARE(writeTiff(QLatin1String(kind == Kind::Dng ? "dng" : "dng-late"), size, mosaic(size), file), QString());
        // Camera white balance, sRGB, AHD, 16 bits: the loader rounds those to 8 as any 16-bit TIFF.
        QCOMPARE(runTool(QStringLiteral("dcraw_emu"), {QStringLiteral("-w"), QStringLiteral("-o"), QStringLiteral("1"),
                                                      QStringLiteral("-q"), QStringLiteral("3"), QStringLiteral("-6"),
                                                      QStringLiteral("-T"), QStringLiteral("-Z"), reference + QStringLiteral(".tif"), file}),
                 QString());
        expected = loaded(reference + QStringLiteral(".tif"));
        break;
    }
    case Kind::Tiff8:
        file = m_dir.filePath(QStringLiteral("picture.tif"));
        QCOMPARE(writeTiff(QStringLiteral("rgb8"), truth.size(), rgbBytes(truth), file), QString());
        expected = truth;
        break;
    case Kind::Tiff16: {
        const DeepSamples deep = deepSamples();
        file = m_dir.filePath(QStringLiteral("deep.tif"));
        QCOMPARE(writeTiff(QStringLiteral("rgb16"), deep.size, deep.bytes, file), QString());
        expected = deep.expected;
        break;
    }
    case Kind::WebpLossless:
        QVERIFY(truth.save(source));
        file = m_dir.filePath(QStringLiteral("picture.webp"));
        QCOMPARE(runTool(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), QStringLiteral("-lossless"), source, QStringLiteral("-o"), file}), QString());
        expected = truth;
        break;
    case Kind::Png16: {
        const DeepSamples deep = deepSamples();
        file = m_dir.filePath(QStringLiteral("deep.png"));
        QVERIFY(png16From(deep).save(file));
        expected = deep.expected;
        break;
    }
    }
    QVERIFY(!expected.isNull());
    const QImage picture = loaded(file);
    QCOMPARE(picture.format(), QImage::Format_RGB32);
    QCOMPARE_PIXELS(picture, expected);
}

void TestInputFormats::convertsToSrgb_data()
{
    QTest::addColumn<int>("space"); // a QColorSpace::NamedColorSpace, 0 for no profile
    QTest::addColumn<Orientation>("orientation");
    QTest::addColumn<bool>("converted");

    QTest::newRow("display p3") << int(QColorSpace::DisplayP3) << Orientation::Upright << true;
    QTest::newRow("adobe rgb") << int(QColorSpace::AdobeRgb) << Orientation::Upright << true;
    QTest::newRow("display p3, portrait by exif") << int(QColorSpace::DisplayP3) << Orientation::QuarterTurn << true;
    QTest::newRow("srgb, untouched") << int(QColorSpace::SRgb) << Orientation::Upright << false;
    QTest::newRow("srgb, portrait by exif") << int(QColorSpace::SRgb) << Orientation::QuarterTurn << false;
    QTest::newRow("no profile, untouched") << 0 << Orientation::Upright << false;
}

// A JPEG with an embedded profile against lcms2's conversion of the same decoded bytes, within
// 1 per channel: Qt's and lcms2's transforms round their curves and matrices differently.
void TestInputFormats::convertsToSrgb()
{
    QFETCH(int, space);
    QFETCH(Orientation, orientation);
    QFETCH(bool, converted);
    QVERIFY(m_dir.isValid());
    const QString file = m_dir.filePath(QStringLiteral("photo.jpg"));
    const QString profile = m_dir.filePath(QStringLiteral("photo.icc")); // exiv2 -iC takes it by the name
    QImage photo(40, 24, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 6, 250 - y * 10, (x * y) % 256)); // saturated corners move most
    QVERIFY(photo.save(file, "jpg", 95));
    if (space) {
        QFile icc(profile);
        QVERIFY(icc.open(QIODevice::WriteOnly));
        icc.write(QColorSpace(QColorSpace::NamedColorSpace(space)).iccProfile());
        icc.close();
        QCOMPARE(runTool(QStringLiteral("exiv2"), {QStringLiteral("-iC"), file}), QString());
    }
    if (orientation == Orientation::QuarterTurn)
        QCOMPARE(runTool(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("set Exif.Image.Orientation 6"), file}),
                 QString());

    QImage expected = storedPixels(file);
    if (converted) {
        const QString stored = m_dir.filePath(QStringLiteral("stored.tif"));
        const QString reference = m_dir.filePath(QStringLiteral("reference.tif"));
        QCOMPARE(writeTiff(QStringLiteral("rgb8"), expected.size(), rgbBytes(expected), stored), QString());
        QCOMPARE(runTool(QStringLiteral("tificc"), {QStringLiteral("-i") + profile, QStringLiteral("-t1"), stored, reference}),
                 QString());
        expected = storedPixels(reference);
    }
    if (orientation == Orientation::QuarterTurn)
        expected = expected.transformed(QTransform().rotate(90));

    const QImage picture = loaded(file);
    QCOMPARE(picture.format(), QImage::Format_RGB32);
    if (converted)
        QVERIFY2(differenceBeyond(picture, expected, 1).isEmpty(), qPrintable(differenceBeyond(picture, expected, 1)));
    else
        QCOMPARE_PIXELS(picture, expected);
    QCOMPARE(picture.colorSpace().isValid(), space != 0);
    if (space)
        QCOMPARE(picture.colorSpace(), QColorSpace(QColorSpace::SRgb));
}

void TestInputFormats::exifOrientation_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("orientation");
    for (const QString &format : {QStringLiteral("png"), QStringLiteral("webp")})
        for (int orientation = 1; orientation <= 8; ++orientation)
            QTest::addRow("%s, orientation %d", qPrintable(format), orientation) << format << orientation;
}

// exiftool writes the tag; a JPEG of the same quadrants, which Qt's reader turns, is the truth.
void TestInputFormats::exifOrientation()
{
    QFETCH(QString, format);
    QFETCH(int, orientation);
    QImage quadrants(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            quadrants.setPixel(x, y, QList<QRgb>{0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff}[(y / 16) * 2 + x / 24]);
    const QString file = m_dir.filePath(QStringLiteral("turned.") + format), jpeg = m_dir.filePath(QStringLiteral("turned.jpg"));
    QVERIFY(quadrants.save(file, nullptr, 100) && quadrants.save(jpeg, nullptr, 100));
    const QString tag = QStringLiteral("-Orientation#=%1").arg(orientation);
    for (const QString &path : {file, jpeg})
        QCOMPARE(runTool(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), tag, path}), QString());
    const QImage loaded = *decodeImageFile(file), truth = *decodeImageFile(jpeg);
    QCOMPARE(loaded.size(), truth.size());
    for (const QPoint centre : {QPoint(8, 8), QPoint(loaded.width() - 8, 8), QPoint(8, loaded.height() - 8)})
        QVERIFY(qAbs(qRed(loaded.pixel(centre)) - qRed(truth.pixel(centre))) < 8
                && qAbs(qGreen(loaded.pixel(centre)) - qGreen(truth.pixel(centre))) < 8
                && qAbs(qBlue(loaded.pixel(centre)) - qBlue(truth.pixel(centre))) < 8);
}

void TestInputFormats::decodesAtSixteenBits_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("png, 16-bit, exact") << "png16";
    QTest::newRow("tiff, 16-bit, exact") << "rgb16";
    QTest::newRow("ppm, maxval 65535, exact") << "ppm16";
    QTest::newRow("png, 8-bit, widened by 257") << "png8";
    QTest::newRow("png, 16-bit, display p3, as lcms2's tificc converts it") << "p3png16";
    QTest::newRow("heic, 10-bit, as heif-convert writes it at 16 bits") << "heic";
}

// The samples as a 16-bit PNG, TIFF or PPM (maxval 65535).
QString writeDeepFile(const QString &kind, const DeepSamples &deep, const QString &file)
{
    if (kind == u"png16")
        return png16From(deep).save(file, "png") ? QString() : QStringLiteral("cannot write ") + file;
    if (kind == u"rgb16")
        return writeTiff(kind, deep.size, deep.bytes, file);
    QByteArray ppm = QStringLiteral("P6\n%1 %2\n65535\n").arg(deep.size.width()).arg(deep.size.height()).toLatin1();
    for (qsizetype i = 0; i < deep.bytes.size(); i += 2)
        ppm.append(deep.bytes[i + 1]).append(deep.bytes[i]);
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(ppm) == ppm.size() ? QString() : out.errorString();
}

// Loaded at 16 bits: Format_RGBX64 with exactly the samples the file holds, or that
// heif-convert gives at 16 bits.
void TestInputFormats::decodesAtSixteenBits()
{
    QFETCH(QString, kind);
    const DeepSamples deep = deepSamples();
    QImage expected = png16From(deep);
    const QString file = m_dir.filePath(QStringLiteral("deep.") + kind);
    const QString reference = m_dir.filePath(QStringLiteral("converted.png"));
    const QImage truth = randomPicture(37, 23, 9);
    if (kind == u"png8") {
        QVERIFY(truth.save(file, "png"));
    } else if (kind == u"p3png16") {
        QImage tagged = expected;
        tagged.setColorSpace(QColorSpace::DisplayP3);
        QVERIFY(tagged.save(file, "png"));
        const QString profile = m_dir.filePath(QStringLiteral("p3.icc")), stored = m_dir.filePath(QStringLiteral("p3.tif"));
        QFile icc(profile);
        QVERIFY(icc.open(QIODevice::WriteOnly) && icc.write(tagged.colorSpace().iccProfile()) > 0);
        icc.close();
        QCOMPARE(writeTiff(QStringLiteral("rgb16"), deep.size, deep.bytes, stored), QString());
        QCOMPARE(runTool(QStringLiteral("tificc"), {QStringLiteral("-w16"), QStringLiteral("-i") + profile, QStringLiteral("-t1"), stored, reference + ".tif"}),
                 QString());
        QCOMPARE(readIndependently(reference + ".tif", expected), QString());
    } else if (kind == u"heic") {
        QVERIFY(expected.save(file + ".png"));
        QCOMPARE(runTool(QStringLiteral("heif-enc"), {"-b", "10", "-q", "90", "-o", file, file + ".png"}), QString());
        QCOMPARE(runTool(QStringLiteral("heif-convert"), {file, reference}), QString());
    } else {
        QCOMPARE(writeDeepFile(kind, deep, file), QString());
    }
    // The batch tool's default depth comes from the header alone.
    QCOMPARE(int(storedDepth(file)), int(kind == u"png8" ? SampleDepth::Eight : SampleDepth::Sixteen));
    if (kind == u"p3png16") {
        const Outcome<QImage> converted = decodeImageFile(file, SampleDepth::Sixteen);
        QVERIFY(converted);
        QCOMPARE_PIXELS(*converted, expected);
        return;
    }
    if (kind == u"png8" || kind == u"heic")
        expected = kind == u"png8" ? truth : *decodeImageFile(reference, SampleDepth::Sixteen);
    const Outcome<QImage> picture = decodeImageFile(file, SampleDepth::Sixteen);
    QVERIFY(picture && picture->format() == QImage::Format_RGBX64 && picture->size() == expected.size());
    // heif-convert shifts 10 bits up by 6 (1023 gives 65472), where the loader scales 1023 to 65535.
    for (int y = 0; y < expected.height(); ++y)
        for (int i = 0; i < 4 * expected.width(); ++i) {
            const quint16 got = reinterpret_cast<const quint16 *>(picture->constScanLine(y))[i];
            // 0xAARRGGBB's alpha, red, green and blue go to X, R, G and B.
            const auto eight = [&] { return truth.pixel(i / 4, y) >> (i % 4 == 3 ? 24 : 16 - 8 * (i % 4)) & 0xff; };
            const auto want = [&] { return reinterpret_cast<const quint16 *>(expected.constScanLine(y))[i]; };
            QCOMPARE(got, kind == u"png8" ? quint16(257 * eight()) : kind == u"heic" ? quint16(((want() >> 6) * 65535u + 511) / 1023) : want());
        }
}

void TestInputFormats::refusesDamagedAtSixteenBits_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qsizetype>("kept"); // bytes of the file kept; -1: all, its header claiming 20000 x 20000
    QTest::addColumn<QString>("reason");
    for (const char *kind : {"png16", "rgb16", "ppm16"}) {
        QTest::addRow("%s cut after its header", kind) << QString::fromLatin1(kind) << qsizetype(60) << Undecodable;
        QTest::addRow("%s cut in half", kind) << QString::fromLatin1(kind) << qsizetype(-2) << Undecodable;
    }
    QTest::newRow("ppm16 claiming 20000 x 20000") << "ppm16" << qsizetype(-1) << TooLarge;
}

void TestInputFormats::refusesDamagedAtSixteenBits()
{
    QFETCH(QString, kind);
    QFETCH(qsizetype, kept);
    QFETCH(QString, reason);
    const QString file = m_dir.filePath(QStringLiteral("damaged.") + kind);
    QCOMPARE(writeDeepFile(kind, deepSamples(), file), QString());
    QFile damaged(file);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    QByteArray bytes = damaged.readAll();
    if (kept == -1)
        bytes.replace(bytes.left(bytes.indexOf("65535")), "P6\n20000 20000\n");
    else
        bytes.truncate(kept == -2 ? bytes.size() / 2 : kept);
    QVERIFY(damaged.resize(0) && damaged.seek(0) && damaged.write(bytes) == bytes.size());
    damaged.close();
    const Outcome<QImage> picture = decodeImageFile(file, SampleDepth::Sixteen);
    QVERIFY(!picture);
    QCOMPARE(picture.reason(), reason);
}

QTEST_MAIN(TestInputFormats)
#include "tst_inputformats.moc"
