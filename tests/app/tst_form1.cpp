#include "app/form1.h"
#include "imaging/picturebox.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QFrame>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

namespace {

const QString Base = QStringLiteral("KORMIDAX - Ombrelux");

const QStringList ControlNames{"Command1", "List1",    "Command2", "Command3", "Command4",
                               "Command5", "Picture2", "Picture1", "VScroll1", "HScroll1",
                               "Command6", "Command7", "Command8", "Picture3"};

QWidget *control(const Form1 &window, const QString &name)
{
    return window.findChild<QWidget *>(name);
}

// Names of the buttons, list and bars that are disabled, in table order.
QStringList disabledControls(const Form1 &window)
{
    QStringList disabled;
    for (const QString &name : ControlNames) {
        const QWidget *widget = control(window, name);
        if (widget && !name.startsWith(u"Picture") && !widget->isEnabled())
            disabled << name;
    }
    return disabled;
}

// Records each button's enabled changes in the order they happen.
class EnabledLog : public QObject {
public:
    QStringList changes;

    explicit EnabledLog(const Form1 &window)
    {
        for (QPushButton *button : window.findChildren<QPushButton *>())
            button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            changes << watched->objectName() + (static_cast<QWidget *>(watched)->isEnabled() ? " on" : " off");
        return false;
    }
};

} // namespace

class Form1Test : public QObject {
    Q_OBJECT
private slots:
    void startsIdleWithBlankCanvas();
    void captions_data();
    void captions();
    void layout_data();
    void layout();
    void fixedWindowWithIcon();
    void nesting();
    void focusChainFollowsTable();
    void tabVisitsOnlyEnabledVisibleControls_data();
    void tabVisitsOnlyEnabledVisibleControls();
    void capTitle_data();
    void capTitle();
    void capTwiceShowsSecondOnly();
    void capLetsEventsRunBeforeAndAfterTitle();
    void busyAndIdlePatterns_data();
    void busyAndIdlePatterns();
    void stopDisablesItselfAndSetsFlag();
    void exitEndsProgram_data();
    void exitEndsProgram();
    void accessKeyClicksAtOnce();
    void panningFollowsBar_data();
    void panningFollowsBar();
    void canvasMovesOnlyWhenDragEnds();
    void noOverhangResetsBarAndCanvas_data();
    void noOverhangResetsBarAndCanvas();
};

void Form1Test::startsIdleWithBlankCanvas()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);

    QCOMPARE(window.windowTitle(), Base);
    QCOMPARE(window.BaseCaption, Base);
    QVERIFY(window.StopFlag);
    QCOMPARE(disabledControls(window), QStringList{"Command6"});
    auto *list = window.findChild<QListWidget *>("List1");
    QCOMPARE(list->count(), 0);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());

    auto *canvas = window.findChild<PictureBox *>("Picture1");
    QVERIFY(!canvas->hasPicture());
    QCOMPARE_PIXELS(canvas->surface(), filledPicture(233, 305, qRgb(0, 0, 0)));
    QCOMPARE(canvas->left(), 0.0f);
    QCOMPARE(canvas->top(), 0.0f);
    auto *hidden = window.findChild<PictureBox *>("Picture3");
    QVERIFY(hidden->isHidden());
    QVERIFY(!hidden->hasPicture());

    window.show();
    QVERIFY(canvas->isVisible());
    QVERIFY(!hidden->isVisible());
    QCOMPARE(dialog.modes, QStringList{});
    QCOMPARE(desktop.beeps, 0);
    QCOMPARE(desktop.messages, QStringList{});
}

void Form1Test::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("median") << "Command1" << "&Median";
    QTest::newRow("remove") << "Command2" << "-";
    QTest::newRow("add") << "Command3" << "+";
    QTest::newRow("save") << "Command4" << "&Save >>";
    QTest::newRow("exit") << "Command5" << "E&xit";
    QTest::newRow("stop") << "Command6" << "Stop";
    QTest::newRow("brighten") << "Command7" << "&Ombrelux";
    QTest::newRow("subtract") << "Command8" << "&Subtract >>";
}

void Form1Test::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    auto *button = window.findChild<QPushButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->palette().color(QPalette::Button), QColor(224, 224, 224));
}

