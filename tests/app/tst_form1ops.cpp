#include "app/form1.h"
#include "imaging/imagelist.h"
#include "imaging/picturebox.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QImageReader>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

const QString Base = QStringLiteral("KORMIDAX - Ombrelux");

QString status(const QString &text)
{
    return Base + " - [" + text + "]";
}

QPushButton *button(const Form1 &window, const char *name)
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

PictureBox *canvasOf(const Form1 &window)
{
    return window.findChild<PictureBox *>("Picture1");
}

QStringList disabledControls(const Form1 &window)
{
    QStringList disabled;
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if ((name.startsWith(u"Command") || name == u"List1" || name.endsWith(u"Scroll1")) && !widget->isEnabled())
            disabled << name;
    }
    disabled.sort();
    return disabled;
}

const QStringList Busy{"Command1", "Command7", "Command8"};
const QStringList Idle{"Command6"};

// Runs the action at the n-th event point from now (0-based). Each pass of pending events
// handles only what was posted before it, so every re-post moves on by one point.
void atEventPoint(QObject *context, int n, const std::function<void()> &action)
{
    QMetaObject::invokeMethod(
        context, [=] { n == 0 ? action() : atEventPoint(context, n - 1, action); }, Qt::QueuedConnection);
}

void queueClick(QPushButton *target, int point = 0)
{
    if (point == 0)
        QMetaObject::invokeMethod(target, &QAbstractButton::click, Qt::QueuedConnection);
    else
        atEventPoint(target, point, [target] { target->click(); });
}

// Every title the window shows, with the disabled controls at that moment.
struct TitleLog {
    QStringList titles;
    QList<QStringList> disabled;

    explicit TitleLog(Form1 &window)
    {
        QObject::connect(&window, &QWidget::windowTitleChanged, &window, [this, &window](const QString &title) {
            titles << title;
            disabled << disabledControls(window);
        });
    }
};

QImage brightened(const QImage &picture)
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    canvasOf(window)->setPicture(picture);
    button(window, "Command7")->click();
    return canvasOf(window)->surface();
}

// Adds three 5 x 4 frames through "+"; per channel they hold 10, 30 and 20 in some order.
void addThreeFrames(FakeDialog &dialog, Form1 &window, const QString &dir)
{
    for (const QRgb color : {qRgb(10, 20, 30), qRgb(30, 10, 20), qRgb(20, 30, 10)})
        dialog.answers.push_back(
            writePicture(filledPicture(5, 4, color), dir, QStringLiteral("m%1.bmp").arg(color, 0, 16)));
    for (int i = 0; i < 3; ++i)
        button(window, "Command3")->click();
}

} // namespace

class Form1OpsTest : public QObject {
    Q_OBJECT
private slots:
    void brighteningThroughButton();
    void stopDuringBrighteningChangesNothing_data();
    void stopDuringBrighteningChangesNothing();
    void exitHandledAtEventPoint_data();
    void exitHandledAtEventPoint();
    void saveAtEventPointWritesCanvasOfThatMoment_data();
    void saveAtEventPointWritesCanvasOfThatMoment();
    void loadAtFirstEventPointKeepsOldExtent();
    void subtractionThroughButton_data();
    void subtractionThroughButton();
    void medianThroughButton();
    void stackMenuEntriesRunLikeMedian_data();
    void stackMenuEntriesRunLikeMedian();
    void unalignableFramesLeftOut_data();
    void unalignableFramesLeftOut();
    void medianNeedsTwoImages_data();
    void medianNeedsTwoImages();
    void stopDuringMedianLoadingEndsEarly();

private:
    QTemporaryDir m_dir;
};

void Form1OpsTest::brighteningThroughButton()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    QImage picture = filledPicture(5, 3, qRgb(200, 100, 50));
    picture.setPixel(4, 2, qRgb(128, 128, 128));
    canvasOf(window)->setPicture(picture);
    window.StopFlag = false;

    TitleLog log(window);
    QTest::mouseClick(button(window, "Command7"), Qt::LeftButton);

    QCOMPARE(log.titles, (QStringList{status("Generating Ombrelux..."), status("Done")}));
    QCOMPARE(log.disabled, (QList<QStringList>{Busy, Busy}));
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.beeps, 1);
    QCOMPARE(desktop.messages, QStringList{});
    QVERIFY(!window.StopFlag);
    const QImage &result = canvasOf(window)->surface();
    QCOMPARE(result.size(), QSize(5, 3));
    QCOMPARE(result.pixel(0, 0), qRgb(255, 150, 75));
    QCOMPARE(result.pixel(3, 2), qRgb(255, 150, 75));
    QCOMPARE(result.pixel(4, 2), qRgb(192, 192, 192));
}

