#include "app/form1.h"

#include "app/desktop.h"
#include "engine/stack/stack.h"
#include "imaging/commondialog.h"
#include "imaging/imagelist.h"
#include "imaging/panning.h"
#include "imaging/picturebox.h"
#include "imaging/saving.h"
#include "imaging/scaleunits.h"
#include "ops/brighten.h"
#include "ops/median.h"
#include "ops/subtract.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFrame>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcutEvent>

#include <algorithm>
#include <vector>

#include <utility>

Form1::Form1(CommonDialog &dialog, Desktop &desktop) : CommonDialog1(dialog), m_desktop(desktop)
{
    createControls();
    createStackMenu();
    connectHandlers();
    onLoad();
}

void Form1::createStackMenu()
{
    Command1->setContextMenuPolicy(Qt::CustomContextMenu);
    Command1->setToolTip(QStringLiteral("Right-click for more ways to stack"));
    MedianMenu = new QMenu(Command1);
    MedianMenu->setObjectName(QStringLiteral("MedianMenu"));
    addStackEntries(Framing::Aligned);
    MedianMenu->addSeparator();
    addStackEntries(Framing::AsShot);
}

// The table's modes in their places, aligned ones titled "<mode> of Aligned Frames".
void Form1::addStackEntries(Framing framing)
{
    const bool aligned = framing == Framing::Aligned;
    std::vector<const ModeEntry *> entries;
    for (const ModeEntry &entry : stackModes())
        if ((aligned ? entry.alignedMenuPlace : entry.plainMenuPlace) != NotInMenu)
            entries.push_back(&entry);
    std::ranges::sort(entries, {}, [aligned](const ModeEntry *entry) {
        return aligned ? entry->alignedMenuPlace : entry->plainMenuPlace;
    });
    for (const ModeEntry *entry : entries) {
        const QString name = entry->menuText + (aligned ? QStringLiteral(" of Aligned Frames") : QString());
        connect(MedianMenu->addAction(name), &QAction::triggered, this,
                [this, name, mode = entry->mode, framing] { stackList(*this, {.mode = mode}, name, framing); });
    }
}

void Form1::onLoad()
{
    BaseCaption = windowTitle();
    StopFlag = true;
}

void Form1::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &Form1::onCommand1Clicked);
    connect(Command1, &QWidget::customContextMenuRequested, this, &Form1::onMedianMenuRequested);
    connect(Command2, &QPushButton::clicked, this, &Form1::onCommand2Clicked);
    connect(Command3, &QPushButton::clicked, this, &Form1::onCommand3Clicked);
    connect(Command4, &QPushButton::clicked, this, &Form1::onCommand4Clicked);
    connect(Command5, &QPushButton::clicked, this, &Form1::onCommand5Clicked);
    connect(Command6, &QPushButton::clicked, this, &Form1::onCommand6Clicked);
    connect(Command7, &QPushButton::clicked, this, &Form1::onCommand7Clicked);
    connect(Command8, &QPushButton::clicked, this, &Form1::onCommand8Clicked);
    connect(List1, &QListWidget::itemSelectionChanged, this, &Form1::onList1Clicked);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form1::onHScroll1Changed);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::onVScroll1Changed);
}

void Form1::BeginWork()
{
    Command1->setEnabled(false);
    Command7->setEnabled(false);
    Command8->setEnabled(false);
    Command6->setEnabled(true);
}

void Form1::EndWork()
{
    Command6->setEnabled(false);
    Command1->setEnabled(true);
    Command7->setEnabled(true);
    Command8->setEnabled(true);
}

namespace {

// Only space characters are trimmed, not tabs or line breaks.
QString trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

} // namespace

void Form1::Cap(const QString &text)
{
    letEventsRun();
    setWindowTitle(BaseCaption + QStringLiteral(" - [") + trimSpaces(text) + u']');
    letEventsRun();
}

void Form1::letEventsRun()
{
    QCoreApplication::processEvents();
}