void Form1Test::layout_data()
{
    // In scale units, relative to the inner area of the container.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("units");
    QTest::newRow("median") << "Command1" << QRect(120, 3960, 1335, 375);
    QTest::newRow("list") << "List1" << QRect(120, 120, 1335, 3180);
    QTest::newRow("remove") << "Command2" << QRect(840, 3600, 255, 255);
    QTest::newRow("add") << "Command3" << QRect(1200, 3600, 255, 255);
    QTest::newRow("save") << "Command4" << QRect(120, 5400, 1335, 375);
    QTest::newRow("exit") << "Command5" << QRect(120, 5880, 1335, 375);
    QTest::newRow("viewport") << "Picture2" << QRect(1560, 120, 5175, 5895);
    QTest::newRow("canvas in viewport's inner area") << "Picture1" << QRect(0, 0, 3495, 4575);
    QTest::newRow("vertical bar") << "VScroll1" << QRect(6720, 120, 255, 5895);
    QTest::newRow("horizontal bar") << "HScroll1" << QRect(1560, 6000, 5175, 255);
    QTest::newRow("stop") << "Command6" << QRect(120, 3600, 615, 255);
    QTest::newRow("brighten") << "Command7" << QRect(120, 4920, 1335, 375);
    QTest::newRow("subtract") << "Command8" << QRect(120, 4440, 1335, 375);
    QTest::newRow("hidden box in canvas") << "Picture3" << QRect(0, 0, 1575, 1695);
}

void Form1Test::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, units);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    const QWidget *widget = control(window, name);
    QVERIFY(widget);

    QPoint origin = widget->pos();
    if (name == u"Picture1") {
        const auto *viewport = window.findChild<QFrame *>("Picture2");
        origin = widget->mapTo(viewport, QPoint()) - viewport->contentsRect().topLeft();
    }
    const QRect expected(units.x() / 15, units.y() / 15, units.width() / 15, units.height() / 15);
    QCOMPARE(QRect(origin, widget->size()), expected);
}

void Form1Test::fixedWindowWithIcon()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.show();

    QCOMPARE(window.size(), QSize(472, 427));
    QCOMPARE(window.minimumSize(), QSize(472, 427));
    QCOMPARE(window.maximumSize(), QSize(472, 427));
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::black));

    const QList<QSize> sizes = window.windowIcon().availableSizes();
    QVERIFY2(sizes.contains(QSize(16, 16)), qPrintable(QDebug::toString(sizes)));
    QVERIFY2(sizes.contains(QSize(32, 32)), qPrintable(QDebug::toString(sizes)));
}

void Form1Test::nesting()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    const QWidget *viewport = control(window, "Picture2");
    const QWidget *canvas = control(window, "Picture1");
    QVERIFY(viewport->isAncestorOf(canvas));
    QCOMPARE(control(window, "Picture3")->parentWidget(), canvas);
    for (const QString &name : ControlNames)
        if (name != u"Picture1" && name != u"Picture3")
            QVERIFY2(control(window, name)->parentWidget() == &window, qPrintable(name));
}

void Form1Test::focusChainFollowsTable()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    QStringList chain;
    QWidget *start = control(window, "Command1");
    QWidget *widget = start;
    do {
        if (ControlNames.contains(widget->objectName()) && !chain.contains(widget->objectName()))
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != start);
    QCOMPARE(chain, ControlNames);
}

void Form1Test::tabVisitsOnlyEnabledVisibleControls_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QStringList>("visits");
    QTest::newRow("idle skips Stop and the hidden box")
        << false
        << QStringList{"List1",    "Command2", "Command3", "Command4", "Command5", "Picture2",
                       "Picture1", "VScroll1", "HScroll1", "Command7", "Command8", "Command1"};
    QTest::newRow("busy skips the operation buttons")
        << true
        << QStringList{"List1",    "Command2", "Command3", "Command4", "Command5",
                       "Picture2", "Picture1", "VScroll1", "HScroll1", "Command6", "List1"};
}

void Form1Test::tabVisitsOnlyEnabledVisibleControls()
{
    QFETCH(bool, busy);
    QFETCH(QStringList, visits);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget *first = control(window, busy ? "List1" : "Command1");
    if (busy) {
        window.BeginWork();
        // Tab from the list, as the first button is disabled now.
        visits.removeFirst();
    }
    first->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), first);

    QStringList visited;
    for (qsizetype i = 0; i < visits.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, visits);
}

