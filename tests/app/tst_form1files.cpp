#include "support/window/testwindow.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Base = QStringLiteral("KORMIDAX - Ombrelux");
const QString OpenFilterText = QStringLiteral(
    "All Files (*.*)|*.*|Bitmap Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|");
const QString SaveFilterText = QStringLiteral("Bitmap Files (*.bmp)|*.bmp|All Files (*.*)|*.*|");

struct Window : TestWindow {
    void add(const DialogAnswer &answer)
    {
        dialog.answers.push_back(answer);
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
    }
    void remove() { QTest::mouseClick(button("Command2"), Qt::LeftButton); }
    void save(const std::optional<QString> &answer)
    {
        dialog.answers.push_back(answer);
        QTest::mouseClick(button("Command4"), Qt::LeftButton);
    }

    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QListWidgetItem *item : list()->selectedItems())
            rows << list()->row(item);
        return rows;
    }
};

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

class Form1FilesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void addAppendsAndShowsKeepingSelection();
    void cancelledAddChangesNothing();
    void samePathTwiceGivesTwoEntries();
    void nonImageIsListedButNotShown();
    void severalChosenAddEachShowingLastThatDecodes_data();
    void severalChosenAddEachShowingLastThatDecodes();
    void addStopsAtListLimit();
    void removeLeavesCanvasAndNoSelection_data();
    void removeLeavesCanvasAndNoSelection();
    void selectingShowsFile_data();
    void selectingShowsFile();
    void selectingDeletedFileKeepsCanvas();
    void fileNameCarriesBetweenDialogs();
    void saveWritesCanvasAsBmp_data();
    void saveWritesCanvasAsBmp();
    void cancelledSaveWritesNothing();
    void failedSaveWarnsOnce_data();
    void failedSaveWarnsOnce();

private:
    QTemporaryDir m_dir;
    QString m_a, m_b, m_c, m_text;
};

void Form1FilesTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Different sizes, so a wrong picture on the canvas cannot pass for the right one.
    m_a = writePicture(randomPicture(7, 5, 1), m_dir.path(), "a.bmp");
    m_b = writePicture(randomPicture(9, 4, 2), m_dir.path(), "b.png", "png");
    m_c = writePicture(randomPicture(3, 6, 3), m_dir.path(), "c.bmp");
    m_text = m_dir.filePath("notes.txt");
    QFile text(m_text);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture\n");
}

void Form1FilesTest::addAppendsAndShowsKeepingSelection()
{
    Window w;
    w.add(m_a);
    QCOMPARE(w.dialog.filtersShown, QStringList{OpenFilterText});
    QCOMPARE(w.dialog.modes, QStringList{"open several"});
    QCOMPARE(w.entries(), QStringList{m_a});
    QCOMPARE(w.selectedRows(), QList<int>{});
    QVERIFY(w.shows(m_a));

    w.list()->setCurrentRow(0);
    w.add(m_b);
    QCOMPARE(w.entries(), (QStringList{m_a, m_b}));
    QCOMPARE(w.selectedRows(), QList<int>{0});
    QVERIFY(w.shows(m_b));
    QCOMPARE(w.form.windowTitle(), Base);
}

