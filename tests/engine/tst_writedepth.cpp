// Output at 16 bits a sample, read back sample for sample by ImageMagick or tifffile (its array's type and shape on
// a line, then little-endian RGBA, alpha opaque), with a camera's capture metadata.
#include "engine/core/filenames.h"
#include "engine/write/pngwriter.h"
#include "engine/write/write.h"
#include "support/externaltools.h"
#include "support/images.h"

#include <QtTest>

constexpr auto TiffSamples = "import sys, numpy, tifffile; a = tifffile.imread(sys.argv[1]); print(a.dtype, a.shape, flush=True)\n"
                             "sys.stdout.buffer.write(numpy.pad(a, ((0, 0), (0, 0), (0, 1)), constant_values=65535).astype('<u2').tobytes())";

class WriteDepthTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
};

void WriteDepthTest::roundTrip_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QByteArray>("tags"); // what exiftool reads, capture metadata added where Make is expected
    QTest::addColumn<QByteArray>("sha256"); // of the file, where fixed
    const QImage deep = randomDeepPicture(1001, 2 * pngBandRows(1001, 16) + 1, 1); // odd width, several bands
    QTest::newRow("png") << "a.png" << deep << QByteArray("Test Maker\nPerceptual\n") << QByteArray();
    QTest::newRow("tiff") << "b.tif" << deep << QByteArray("Test Maker\nsRGB\n") << QByteArray();
    QTest::newRow("ppm") << "c.ppm" << deep << QByteArray() << QByteArray();
    QTest::newRow("png, 8 bits as before") << "d.png" << randomPicture(997, 177, 5) << QByteArray("Perceptual\n")
                                           << QByteArray("b8e86195b276d1ebc3629115fbda09e39bfb4d8e7fdcc5b05f48cf69794d62ca");
}

void WriteDepthTest::roundTrip()
{
    QFETCH(QString, file);
    QFETCH(QImage, picture);
    QFETCH(QByteArray, tags);
    QFETCH(QByteArray, sha256);
    QTemporaryDir dir;
    const QString path = dir.filePath(file), camera = dir.filePath("camera.exv");
    QCOMPARE(runTool("exiftool", {"-q", "-Make=Test Maker", "-o", camera}), QString());
    const std::optional<OutputFormat> format = outputFormatFor(path);
    QVERIFY(format && format->holdsSixteenBits && sixteenBitExtensions().contains(path.right(4)));
    const EncodedEdit capture = [&](QByteArray &encoded) { return copyCaptureMetadata({bytesOfName(camera), {}}, encoded); };
    QVERIFY(writeImageFile(picture, path, format->writer(), InPlace::Allowed, tags.contains("Make") ? capture : nullptr));

    const bool tiff = file.endsWith(".tif"), deep = picture.depth() == 64;
    const QImage expected = picture.convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGBX8888);
    const QByteArray shape = QStringLiteral("uint16 (%1, %2, 3)\n").arg(picture.height()).arg(picture.width()).toLatin1();
    QByteArray read, exif, sum;
    const QStringList convert{path, "-depth", deep ? "16" : "8", "-endian", "LSB", "rgba:-"}, python{"-c", TiffSamples, path};
    QCOMPARE(runTool(tiff ? "/usr/bin/python3" : "/usr/bin/convert", tiff ? python : convert, &read), QString());
    QVERIFY(read == (tiff ? shape : "") + QByteArray(reinterpret_cast<const char *>(expected.constBits()), expected.sizeInBytes()));
    QCOMPARE(runTool("exiftool", {"-s3", "-Make", "-SRGBRendering", "-ProfileDescription", path}, &exif), QString());
    QCOMPARE(exif, tags);
    QCOMPARE(runTool("sha256sum", {path}, &sum), QString());
    QCOMPARE(sha256.isEmpty() ? sha256 : sum.left(64), sha256);
}

QTEST_MAIN(WriteDepthTest)
#include "tst_writedepth.moc"
