#include "engine/stack/pointops.h"
#include "ops/brighten.h"
#include "reference/pointops.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QtTest>

class BrightenTest : public QObject {
    Q_OBJECT
private slots:
    void channelMapping_data();
    void channelMapping();
    void matchesReferenceOnRandomPictures_data();
    void matchesReferenceOnRandomPictures();
    void passesCompound();
    void runOrderAndTitles();
    void extentIsFixedBeforeFirstEventPoint_data();
    void extentIsFixedBeforeFirstEventPoint();
    void stopPressDoesNotStopIt();
};

void BrightenTest::channelMapping_data()
{
    QTest::addColumn<QRgb>("in");
    QTest::addColumn<QRgb>("out");
    const int table[][2] = {{0, 0},     {1, 1},     {2, 3},     {3, 4},     {50, 75},   {100, 150},
                            {128, 192}, {169, 253}, {170, 255}, {171, 255}, {200, 255}, {255, 255}};
    for (const auto &row : table)
        QTest::addRow("grey %d", row[0]) << qRgb(row[0], row[0], row[0]) << qRgb(row[1], row[1], row[1]);
    QTest::newRow("independent channels") << qRgb(200, 100, 50) << qRgb(255, 150, 75);
    QTest::newRow("caps one channel, hue shifts") << qRgb(180, 20, 0) << qRgb(255, 30, 0);
}

void BrightenTest::channelMapping()
{
    QFETCH(QRgb, in);
    QFETCH(QRgb, out);
    QImage surface = filledPicture(3, 2, in);
    brightenSurface(surface, surface.size());
    QCOMPARE(surface, filledPicture(3, 2, out));
}

void BrightenTest::matchesReferenceOnRandomPictures_data()
{
    QTest::addColumn<QSize>("size");
    for (const QSize size : {QSize(1, 1), QSize(3, 2), QSize(17, 5), QSize(63, 9), QSize(130, 33)})
        QTest::addRow("%dx%d", size.width(), size.height()) << size;
}

void BrightenTest::matchesReferenceOnRandomPictures()
{
    QFETCH(QSize, size);
    const QImage picture = randomPicture(size.width(), size.height(), 42u + uint(size.width()));
    QImage fast = picture.copy();
    QImage slow = picture.copy();
    brightenSurface(fast, fast.size());
    const UnitsPerPixel units;
    referenceBrighten(slow, units, scaleWidth(slow, units), scaleHeight(slow, units));
    QCOMPARE(fast, slow);
}

void BrightenTest::passesCompound()
{
    QImage surface = filledPicture(2, 2, qRgb(100, 100, 100));
    for (const int expected : {150, 225, 255}) {
        brightenSurface(surface, surface.size());
        QCOMPARE(surface.pixel(1, 1), qRgb(expected, expected, expected));
    }
}

void BrightenTest::runOrderAndTitles()
{
    FakeHost host;
    host.Picture1->setPicture(filledPicture(4, 3, qRgb(128, 2, 0)));
    runBrightening(host);
    QCOMPARE(host.log, (QStringList{"BeginWork", "Cap:Generating Ombrelux...", "Cap:Done", "beep", "EndWork"}));
    QCOMPARE(host.Picture1->surface(), filledPicture(4, 3, qRgb(192, 3, 0)));
}

void BrightenTest::extentIsFixedBeforeFirstEventPoint_data()
{
    QTest::addColumn<QSize>("before");
    QTest::addColumn<QSize>("loaded");
    QTest::newRow("larger picture: only the old extent") << QSize(3, 2) << QSize(6, 5);
    QTest::newRow("smaller picture: all of it") << QSize(6, 5) << QSize(2, 3);
}

void BrightenTest::extentIsFixedBeforeFirstEventPoint()
{
    QFETCH(QSize, before);
    QFETCH(QSize, loaded);
    FakeHost host;
    host.Picture1->setPicture(filledPicture(before.width(), before.height(), qRgb(10, 10, 10)));
    host.atEventPoint = [&](int point) {
        if (point == 0)
            host.Picture1->setPicture(filledPicture(loaded.width(), loaded.height(), qRgb(100, 100, 100)));
    };
    runBrightening(host);
    const QImage &surface = host.Picture1->surface();
    QCOMPARE(surface.size(), loaded);
    for (int y = 0; y < loaded.height(); ++y)
        for (int x = 0; x < loaded.width(); ++x) {
            const bool walked = x < before.width() && y < before.height();
            QCOMPARE(surface.pixel(x, y), walked ? qRgb(150, 150, 150) : qRgb(100, 100, 100));
        }
}

void BrightenTest::stopPressDoesNotStopIt()
{
    FakeHost host;
    host.StopFlag = false;
    host.Picture1->setPicture(filledPicture(2, 2, qRgb(50, 50, 50)));
    host.atEventPoint = [&](int point) {
        if (point == 0)
            host.StopFlag = true;
    };
    runBrightening(host);
    QVERIFY(host.StopFlag);
    QCOMPARE(host.log.last(), QStringLiteral("EndWork"));
    QCOMPARE(host.Picture1->surface(), filledPicture(2, 2, qRgb(75, 75, 75)));
}

QTEST_MAIN(BrightenTest)
#include "tst_brighten.moc"
