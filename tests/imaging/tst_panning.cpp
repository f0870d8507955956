#include "imaging/panning.h"
#include "imaging/picturebox.h"
#include "support/images.h"

#include <QScrollBar>
#include <QtTest>

class PanningTest : public QObject {
    Q_OBJECT
private slots:
    void shift_data();
    void shift();
    void axes_data();
    void axes();
    void smallPictureAfterPannedLargeOneComesBack();
};

void PanningTest::shift_data()
{
    QTest::addColumn<double>("overhang");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<float>("expected");
    QTest::newRow("value 3 of 10") << 900.0 << 3 << 10 << 270.0f;
    QTest::newRow("maximum: far edge") << 900.0 << 10 << 10 << 900.0f;
    QTest::newRow("zero: near edge") << 900.0 << 0 << 10 << 0.0f;
    QTest::newRow("fraction kept") << 1000.0 << 1 << 3 << 333.33334f;
    QTest::newRow("default range") << 14885.0 << 50 << 99 << 7517.6768f;
}

void PanningTest::shift()
{
    QFETCH(double, overhang);
    QFETCH(int, value);
    QFETCH(int, maximum);
    QFETCH(float, expected);
    QCOMPARE(panShift(overhang, value, maximum), expected);
}

void PanningTest::axes_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");
    QTest::addColumn<int>("hValue");
    QTest::addColumn<int>("vValue");
    // Viewport 300 x 200 px = 4500 x 3000 units; bars at 3 of 10.
    QTest::newRow("overhangs both ways") << QSize(360, 300) << -270.0f << -450.0f << 3 << 3;
    QTest::newRow("exactly as wide: no horizontal pan") << QSize(300, 300) << 0.0f << -450.0f << 0 << 3;
    QTest::newRow("overhangs horizontally only") << QSize(360, 100) << -270.0f << 0.0f << 3 << 0;
}

void PanningTest::axes()
{
    QFETCH(QSize, picture);
    QFETCH(float, left);
    QFETCH(float, top);
    QFETCH(int, hValue);
    QFETCH(int, vValue);
    PictureBox canvas(QSize(10, 10), nullptr);
    canvas.setPicture(filledPicture(picture.width(), picture.height(), qRgb(1, 2, 3)));
    QScrollBar horizontal(Qt::Horizontal);
    QScrollBar vertical(Qt::Vertical);
    for (QScrollBar *bar : {&horizontal, &vertical}) {
        bar->setRange(0, 10);
        bar->setValue(3);
    }
    const QSizeF viewport(4500, 3000);
    panHorizontally(horizontal, canvas, viewport);
    QCOMPARE(canvas.top(), 0.0f);
    panVertically(vertical, canvas, viewport);
    QCOMPARE(canvas.left(), left);
    QCOMPARE(canvas.top(), top);
    QCOMPARE(horizontal.value(), hValue);
    QCOMPARE(vertical.value(), vValue);
    QCOMPARE(canvas.pos(), QPoint(qRound(left / 15), qRound(top / 15)));
}

void PanningTest::smallPictureAfterPannedLargeOneComesBack()
{
    PictureBox canvas(QSize(10, 10), nullptr);
    canvas.setPicture(filledPicture(1000, 10, qRgb(0, 0, 0)));
    QScrollBar bar(Qt::Horizontal);
    bar.setRange(0, 99);
    bar.setValue(99);
    panHorizontally(bar, canvas, QSizeF(4500, 3000));
    QCOMPARE(canvas.left(), -10500.0f);

    canvas.setPicture(filledPicture(20, 10, qRgb(0, 0, 0)));
    QCOMPARE(canvas.left(), -10500.0f); // a load does not move the canvas
    bar.setValue(98);
    panHorizontally(bar, canvas, QSizeF(4500, 3000));
    QCOMPARE(canvas.left(), 0.0f);
    QCOMPARE(bar.value(), 0);
}

QTEST_MAIN(PanningTest)
#include "tst_panning.moc"