void Form1FilesTest::cancelledAddChangesNothing()
{
    Window w;
    w.add(m_a);
    w.add(m_b);
    w.list()->setCurrentRow(0);
    QVERIFY(w.shows(m_a));

    w.add(std::nullopt);
    QCOMPARE(w.entries(), (QStringList{m_a, m_b}));
    QCOMPARE(w.selectedRows(), QList<int>{0});
    QVERIFY(w.shows(m_a));
    QCOMPARE(w.dialog.fileName(), m_b);
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::samePathTwiceGivesTwoEntries()
{
    Window w;
    w.add(m_a);
    w.add(m_a);
    QCOMPARE(w.entries(), (QStringList{m_a, m_a}));
    QVERIFY(w.shows(m_a));
}

void Form1FilesTest::nonImageIsListedButNotShown()
{
    Window w;
    w.add(m_a);
    w.add(m_text);
    QCOMPARE(w.entries(), (QStringList{m_a, m_text}));
    QVERIFY(w.shows(m_a));
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::severalChosenAddEachShowingLastThatDecodes_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("last one decodes") << QStringList{m_a, m_text, m_b} << m_b;
    QTest::newRow("last one does not") << QStringList{m_b, m_a, m_text} << m_a;
    QTest::newRow("none decodes") << QStringList{m_text, m_text} << m_c;
    QTest::newRow("same file twice") << QStringList{m_b, m_b} << m_b;
}

void Form1FilesTest::severalChosenAddEachShowingLastThatDecodes()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, shown);
    Window w;
    w.add(m_c);
    w.list()->setCurrentRow(0);

    w.add(chosen);
    QCOMPARE(w.entries(), QStringList{m_c} + chosen);
    QVERIFY(w.shows(shown));
    QCOMPARE(w.selectedRows(), QList<int>{0});
    QCOMPARE(w.dialog.namesShown.constLast(), m_c);
    QCOMPARE(w.dialog.fileName(), chosen.constLast());
    QCOMPARE(w.form.windowTitle(), Base);
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::addStopsAtListLimit()
{
    Window w;
    w.list()->addItems(QStringList(32765, m_text));
    w.add(QStringList{m_a, m_b, m_c});
    QCOMPARE(w.list()->count(), 32767);
    QCOMPARE(w.entries().mid(32765), (QStringList{m_a, m_b}));
    // The file left out is not shown either.
    QVERIFY(w.shows(m_b));

    w.add(m_c);
    QCOMPARE(w.list()->count(), 32767);
    QVERIFY(w.shows(m_b));
}

void Form1FilesTest::removeLeavesCanvasAndNoSelection_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("first entry") << 0 << QStringList{"b", "c"};
    QTest::newRow("middle entry") << 1 << QStringList{"a", "c"};
    QTest::newRow("last entry") << 2 << QStringList{"a", "b"};
}

void Form1FilesTest::removeLeavesCanvasAndNoSelection()
{
    QFETCH(int, row);
    QFETCH(QStringList, left);
    Window w;
    w.add(m_a);
    w.add(m_b);
    w.add(m_c);
    w.list()->setCurrentRow(row);
    const QString removed = w.entries().at(row);
    QVERIFY(w.shows(removed));

    w.remove();
    QStringList names;
    for (const QString &path : w.entries())
        names << QFileInfo(path).completeBaseName();
    QCOMPARE(names, left);
    QCOMPARE(w.selectedRows(), QList<int>{});
    // Selecting a neighbour would have loaded it; the removed entry's picture stays.
    QVERIFY(w.shows(removed));

    w.remove();
    QCOMPARE(w.entries().size(), 2);
    QVERIFY(w.shows(removed));
}

void Form1FilesTest::selectingShowsFile_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("mouse click") << true;
    QTest::newRow("arrow key") << false;
}