void Form1OpsTest::stopDuringBrighteningChangesNothing_data()
{
    // Points 0 and 1 lie in the first status update, 2 and 3 in the final "Done".
    QTest::addColumn<int>("point");
    QTest::addColumn<QString>("titleAtPress");
    QTest::newRow("before the pass") << 0 << Base;
    QTest::newRow("after the title is set") << 1 << status("Generating Ombrelux...");
    QTest::newRow("in the final update") << 2 << status("Generating Ombrelux...");
}

void Form1OpsTest::stopDuringBrighteningChangesNothing()
{
    QFETCH(int, point);
    QFETCH(QString, titleAtPress);
    const QImage picture = randomPicture(37, 23, 7);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    canvasOf(window)->setPicture(picture);
    window.StopFlag = false;

    QPushButton *stop = button(window, "Command6");
    QStringList titlesAtPress;
    connect(stop, &QAbstractButton::clicked, &window, [&] { titlesAtPress << window.windowTitle(); });
    queueClick(stop, point);
    TitleLog log(window);
    button(window, "Command7")->click();

    QCOMPARE(titlesAtPress, QStringList{titleAtPress});
    QVERIFY(window.StopFlag);
    QCOMPARE_PIXELS(canvasOf(window)->surface(), brightened(picture));
    QCOMPARE(log.titles, (QStringList{status("Generating Ombrelux..."), status("Done")}));
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.beeps, 1);
}

void Form1OpsTest::exitHandledAtEventPoint_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Exit button") << true;
    QTest::newRow("close request") << false;
}

void Form1OpsTest::exitHandledAtEventPoint()
{
    QFETCH(bool, byButton);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.show();

    QList<int> endCallsAtTitle;
    connect(&window, &QWidget::windowTitleChanged, &window, [&] { endCallsAtTitle << desktop.endCalls; });
    if (byButton)
        queueClick(button(window, "Command5"));
    else
        QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
    button(window, "Command7")->click();

    // The fake cannot end the process, so the pass goes on; the end came at the first point.
    QCOMPARE(endCallsAtTitle, (QList<int>{1, 1}));
    QCOMPARE(desktop.endCalls, 1);
}

void Form1OpsTest::saveAtEventPointWritesCanvasOfThatMoment_data()
{
    QTest::addColumn<int>("point");
    QTest::addColumn<bool>("brightenedInFile");
    QTest::newRow("before the pass") << 0 << false;
    QTest::newRow("in the final update") << 2 << true;
}

void Form1OpsTest::saveAtEventPointWritesCanvasOfThatMoment()
{
    QFETCH(int, point);
    QFETCH(bool, brightenedInFile);
    const QImage picture = randomPicture(19, 11, 3);
    const QString path = m_dir.filePath(QStringLiteral("during%1.bmp").arg(point));
    FakeDialog dialog;
    dialog.answers.push_back(path);
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    canvasOf(window)->setPicture(picture);

    queueClick(button(window, "Command4"), point);
    button(window, "Command7")->click();

    QCOMPARE(dialog.modes, QStringList{"save"});
    QCOMPARE(QImageReader(path).format(), QByteArray("bmp"));
    QCOMPARE_PIXELS(QImage(path), brightenedInFile ? brightened(picture) : picture);
    QCOMPARE_PIXELS(canvasOf(window)->surface(), brightened(picture));
    QCOMPARE(window.windowTitle(), status("Done"));
    QCOMPARE(desktop.beeps, 1);
}

