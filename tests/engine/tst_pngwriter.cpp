// PNG output: every pixel back through Qt's reader, a whole and checked zlib stream, and a
// failing device reported.
#include "engine/write/pngwriter.h"
#include "support/failingio.h"
#include "support/images.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

#include <random>

namespace {

enum class Content { Random, NoisyGradient, Flat, FlatOverNoise };

// Random pixels compress to nothing (stored blocks), a noisy gradient to literals under one
// code, a flat picture to runs; the last mixes bands of both in one stream.
QImage picture(Content content, QSize size)
{
    if (content == Content::Random)
        return randomPicture(size.width(), size.height(), 5);
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 random(9);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool noisy = content == Content::NoisyGradient || (content == Content::FlatOverNoise && y > size.height() / 2);
            const auto channel = [&](int level) { return std::clamp(level + (noisy ? noise(random) : 0), 0, 255); };
            image.setPixel(x, y, qRgb(channel(x % 256), channel(y % 256), channel(128)));
        }
    return image;
}

// Empty when the chunks' CRCs hold and the IDAT data inflates, trailer checked, to exactly one
// filter byte and three bytes a pixel per row; else what is wrong.
QString streamFault(const QByteArray &png, QSize size)
{
    QByteArray compressed;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const auto length = qsizetype(qFromBigEndian<quint32>(png.constData() + at));
        const QByteArray typed = png.mid(at + 4, 4 + length);
        const auto stored = qFromBigEndian<quint32>(png.constData() + at + 8 + length);
        if (crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size())) != stored)
            return "bad CRC on " + QString::fromLatin1(typed.left(4));
        if (typed.startsWith("IDAT"))
            compressed += typed.mid(4);
        at += 12 + length;
    }
    const auto expected = uLongf(size.height()) * uLongf(3 * size.width() + 1);
    QByteArray rows(qsizetype(expected) + 1, '\0');
    uLongf got = uLongf(rows.size());
    const int status = uncompress(reinterpret_cast<Bytef *>(rows.data()), &got,
                                  reinterpret_cast<const Bytef *>(compressed.constData()), uLong(compressed.size()));
    if (status != Z_OK || got != expected)
        return QStringLiteral("zlib status %1, %2 bytes of %3").arg(status).arg(got).arg(expected);
    return {};
}

// Two bands and a row: both workers and a last band of one row.
QSize manyBands()
{
    return {997, 2 * pngBandRows(997) + 1};
}

} // namespace

class PngWriterTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void failingDevice_data();
    void failingDevice();
};

void PngWriterTest::roundTrip_data()
{
    QTest::addColumn<Content>("content");
    QTest::addColumn<QSize>("size");
    const QList<std::pair<const char *, QSize>> sizes{
        {"1x1", {1, 1}}, {"width 1", {1, 300}}, {"height 1", {301, 1}}, {"odd width", {37, 29}},
        {"one full band", {997, pngBandRows(997)}}, {"many bands", manyBands()}};
    const QList<std::pair<const char *, Content>> contents{{"random", Content::Random},
                                                           {"noisy gradient", Content::NoisyGradient},
                                                           {"flat", Content::Flat},
                                                           {"flat over noise", Content::FlatOverNoise}};
    for (const auto &[sizeName, size] : sizes)
        for (const auto &[contentName, content] : contents)
            QTest::addRow("%s, %s", contentName, sizeName) << content << size;
}

void PngWriterTest::roundTrip()
{
    QFETCH(Content, content);
    QFETCH(QSize, size);
    const QImage image = picture(content, size);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(writePng(image, buffer));
    const QString fault = streamFault(png, size);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QImage read = QImage::fromData(png, "png");
    QCOMPARE(read.colorSpace(), QColorSpace(QColorSpace::SRgb));
    QCOMPARE_PIXELS(read.convertToFormat(QImage::Format_RGB32), image);
}

void PngWriterTest::failingDevice_data()
{
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(writePng(picture(Content::NoisyGradient, manyBands()), buffer));
    QTest::addColumn<qint64>("capacity");
    QTest::newRow("nothing written") << qint64(0);
    QTest::newRow("within the header chunks") << qint64(40);
    QTest::newRow("within the image data") << qint64(png.size() / 2);
    QTest::newRow("all but the last byte") << qint64(png.size() - 1);
}

void PngWriterTest::failingDevice()
{
    QFETCH(qint64, capacity);
    FailingDevice device(capacity);
    QVERIFY(!writePng(picture(Content::NoisyGradient, manyBands()), device));
}

QTEST_MAIN(PngWriterTest)
#include "tst_pngwriter.moc"