void Form1FilesTest::selectingShowsFile()
{
    QFETCH(bool, byMouse);
    Window w;
    w.add(m_a);
    w.add(m_b);
    w.add(m_c);
    w.form.show();
    QListWidget *list = w.list();
    if (byMouse) {
        const QRect rect = list->visualItemRect(list->item(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    } else {
        list->setCurrentRow(0);
        QVERIFY(w.shows(m_a));
        QTest::keyClick(list, Qt::Key_Down);
    }
    QCOMPARE(w.selectedRows(), QList<int>{1});
    QVERIFY(w.shows(m_b));
    QCOMPARE(w.dialog.modes.size(), 3);
}

void Form1FilesTest::selectingDeletedFileKeepsCanvas()
{
    const QString doomed = writePicture(randomPicture(4, 4, 9), m_dir.path(), "doomed.bmp");
    Window w;
    w.add(doomed);
    w.add(m_b);
    QVERIFY(QFile::remove(doomed));

    w.list()->setCurrentRow(0);
    QCOMPARE(w.entries(), (QStringList{doomed, m_b}));
    QCOMPARE(w.selectedRows(), QList<int>{0});
    QVERIFY(w.shows(m_b));
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::fileNameCarriesBetweenDialogs()
{
    const QString saved = m_dir.filePath("carried.bmp");
    Window w;
    w.add(m_a);
    w.add(std::nullopt);
    w.save(saved);
    w.add(std::nullopt);
    w.save(std::nullopt);
    w.add(std::nullopt);
    QCOMPARE(w.dialog.modes, (QStringList{"open several", "open several", "save", "open several", "save",
                                          "open several"}));
    // The save dialog always opens empty; an open dialog shows the last confirmed name,
    // and nothing after a cancelled save.
    QCOMPARE(w.dialog.namesShown, (QStringList{"", m_a, "", saved, "", ""}));
}

void Form1FilesTest::saveWritesCanvasAsBmp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("loadFirst");
    QTest::newRow("bmp name") << "result.bmp" << true;
    QTest::newRow("jpg name gets BMP content") << "result.jpg" << true;
    QTest::newRow("no extension added") << "result" << true;
    QTest::newRow("replaces an existing file") << "existing.bmp" << true;
    QTest::newRow("nothing loaded") << "blank.bmp" << false;
}

void Form1FilesTest::saveWritesCanvasAsBmp()
{
    QFETCH(QString, name);
    QFETCH(bool, loadFirst);
    QTemporaryDir out;
    const QString path = out.filePath(name);
    if (name.startsWith(u"existing")) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    Window w;
    if (loadFirst) {
        w.add(m_a);
        // Written pixels are saved, not the file as loaded.
        w.button("Command7")->click();
    }
    const QString title = w.form.windowTitle();
    const QImage canvas = w.canvas()->surface();

    w.save(path);
    QCOMPARE(w.dialog.filtersShown.constLast(), SaveFilterText);
    QCOMPARE(w.dialog.modes.constLast(), QStringLiteral("save"));
    QCOMPARE(w.dialog.namesShown.constLast(), QString());
    QCOMPARE(filesIn(out.path()), QStringList{name});
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("bmp"));
    const QImage written = reader.read();
    QCOMPARE(written.size(), loadFirst ? QSize(7, 5) : QSize(233, 305));
    QCOMPARE_PIXELS(written, canvas);
    QCOMPARE_PIXELS(w.canvas()->surface(), canvas);
    QCOMPARE(w.form.windowTitle(), title);
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::cancelledSaveWritesNothing()
{
    const QStringList before = filesIn(m_dir.path());
    const QDateTime modified = QFileInfo(m_a).lastModified();
    Window w;
    w.add(m_a);
    w.save(std::nullopt);
    QCOMPARE(w.dialog.modes, (QStringList{"open several", "save"}));
    QCOMPARE(filesIn(m_dir.path()), before);
    QCOMPARE(QFileInfo(m_a).lastModified(), modified);
    QVERIFY(w.shows(m_a));
    QCOMPARE(w.desktop.messages, QStringList{});
}

void Form1FilesTest::failedSaveWarnsOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing folder") << "missing/result.bmp";
    QTest::newRow("target is a folder") << "folder";
}

void Form1FilesTest::failedSaveWarnsOnce()
{
    QFETCH(QString, name);
    QTemporaryDir out;
    QVERIFY(QDir(out.path()).mkdir("folder"));
    const QString path = out.filePath(name);
    Window w;
    w.add(m_a);
    w.list()->setCurrentRow(0);
    w.form.Cap(QStringLiteral("Done"));

    w.save(path);
    QCOMPARE(w.desktop.messages.size(), 1);
    const QString message = w.desktop.messages.constFirst();
    const QString head = Base + "|Could not save " + path + ": ";
    QVERIFY2(message.startsWith(head) && message.endsWith(u"|warning"), qPrintable(message));
    QVERIFY2(message.size() > head.size() + QStringLiteral("|warning").size(), "the reason is missing");
    QCOMPARE(filesIn(out.path()), QStringList{"folder"});
    QVERIFY(QFileInfo(out.filePath("folder")).isDir());
    QCOMPARE(w.entries(), QStringList{m_a});
    QCOMPARE(w.selectedRows(), QList<int>{0});
    QVERIFY(w.shows(m_a));
    QCOMPARE(w.form.windowTitle(), Base + " - [Done]");
    QCOMPARE(w.desktop.beeps, 0);
}

QTEST_MAIN(Form1FilesTest)
#include "tst_form1files.moc"