void Form1OpsTest::loadAtFirstEventPointKeepsOldExtent()
{
    const QString large = writePicture(filledPicture(8, 6, qRgb(100, 100, 100)), m_dir.path(), "large.bmp");
    FakeDialog dialog;
    dialog.answers.push_back(large);
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    canvasOf(window)->setPicture(filledPicture(3, 2, qRgb(10, 10, 10)));

    queueClick(button(window, "Command3"));
    button(window, "Command7")->click();

    // The pass was sized before the "+" ran, so only the old 3 x 2 corner is brightened.
    const QImage &result = canvasOf(window)->surface();
    QCOMPARE(result.size(), QSize(8, 6));
    QCOMPARE(result.pixel(2, 1), qRgb(150, 150, 150));
    QCOMPARE(result.pixel(3, 1), qRgb(100, 100, 100));
    QCOMPARE(result.pixel(2, 2), qRgb(100, 100, 100));
    QCOMPARE(window.findChild<QListWidget *>("List1")->count(), 1);
}

void Form1OpsTest::subtractionThroughButton_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("file chosen") << false;
    QTest::newRow("dialog cancelled") << true;
}

void Form1OpsTest::subtractionThroughButton()
{
    QFETCH(bool, cancel);
    const QString second = writePicture(filledPicture(6, 5, qRgb(50, 150, 50)), m_dir.path(), "second.bmp");
    const QImage picture = filledPicture(4, 3, qRgb(200, 100, 50));
    FakeDialog dialog;
    dialog.answers.push_back(cancel ? std::nullopt : std::optional<QString>(second));
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    canvasOf(window)->setPicture(picture);
    window.Cap(QStringLiteral("Earlier"));

    TitleLog log(window);
    QTest::mouseClick(button(window, "Command8"), Qt::LeftButton);

    QCOMPARE(dialog.filtersShown, QStringList{OpenFilter});
    QCOMPARE(dialog.modes, QStringList{"open"});
    QCOMPARE(disabledControls(window), Idle);
    auto *hidden = window.findChild<PictureBox *>("Picture3");
    QVERIFY(hidden->isHidden());
    if (cancel) {
        QCOMPARE(log.titles, QStringList{});
        QCOMPARE(window.windowTitle(), status("Earlier"));
        QCOMPARE(desktop.beeps, 0);
        QCOMPARE_PIXELS(canvasOf(window)->surface(), picture);
        QVERIFY(!hidden->hasPicture());
    } else {
        QCOMPARE(log.titles, (QStringList{status("Generating Subtraction..."), status("Done")}));
        QCOMPARE(log.disabled, (QList<QStringList>{Busy, Busy}));
        QCOMPARE(desktop.beeps, 1);
        QCOMPARE_PIXELS(canvasOf(window)->surface(), filledPicture(4, 3, qRgb(150, 0, 0)));
        QCOMPARE(hidden->surface().size(), QSize(6, 5));
    }
}

void Form1OpsTest::medianThroughButton()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    addThreeFrames(dialog, window, m_dir.path());

    TitleLog log(window);
    QTest::mouseClick(button(window, "Command1"), Qt::LeftButton);

    QCOMPARE(log.titles, (QStringList{status("Processing image: 1"), status("Processing image: 2"),
                                      status("Processing image: 3"), status("Generating Median..."),
                                      status("Done")}));
    QCOMPARE(log.disabled, QList<QStringList>(5, Busy));
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.beeps, 1);
    QCOMPARE(desktop.messages, QStringList{});
    QVERIFY(!window.StopFlag);
    QCOMPARE_PIXELS(canvasOf(window)->surface(), filledPicture(5, 4, qRgb(20, 20, 20)));
}

void Form1OpsTest::stackMenuEntriesRunLikeMedian_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QRgb>("result");
    // Per channel the frames hold 10, 30 and 20 in some order.
    QTest::newRow("mean") << "Mean" << qRgb(20, 20, 20);
    QTest::newRow("sigma") << "Sigma-Clipped Mean" << qRgb(20, 20, 20);
    QTest::newRow("minimum") << "Minimum" << qRgb(10, 10, 10);
    QTest::newRow("maximum") << "Maximum" << qRgb(30, 30, 30);
}