std::optional<FileIdentity> Form1::canvasSource() const
{
    return Picture1->source();
}

QImage &Form1::canvas()
{
    return Picture1->surface();
}

void Form1::setCanvas(QImage picture)
{
    Picture1->setPicture(std::move(picture));
}

void Form1::canvasChanged()
{
    Picture1->surfaceChanged();
}

const QImage &Form1::secondImage() const
{
    return Picture3->surface();
}

void Form1::setSecondImage(QImage picture)
{
    Picture3->setPicture(std::move(picture));
}

int Form1::imageCount() const
{
    return List1->count();
}

std::optional<QString> Form1::imagePath(int index) const
{
    const QListWidgetItem *item = List1->item(index);
    if (!item)
        return std::nullopt;
    return item->text();
}

void Form1::beep()
{
    m_desktop.beep();
}

void Form1::showInformation(const QString &text)
{
    m_desktop.showMessage(this, BaseCaption, text, false);
}

void Form1::showWarning(const QString &text)
{
    m_desktop.showMessage(this, BaseCaption, text, true);
}

void Form1::closeEvent(QCloseEvent *event)
{
    m_desktop.endProgram();
    event->ignore();
}

namespace {

// Nothing is taken while a dialog or message box waits for an answer. Dropped files are only
// read: accepting a proposed move would let the file manager delete them.
QStringList filesToTake(const QDropEvent &event)
{
    if (QApplication::activeModalWidget() || !(event.possibleActions() & Qt::CopyAction) || !event.mimeData())
        return {};
    return droppedFiles(*event.mimeData());
}

} // namespace

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->setAccepted(!filesToTake(*event).isEmpty());
}

// Like "+" with these files chosen, but the dialog's file name stays as it was.
void Form1::dropEvent(QDropEvent *event)
{
    const QStringList files = filesToTake(*event);
    event->setDropAction(Qt::CopyAction);
    event->setAccepted(!files.isEmpty());
    appendImages(*List1, *Picture1, files);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // A button's access key normally clicks it ~100 ms later from a timer, which would act
    // only after a running operation; click at once so a key acts like the mouse at an event
    // point. A key shared by two buttons keeps Qt's own rule (focus moves between them).
    auto *button = qobject_cast<QPushButton *>(watched);
    if (button && event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent *>(event)->isAmbiguous()) {
        if (button->isEnabled())
            button->click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::onCommand1Clicked()
{
    runMedian(*this);
}

// The button's menu pops up at the mouse, or below the button for the Menu key; a disabled
// button gets no menu, so no entry can start while an operation runs.
void Form1::onMedianMenuRequested(const QPoint &position)
{
    MedianMenu->popup(Command1->mapToGlobal(position));
}

void Form1::onCommand2Clicked()
{
    removeSelected(*List1);
}

void Form1::onCommand3Clicked()
{
    addImages(CommonDialog1, *List1, *Picture1);
}

void Form1::onCommand4Clicked()
{
    if (const std::optional<QString> failure = saveCanvas(CommonDialog1, std::as_const(*Picture1).surface()))
        showWarning(*failure);
}

void Form1::onCommand5Clicked()
{
    m_desktop.endProgram();
}

void Form1::onCommand6Clicked()
{
    Command6->setEnabled(false);
    StopFlag = true;
}

void Form1::onCommand7Clicked()
{
    runBrightening(*this);
}

void Form1::onCommand8Clicked()
{
    runSubtraction(*this, [this] { return askOpenPath(CommonDialog1); });
}

void Form1::onList1Clicked()
{
    showSelected(*List1, *Picture1);
}

void Form1::onHScroll1Changed()
{
    panHorizontally(*HScroll1, *Picture1, viewportInnerSize(*Picture2));
}

void Form1::onVScroll1Changed()
{
    panVertically(*VScroll1, *Picture1, viewportInnerSize(*Picture2));
}