void Form1Test::capTitle_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << "Done" << Base + " - [Done]";
    QTest::newRow("padded with spaces") << "  Done  " << Base + " - [Done]";
    QTest::newRow("empty") << "" << Base + " - []";
    QTest::newRow("only spaces") << "   " << Base + " - []";
    QTest::newRow("inner spaces kept") << "Processing image: 12" << Base + " - [Processing image: 12]";
    QTest::newRow("tabs are not spaces") << "\tDone\t" << Base + " - [\tDone\t]";
}

void Form1Test::capTitle()
{
    QFETCH(QString, text);
    QFETCH(QString, title);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.Cap(text);
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(window.BaseCaption, Base);
}

void Form1Test::capTwiceShowsSecondOnly()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.Cap(QStringLiteral("Generating Ombrelux..."));
    window.Cap(QStringLiteral("Done"));
    QCOMPARE(window.windowTitle(), Base + " - [Done]");
}

void Form1Test::capLetsEventsRunBeforeAndAfterTitle()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.Cap(QStringLiteral("Before"));

    // The second action is posted by the first, so it can only run at the next event point.
    QStringList titlesSeen;
    QMetaObject::invokeMethod(
        &window,
        [&] {
            titlesSeen << window.windowTitle();
            QMetaObject::invokeMethod(
                &window, [&] { titlesSeen << window.windowTitle(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    window.Cap(QStringLiteral("After"));
    QCOMPARE(titlesSeen, (QStringList{Base + " - [Before]", Base + " - [After]"}));
}

void Form1Test::busyAndIdlePatterns_data()
{
    QTest::addColumn<bool>("begin");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QStringList>("disabled");
    QTest::newRow("BeginWork") << true
                               << QStringList{"Command1 off", "Command7 off", "Command8 off", "Command6 on"}
                               << QStringList{"Command1", "Command7", "Command8"};
    QTest::newRow("EndWork") << false
                             << QStringList{"Command6 off", "Command1 on", "Command7 on", "Command8 on"}
                             << QStringList{"Command6"};
}

void Form1Test::busyAndIdlePatterns()
{
    QFETCH(bool, begin);
    QFETCH(QStringList, order);
    QFETCH(QStringList, disabled);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    if (!begin)
        window.BeginWork();
    const QString title = window.windowTitle();

    EnabledLog log(window);
    if (begin)
        window.BeginWork();
    else
        window.EndWork();
    QCOMPARE(log.changes, order);
    QCOMPARE(disabledControls(window), disabled);
    QCOMPARE(window.windowTitle(), title);
}

void Form1Test::stopDisablesItselfAndSetsFlag()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.BeginWork();
    window.StopFlag = false;
    window.Cap(QStringLiteral("Processing image: 1"));

    auto *stop = window.findChild<QPushButton *>("Command6");
    EnabledLog log(window);
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(window.StopFlag);
    QCOMPARE(log.changes, QStringList{"Command6 off"});
    QCOMPARE(disabledControls(window), (QStringList{"Command1", "Command6", "Command7", "Command8"}));
    QCOMPARE(window.windowTitle(), Base + " - [Processing image: 1]");

    // A disabled Stop takes no second press.
    window.StopFlag = false;
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(!window.StopFlag);
}

void Form1Test::exitEndsProgram_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Exit button") << true;
    QTest::newRow("close request") << false;
}

void Form1Test::exitEndsProgram()
{
    QFETCH(bool, byButton);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.show();
    if (byButton)
        QTest::mouseClick(window.findChild<QPushButton *>("Command5"), Qt::LeftButton);
    else
        window.close();
    QCOMPARE(desktop.endCalls, 1);
    QCOMPARE(desktop.messages, QStringList{});
    QCOMPARE(dialog.modes, QStringList{});
    QCOMPARE(window.windowTitle(), Base);
}

void Form1Test::accessKeyClicksAtOnce()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // No event loop runs after the key, so a delayed (animated) click would not count here.
    QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
    QCOMPARE(desktop.endCalls, 1);

    QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
    QCOMPARE(desktop.beeps, 1);
    QCOMPARE(window.windowTitle(), Base + " - [Done]");
}

void Form1Test::panningFollowsBar_data()
{
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<int>("value");
    QTest::newRow("left edge") << true << 0;
    QTest::newRow("a third across") << true << 33;
    QTest::newRow("fraction of a unit") << true << 7;
    QTest::newRow("right edge") << true << 99;
    QTest::newRow("top edge") << false << 0;
    QTest::newRow("half down") << false << 50;
    QTest::newRow("bottom edge") << false << 99;
}

void Form1Test::panningFollowsBar()
{
    QFETCH(bool, horizontal);
    QFETCH(int, value);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    auto *canvas = window.findChild<PictureBox *>("Picture1");
    const auto *viewport = window.findChild<QFrame *>("Picture2");
    auto *bar = window.findChild<QScrollBar *>(horizontal ? "HScroll1" : "VScroll1");
    auto *other = window.findChild<QScrollBar *>(horizontal ? "VScroll1" : "HScroll1");
    QCOMPARE(bar->minimum(), 0);
    QVERIFY(bar->maximum() > 0);

    canvas->setPicture(filledPicture(1000, 800, qRgb(9, 9, 9)));
    // Start from elsewhere so that every row is a change.
    bar->setValue(value == 50 ? 10 : 50);
    bar->setValue(value);

    const QSize inner = viewport->contentsRect().size();
    const double overhang = horizontal ? (1000 - inner.width()) * 15.0 : (800 - inner.height()) * 15.0;
    const auto expected = static_cast<float>(-(overhang * value / bar->maximum()));
    QCOMPARE(horizontal ? canvas->left() : canvas->top(), expected);
    QCOMPARE(horizontal ? canvas->top() : canvas->left(), 0.0f);
    QCOMPARE(other->value(), 0);
    if (value == bar->maximum()) {
        // The far edge of the picture meets the far edge of the viewport's inner area.
        const QRect placed(canvas->mapTo(viewport, QPoint()), canvas->size());
        QCOMPARE(horizontal ? placed.right() : placed.bottom(),
                 horizontal ? viewport->contentsRect().right() : viewport->contentsRect().bottom());
    }
}

void Form1Test::canvasMovesOnlyWhenDragEnds()
{
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    auto *canvas = window.findChild<PictureBox *>("Picture1");
    auto *bar = window.findChild<QScrollBar *>("HScroll1");
    canvas->setPicture(filledPicture(1000, 800, qRgb(9, 9, 9)));

    bar->setSliderDown(true);
    bar->setSliderPosition(40);
    QCOMPARE(canvas->left(), 0.0f);
    bar->setSliderDown(false);
    QCOMPARE(bar->value(), 40);
    QVERIFY(canvas->left() < 0.0f);
}

void Form1Test::noOverhangResetsBarAndCanvas_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<bool>("horizontal");
    QTest::newRow("exactly the viewport's width") << QSize() << true;
    QTest::newRow("small picture after a panned large one, horizontal") << QSize(100, 100) << true;
    QTest::newRow("small picture after a panned large one, vertical") << QSize(100, 100) << false;
    QTest::newRow("wide picture, vertical bar") << QSize(1000, 100) << false;
}