void Form1OpsTest::stackMenuEntriesRunLikeMedian()
{
    QFETCH(QString, entry);
    QFETCH(QRgb, result);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    addThreeFrames(dialog, window, m_dir.path());
    QCOMPARE(button(window, "Command1")->toolTip(), QStringLiteral("Right-click for more ways to stack"));
    const auto *menu = window.findChild<QMenu *>("MedianMenu");
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text();
    QCOMPARE(texts, (QStringList{"Median of Aligned Frames", "Mean of Aligned Frames",
                                 "Sigma-Clipped Mean of Aligned Frames", "", "Mean", "Sigma-Clipped Mean", "Minimum",
                                 "Maximum"}));
    QVERIFY(menu->actions().at(3)->isSeparator());

    TitleLog log(window);
    menu->actions().at(int(texts.indexOf(entry)))->trigger();

    QCOMPARE(log.titles, (QStringList{status("Processing image: 1"), status("Processing image: 2"),
                                      status("Processing image: 3"), status("Generating " + entry + "..."),
                                      status("Done")}));
    QCOMPARE(log.disabled, QList<QStringList>(5, Busy));
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.beeps, 1);
    QCOMPARE_PIXELS(canvasOf(window)->surface(), filledPicture(5, 4, result));
}

void Form1OpsTest::unalignableFramesLeftOut_data()
{
    QTest::addColumn<QString>("entry");
    for (const char *entry : {"Median of Aligned Frames", "Mean of Aligned Frames", "Sigma-Clipped Mean of Aligned Frames"})
        QTest::newRow(entry) << entry;
}

// Flat frames have nothing to align by: each is left out, and the canvas, which no frame then
// covers, keeps its picture.
void Form1OpsTest::unalignableFramesLeftOut()
{
    QFETCH(QString, entry);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    addThreeFrames(dialog, window, m_dir.path());
    const QImage before = canvasOf(window)->surface().copy();
    const auto *menu = window.findChild<QMenu *>("MedianMenu");
    TitleLog log(window);
    for (QAction *action : menu->actions())
        if (action->text() == entry)
            action->trigger();

    QCOMPARE(log.titles, (QStringList{status("Processing image: 1"), status("Processing image: 2"),
                                      status("Processing image: 3"), status("Generating " + entry + "..."),
                                      status("Done")}));
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.messages, QStringList{Base + "|3 of 3 images could not be aligned and were left out.|information"});
    QCOMPARE_PIXELS(canvasOf(window)->surface(), before);
}

void Form1OpsTest::medianNeedsTwoImages_data()
{
    QTest::addColumn<int>("entries");
    QTest::newRow("empty list") << 0;
    QTest::newRow("one entry") << 1;
}

void Form1OpsTest::medianNeedsTwoImages()
{
    QFETCH(int, entries);
    const QString path = writePicture(filledPicture(4, 4, qRgb(1, 2, 3)), m_dir.path(), "one.bmp");
    FakeDialog dialog;
    dialog.answers.push_back(path);
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    if (entries == 1)
        button(window, "Command3")->click();
    const QImage before = canvasOf(window)->surface();

    QStringList titleAtMessage;
    QList<QStringList> disabledAtMessage;
    desktop.onMessage = [&] {
        titleAtMessage << window.windowTitle();
        disabledAtMessage << disabledControls(window);
    };
    QTest::mouseClick(button(window, "Command1"), Qt::LeftButton);

    QCOMPARE(desktop.messages, QStringList{Base + "|Must be at least 2 images|information"});
    QCOMPARE(titleAtMessage, QStringList{status("Done")});
    QCOMPARE(disabledAtMessage, QList<QStringList>{Idle});
    QCOMPARE(desktop.beeps, 0);
    QCOMPARE_PIXELS(canvasOf(window)->surface(), before);
}

void Form1OpsTest::stopDuringMedianLoadingEndsEarly()
{
    FakeDialog dialog;
    for (int i = 0; i < 3; ++i)
        dialog.answers.push_back(
            writePicture(randomPicture(6, 4, std::uint32_t(i)), m_dir.path(), QStringLiteral("s%1.bmp").arg(i)));
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    for (int i = 0; i < 3; ++i)
        button(window, "Command3")->click();

    queueClick(button(window, "Command6"));
    TitleLog log(window);
    button(window, "Command1")->click();

    QCOMPARE(log.titles, (QStringList{status("Processing image: 1"), status("Done")}));
    QVERIFY(window.StopFlag);
    QCOMPARE(disabledControls(window), Idle);
    QCOMPARE(desktop.beeps, 1);
    // No median was painted: the canvas holds the first listed image as loaded.
    QCOMPARE_PIXELS(canvasOf(window)->surface(), randomPicture(6, 4, 0));
}

QTEST_MAIN(Form1OpsTest)
#include "tst_form1ops.moc"
