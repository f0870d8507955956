#include "engine/stack/pointops.h"
#include "ops/subtract.h"
#include "reference/pointops.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QTemporaryDir>
#include <QtTest>

class SubtractTest : public QObject {
    Q_OBJECT
private slots:
    void pixelCases_data();
    void pixelCases();
    void matchesReferenceOnRandomPictures_data();
    void matchesReferenceOnRandomPictures();
    void runLoadsSecondPictureAndSubtracts();
    void cancelReturnsToIdleUntouched();
    void undecodableFileReusesEarlierSecondPicture();
};

void SubtractTest::pixelCases_data()
{
    QTest::addColumn<QRgb>("canvas");
    QTest::addColumn<QRgb>("second");
    QTest::addColumn<QRgb>("result");
    QTest::newRow("clamps at zero per channel") << qRgb(200, 100, 50) << qRgb(50, 150, 50) << qRgb(150, 0, 0);
    QTest::newRow("black second leaves canvas") << qRgb(1, 128, 255) << qRgb(0, 0, 0) << qRgb(1, 128, 255);
    QTest::newRow("itself gives black") << qRgb(9, 99, 199) << qRgb(9, 99, 199) << qRgb(0, 0, 0);
    QTest::newRow("white second gives black") << qRgb(255, 255, 255) << qRgb(255, 255, 255) << qRgb(0, 0, 0);
}

void SubtractTest::pixelCases()
{
    QFETCH(QRgb, canvas);
    QFETCH(QRgb, second);
    QFETCH(QRgb, result);
    QImage surface = filledPicture(5, 3, canvas);
    subtractSurface(surface, filledPicture(5, 3, second), surface.size());
    QCOMPARE(surface, filledPicture(5, 3, result));
}

void SubtractTest::matchesReferenceOnRandomPictures_data()
{
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QSize>("second");
    QTest::newRow("same size") << QSize(37, 11) << QSize(37, 11);
    QTest::newRow("second larger: top-left part only") << QSize(9, 7) << QSize(20, 13);
    QTest::newRow("second smaller: rest unchanged") << QSize(33, 17) << QSize(10, 5);
    QTest::newRow("second narrower, taller") << QSize(21, 4) << QSize(3, 9);
    QTest::newRow("one pixel") << QSize(1, 1) << QSize(1, 1);
}

void SubtractTest::matchesReferenceOnRandomPictures()
{
    QFETCH(QSize, canvas);
    QFETCH(QSize, second);
    const QImage picture = randomPicture(canvas.width(), canvas.height(), 5);
    const QImage other = randomPicture(second.width(), second.height(), 6);
    QImage fast = picture.copy();
    QImage slow = picture.copy();
    subtractSurface(fast, other, fast.size());
    const UnitsPerPixel units;
    referenceSubtract(slow, other, units, scaleWidth(slow, units), scaleHeight(slow, units));
    QCOMPARE(fast, slow);
    QCOMPARE(fast.size(), canvas);
}

void SubtractTest::runLoadsSecondPictureAndSubtracts()
{
    QTemporaryDir dir;
    FakeHost host;
    host.Picture1->setPicture(filledPicture(4, 4, qRgb(200, 100, 50)));
    host.fakeDialog.setFileName(QStringLiteral("/earlier/name.bmp"));
    host.fakeDialog.answers.push_back(writePicture(filledPicture(2, 2, qRgb(50, 150, 50)), dir.path(), "dark.bmp"));
    runSubtraction(host, [&] { return askOpenPath(host.fakeDialog); });

    QCOMPARE(host.fakeDialog.filtersShown,
             QStringList{"All Files (*.*)|*.*|Bitmap Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|"});
    QCOMPARE(host.fakeDialog.namesShown, QStringList{"/earlier/name.bmp"});
    QCOMPARE(host.log,
             (QStringList{"BeginWork", "Cap:Generating Subtraction...", "Cap:Done", "beep", "EndWork"}));
    const QImage &surface = host.Picture1->surface();
    QCOMPARE(surface.size(), QSize(4, 4));
    QCOMPARE(surface.pixel(1, 1), qRgb(150, 0, 0));
    QCOMPARE(surface.pixel(2, 1), qRgb(200, 100, 50));
    QCOMPARE(surface.pixel(0, 3), qRgb(200, 100, 50));
    QVERIFY(host.Picture3->isHidden());
}

void SubtractTest::cancelReturnsToIdleUntouched()
{
    FakeHost host;
    host.Picture1->setPicture(filledPicture(3, 3, qRgb(7, 7, 7)));
    const QImage second = host.Picture3->surface().copy();
    host.fakeDialog.answers.push_back(std::nullopt);
    runSubtraction(host, [&] { return askOpenPath(host.fakeDialog); });
    QCOMPARE(host.log, (QStringList{"BeginWork", "EndWork"}));
    QCOMPARE(host.Picture1->surface(), filledPicture(3, 3, qRgb(7, 7, 7)));
    QCOMPARE(host.Picture3->surface(), second);
}

void SubtractTest::undecodableFileReusesEarlierSecondPicture()
{
    QTemporaryDir dir;
    QFile text(dir.filePath("notes.jpg"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("plain text");
    text.close();
    FakeHost host;
    host.Picture1->setPicture(filledPicture(2, 1, qRgb(100, 100, 100)));
    host.fakeDialog.answers = {writePicture(filledPicture(2, 1, qRgb(10, 20, 30)), dir.path(), "a.bmp"),
                               text.fileName()};
    runSubtraction(host, [&] { return askOpenPath(host.fakeDialog); });
    runSubtraction(host, [&] { return askOpenPath(host.fakeDialog); });
    QCOMPARE(host.Picture1->surface(), filledPicture(2, 1, qRgb(80, 60, 40)));
    QCOMPARE(host.log.count(QStringLiteral("beep")), 2);
}

QTEST_MAIN(SubtractTest)
#include "tst_subtract.moc"
