#include "app/form1.h"

#include "imaging/picturebox.h"
#include "imaging/scaleunits.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

namespace {

const QColor ButtonFace(224, 224, 224);

// Geometry in scale units, as the layout is drawn up.
QRect unitsRect(int left, int top, int width, int height)
{
    return {unitsToPixels(left), unitsToPixels(top), unitsToPixels(width), unitsToPixels(height)};
}

void paintBackground(QWidget &widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget.palette();
    palette.setColor(role, color);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    paintBackground(*button, QPalette::Button, ButtonFace);
    return button;
}

QScrollBar *makeScrollBar(QWidget *parent, const char *name, Qt::Orientation orientation, QRect geometry)
{
    auto *bar = new QScrollBar(orientation, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(geometry);
    bar->setRange(0, 99);
    // The canvas moves when a drag ends, not while the thumb follows the mouse.
    bar->setTracking(false);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

} // namespace

void Form1::createControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KORMIDAX - Ombrelux"));
    setWindowIcon(QIcon(QStringLiteral(":/ombrelux.ico")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(unitsToPixels(7080), unitsToPixels(6405));
    paintBackground(*this, QPalette::Window, Qt::black);
    // Files dropped anywhere on the window land here: no control takes drops of its own.
    setAcceptDrops(true);

    Command1 = makeButton(this, "Command1", QStringLiteral("&Median"), unitsRect(120, 3960, 1335, 375));
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(unitsRect(120, 120, 1335, 3180));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    paintBackground(*List1, QPalette::Base, ButtonFace);
    Command2 = makeButton(this, "Command2", QStringLiteral("-"), unitsRect(840, 3600, 255, 255));
    Command3 = makeButton(this, "Command3", QStringLiteral("+"), unitsRect(1200, 3600, 255, 255));
    Command4 = makeButton(this, "Command4", QStringLiteral("&Save >>"), unitsRect(120, 5400, 1335, 375));
    Command5 = makeButton(this, "Command5", QStringLiteral("E&xit"), unitsRect(120, 5880, 1335, 375));

    Picture2 = new QFrame(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(unitsRect(1560, 120, 5175, 5895));
    Picture2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture2->setLineWidth(2);
    Picture2->setFocusPolicy(Qt::StrongFocus);
    paintBackground(*Picture2, QPalette::Window, Qt::black);
    // Clips the canvas to the viewport's inner area, inside its frame.
    auto *viewportInner = new QWidget(Picture2);
    viewportInner->setGeometry(Picture2->contentsRect());

    Picture1 = new PictureBox(unitsRect(0, 0, 3495, 4575).size(), viewportInner);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFocusPolicy(Qt::StrongFocus);

    VScroll1 = makeScrollBar(this, "VScroll1", Qt::Vertical, unitsRect(6720, 120, 255, 5895));
    HScroll1 = makeScrollBar(this, "HScroll1", Qt::Horizontal, unitsRect(1560, 6000, 5175, 255));
    Command6 = makeButton(this, "Command6", QStringLiteral("Stop"), unitsRect(120, 3600, 615, 255));
    Command6->setEnabled(false);
    Command7 = makeButton(this, "Command7", QStringLiteral("&Ombrelux"), unitsRect(120, 4920, 1335, 375));
    Command8 = makeButton(this, "Command8", QStringLiteral("&Subtract >>"), unitsRect(120, 4440, 1335, 375));

    Picture3 = new PictureBox(unitsRect(0, 0, 1575, 1695).size(), Picture1);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->hide();

    const QList<QWidget *> tabOrder{Command1, List1,    Command2,
                                    Command3, Command4, Command5, Picture2, Picture1, VScroll1, HScroll1,
                                    Command6, Command7, Command8, Picture3};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
