#include "engine/core/filenames.h"
#include "support/window/testwindow.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Base = QStringLiteral("KORMIDAX - Ombrelux");

QList<QUrl> localUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

struct Window : TestWindow {
    // A file manager offers copy and move and proposes a move; the answer must be a copy.
    // Qt delivers a drop only to the widget that accepted the drag's entry.
    bool dragEnter(const QList<QUrl> &urls, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent event(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        return send(event);
    }
    bool drop(const QList<QUrl> &urls, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        QMimeData data;
        data.setUrls(urls);
        QDropEvent event(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        return send(event);
    }
    bool dragAndDrop(const QList<QUrl> &urls) { return dragEnter(urls) && drop(urls); }
    bool send(QDropEvent &event)
    {
        event.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(&form, &event);
        return event.isAccepted() && event.dropAction() == Qt::CopyAction;
    }
};

} // namespace

class Form1DropsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void windowIsTheTargetEverywhere_data();
    void windowIsTheTargetEverywhere();
    void dragIsAcceptedOnlyWithAFile_data();
    void dragIsAcceptedOnlyWithAFile();
    void dropAppendsLocalFilesInOrder();
    void refusedWhileADialogIsOpen();
    void dropAtEventPointOfMedian();
    void namesThatAreNotUtf8Load_data();
    void namesThatAreNotUtf8Load();

private:
    QTemporaryDir m_dir;
    QString m_a, m_b, m_text;
    QUrl m_remote;
};

void Form1DropsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_a = writePicture(randomPicture(7, 5, 1), m_dir.path(), "a.bmp");
    m_b = writePicture(randomPicture(9, 4, 2), m_dir.path(), "b.png", "png");
    m_text = m_dir.filePath("notes.txt");
    QFile text(m_text);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture\n");
    QVERIFY(QDir(m_dir.path()).mkdir("folder"));
    m_remote = QUrl(QStringLiteral("https://example.com/photo.jpg"));
}

void Form1DropsTest::windowIsTheTargetEverywhere_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("list") << "List1";
    QTest::newRow("canvas") << "Picture1";
    QTest::newRow("viewport") << "Picture2";
    QTest::newRow("button") << "Command3";
}

// Qt hands a drop to the first widget upward from the one under the mouse that accepts drops.
void Form1DropsTest::windowIsTheTargetEverywhere()
{
    QFETCH(QString, control);
    Window w;
    w.form.show();
    const QWidget *widget = w.form.findChild<QWidget *>(control);
    // The viewport's lower right corner, which the canvas does not cover.
    const QPoint inside =
        control == u"Picture2" ? widget->rect().bottomRight() - QPoint(8, 8) : widget->rect().center();
    QWidget *target = w.form.childAt(widget->mapTo(&w.form, inside));
    QVERIFY(target && (target == widget || widget->isAncestorOf(target)));
    while (target && !target->acceptDrops())
        target = target->parentWidget();
    QCOMPARE(target, &w.form);
}

void Form1DropsTest::dragIsAcceptedOnlyWithAFile_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<Qt::DropActions>("offered");
    QTest::addColumn<bool>("accepted");
    const Qt::DropActions copyOrMove = Qt::CopyAction | Qt::MoveAction;
    const QUrl folder = QUrl::fromLocalFile(m_dir.filePath("folder"));
    QTest::newRow("a picture") << localUrls({m_a}) << copyOrMove << true;
    QTest::newRow("a file that does not decode") << localUrls({m_text}) << copyOrMove << true;
    QTest::newRow("a file among others") << QList<QUrl>{m_remote, folder, QUrl::fromLocalFile(m_b)} << copyOrMove << true;
    QTest::newRow("remote and folder only") << QList<QUrl>{m_remote, folder} << copyOrMove << false;
    QTest::newRow("no urls") << QList<QUrl>{} << copyOrMove << false;
    QTest::newRow("only a move offered") << localUrls({m_a}) << Qt::DropActions(Qt::MoveAction) << false;
}

void Form1DropsTest::dragIsAcceptedOnlyWithAFile()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(Qt::DropActions, offered);
    QFETCH(bool, accepted);
    Window w;
    QCOMPARE(w.dragEnter(urls, offered), accepted);
    // Qt drops only after an accepted entry.
    if (accepted)
        QVERIFY(w.drop(urls, offered));
    QCOMPARE(w.list()->count(), accepted ? 1 : 0);
}

