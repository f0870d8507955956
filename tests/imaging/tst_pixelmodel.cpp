#include "imaging/picturebox.h"
#include "imaging/surface.h"
#include "support/images.h"

#include <QTemporaryDir>
#include <QtTest>

class PixelModelTest : public QObject {
    Q_OBJECT
private slots:
    void splitColor_data();
    void splitColor();
    void composeColor_data();
    void composeColor();
    void readAndWriteByPoint_data();
    void readAndWriteByPoint();
    void walkVisitsEveryPixelOnceInRowOrder();
    void loadSizesBoxToPicture();
    void failedLoadLeavesBoxUntouched();
};

void PixelModelTest::splitColor_data()
{
    QTest::addColumn<int>("color");
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");
    QTest::newRow("black") << 0 << 0 << 0 << 0;
    QTest::newRow("white") << 16777215 << 255 << 255 << 255;
    QTest::newRow("green") << 65280 << 0 << 255 << 0;
    QTest::newRow("red") << 255 << 255 << 0 << 0;
    QTest::newRow("blue byte highest") << 0x123456 << 0x56 << 0x34 << 0x12;
    QTest::newRow("outside read is not white") << -1 << -1 << 0 << 0;
}

void PixelModelTest::splitColor()
{
    QFETCH(int, color);
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);
    QCOMPARE(SplitColor(color), (Channels{red, green, blue}));
}

void PixelModelTest::composeColor_data()
{
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");
    QTest::addColumn<int>("color");
    QTest::newRow("caps red above 255") << 256 << 10 << 20 << 1313535;
    QTest::newRow("plain") << 255 << 10 << 20 << 1313535;
    QTest::newRow("white") << 255 << 255 << 255 << 16777215;
    QTest::newRow("caps every channel") << 382 << 300 << 256 << 16777215;
}

void PixelModelTest::composeColor()
{
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);
    QFETCH(int, color);
    QCOMPARE(ComposeColor(std::int16_t(red), std::int16_t(green), std::int16_t(blue)), color);
}

void PixelModelTest::readAndWriteByPoint_data()
{
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<QPoint>("pixel");
    QTest::newRow("top-left") << 1.0f << 1.0f << true << QPoint(0, 0);
    QTest::newRow("cell origin") << 15.0f << 0.0f << true << QPoint(1, 0);
    QTest::newRow("last unit of a cell") << 14.9f << 29.9f << true << QPoint(0, 1);
    QTest::newRow("bottom-right pixel") << 31.0f << 16.0f << true << QPoint(2, 1);
    QTest::newRow("scale width + 1") << 46.0f << 1.0f << false << QPoint();
    QTest::newRow("scale height exactly") << 1.0f << 30.0f << false << QPoint();
    QTest::newRow("negative") << -0.5f << 1.0f << false << QPoint();
}

void PixelModelTest::readAndWriteByPoint()
{
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(bool, inside);
    QFETCH(QPoint, pixel);
    QImage surface = randomPicture(3, 2, 7);
    const QImage before = surface.copy();
    const UnitsPerPixel units;

    const PixelColor read = ReadPixel(surface, units, x, y);
    WritePixel(surface, units, x, y, ComposeColor(1, 2, 3));
    if (!inside) {
        QCOMPARE(read, -1);
        QCOMPARE(surface, before);
        return;
    }
    const QRgb original = before.pixel(pixel);
    QCOMPARE(read, PixelColor(qRed(original) + 256 * qGreen(original) + 65536 * qBlue(original)));
    QCOMPARE(surface.pixel(pixel), qRgb(1, 2, 3));
}

void PixelModelTest::walkVisitsEveryPixelOnceInRowOrder()
{
    QList<QPointF> points;
    walkPoints(45.0f, 30.0f, UnitsPerPixel{}, [&](float x, float y) { points << QPointF(x, y); });
    const QList<QPointF> expected{{1, 1}, {16, 1}, {31, 1}, {1, 16}, {16, 16}, {31, 16}};
    QCOMPARE(points, expected);

    int visits = 0;
    walkPoints(0.5f, 30.0f, UnitsPerPixel{}, [&](float, float) { ++visits; });
    QCOMPARE(visits, 0);
}

void PixelModelTest::loadSizesBoxToPicture()
{
    QTemporaryDir dir;
    const QImage large = randomPicture(40, 30, 1);
    const QImage small = randomPicture(5, 4, 2);
    PictureBox box(QSize(233, 305), nullptr);
    QVERIFY(!box.hasPicture());
    QCOMPARE(box.surface().pixel(0, 0), qRgb(0, 0, 0));

    QVERIFY(LoadImageFile(box, writePicture(large, dir.path(), "large.bmp")));
    QCOMPARE_PIXELS(box.surface(), large);
    QCOMPARE(box.size(), QSize(40, 30));

    QVERIFY(LoadImageFile(box, writePicture(small, dir.path(), "small.png", "png")));
    QCOMPARE_PIXELS(box.surface(), small);
    QCOMPARE(ReadPixel(box.surface(), UnitsPerPixel{}, 5 * 15 + 1, 1), -1);
}

void PixelModelTest::failedLoadLeavesBoxUntouched()
{
    QTemporaryDir dir;
    PictureBox box(QSize(10, 10), nullptr);
    QVERIFY(LoadImageFile(box, writePicture(randomPicture(8, 6, 3), dir.path(), "a.bmp")));
    WritePixel(box.surface(), UnitsPerPixel{}, 1, 1, ComposeColor(9, 8, 7));
    const QImage before = box.surface().copy();

    QFile text(dir.filePath("notes.bmp"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
    text.close();
    for (const QString &path : {text.fileName(), dir.filePath("missing.bmp"), dir.path()})
        QVERIFY(!LoadImageFile(box, path));
    QCOMPARE(box.surface(), before);
    QCOMPARE(box.size(), QSize(8, 6));
}

QTEST_MAIN(PixelModelTest)
#include "tst_pixelmodel.moc"