void Form1Test::noOverhangResetsBarAndCanvas()
{
    QFETCH(QSize, picture);
    QFETCH(bool, horizontal);
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    auto *canvas = window.findChild<PictureBox *>("Picture1");
    auto *bar = window.findChild<QScrollBar *>(horizontal ? "HScroll1" : "VScroll1");
    auto *other = window.findChild<QScrollBar *>(horizontal ? "VScroll1" : "HScroll1");
    const QSize inner = window.findChild<QFrame *>("Picture2")->contentsRect().size();
    if (picture.isEmpty())
        picture = QSize(inner.width(), 800);

    canvas->setPicture(filledPicture(1000, 800, qRgb(9, 9, 9)));
    bar->setValue(60);
    other->setValue(60);
    const float otherShift = horizontal ? canvas->top() : canvas->left();
    QVERIFY(otherShift < 0.0f);

    canvas->setPicture(filledPicture(picture.width(), picture.height(), qRgb(9, 9, 9)));
    // Loading does not move the canvas; the next change of the bar does.
    QVERIFY((horizontal ? canvas->left() : canvas->top()) < 0.0f);
    bar->setValue(70);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(horizontal ? canvas->left() : canvas->top(), 0.0f);
    QCOMPARE(horizontal ? canvas->top() : canvas->left(), otherShift);
    QCOMPARE(canvas->pos(), horizontal ? QPoint(0, canvas->y()) : QPoint(canvas->x(), 0));
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