void Form1DropsTest::dropAppendsLocalFilesInOrder()
{
    Window w;
    w.dialog.answers.push_back(m_a);
    w.button("Command3")->click();
    w.list()->setCurrentRow(0);

    QVERIFY(w.dragAndDrop({QUrl::fromLocalFile(m_b), m_remote, QUrl::fromLocalFile(m_dir.filePath("folder")),
                    QUrl::fromLocalFile(m_text), QUrl::fromLocalFile(m_b), QUrl::fromLocalFile(m_text)}));
    QCOMPARE(w.entries(), (QStringList{m_a, m_b, m_text, m_b, m_text}));
    QVERIFY(w.shows(m_b));
    QCOMPARE(w.list()->currentRow(), 0);
    QCOMPARE(w.dialog.fileName(), m_a);
    QCOMPARE(w.dialog.modes.size(), 1);
    QCOMPARE(w.form.windowTitle(), Base);
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1DropsTest::refusedWhileADialogIsOpen()
{
    Window w;
    QDialog dialog(&w.form);
    const QList<QUrl> urls = localUrls({m_a});
    // The drag entered before the dialog opened.
    QVERIFY(w.dragEnter(urls));
    bool dropped = true;
    bool entered = true;
    QMetaObject::invokeMethod(
        &dialog,
        [&] {
            dropped = w.drop(urls);
            entered = w.dragEnter(urls);
            dialog.reject();
        },
        Qt::QueuedConnection);
    dialog.exec();
    QVERIFY(!dropped);
    QVERIFY(!entered);
    QCOMPARE(w.entries(), QStringList{});
    QVERIFY(w.dragAndDrop(urls));
    QCOMPARE(w.entries(), QStringList{m_a});
}

// The drop runs in the first status update, after the first entry is loaded and before it is
// copied: its last picture is stacked in that entry's place, and the run stays at three images.
void Form1DropsTest::dropAtEventPointOfMedian()
{
    QStringList listed;
    for (const QRgb color : {qRgb(10, 20, 30), qRgb(30, 10, 20), qRgb(20, 30, 10)})
        listed << writePicture(filledPicture(5, 4, color), m_dir.path(),
                               QStringLiteral("m%1.bmp").arg(color, 0, 16));
    const QString black = writePicture(filledPicture(5, 4, qRgb(0, 0, 0)), m_dir.path(), "black.bmp");
    Window w;
    w.dialog.answers.push_back(listed);
    w.button("Command3")->click();

    bool dropped = false;
    QMetaObject::invokeMethod(
        &w.form, [&] { dropped = w.dragAndDrop(localUrls({black, m_text})); }, Qt::QueuedConnection);
    QStringList titles;
    QObject::connect(&w.form, &QWidget::windowTitleChanged, &w.form,
                     [&](const QString &title) { titles << title; });
    w.button("Command1")->click();

    QVERIFY(dropped);
    QCOMPARE(w.entries(), (listed + QStringList{black, m_text}));
    const QString status = Base + " - [%1]";
    QCOMPARE(titles, (QStringList{status.arg("Processing image: 1"), status.arg("Processing image: 2"),
                                  status.arg("Processing image: 3"), status.arg("Generating Median..."),
                                  status.arg("Done")}));
    QCOMPARE_PIXELS(w.canvas()->surface(), filledPicture(5, 4, qRgb(20, 10, 10)));
}

void Form1DropsTest::namesThatAreNotUtf8Load_data()
{
    QTest::addColumn<bool>("dropped");
    QTest::newRow("dropped") << true;
    QTest::newRow("chosen in the dialog") << false;
}

// Entries keep the bytes of their names: shown on adding and selecting, and stacked.
void Form1DropsTest::namesThatAreNotUtf8Load()
{
    QFETCH(bool, dropped);
    QTemporaryDir dir;
    const std::vector<QImage> frames{filledPicture(4, 3, qRgb(10, 60, 7)), filledPicture(4, 3, qRgb(25, 40, 90)),
                                     filledPicture(4, 3, qRgb(30, 5, 50))};
    RemovedAtEnd made;
    QList<QUrl> urls;
    QStringList paths;
    const QByteArray names[] = {"a\xff.bmp", "b\xed\xa0\x80.bmp", "c\xc3.bmp"};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        made.names << writePictureAs(frames[i], dir.path(), names[i]);
        urls << QUrl::fromEncoded("file://" + made.names.back().toPercentEncoding("/"));
        paths << nameFromBytes(made.names.back());
    }
    Window w;
    if (dropped) {
        QVERIFY(w.dragAndDrop(urls));
    } else {
        w.dialog.answers.push_back(paths);
        w.button("Command3")->click();
    }
    QCOMPARE(w.list()->count(), 3);
    QVERIFY(samePixels(w.canvas()->surface(), frames[2]));
    w.list()->setCurrentRow(0);
    QVERIFY(samePixels(w.canvas()->surface(), frames[0]));
    w.button("Command1")->click();
    // Any frame left out would change the median.
    QVERIFY(samePixels(w.canvas()->surface(), filledPicture(4, 3, qRgb(25, 40, 50))));
}

QTEST_MAIN(Form1DropsTest)
#include "tst_form1drops.moc"
