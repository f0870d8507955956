#include "imaging/qtcommondialog.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

// Drives the real dialog: a queued call runs inside its modal loop, reads what it offers and
// answers it.
class QtCommonDialogTest : public QObject {
    Q_OBJECT
private slots:
    void filters_data();
    void filters();
    void offersTheKeptNameOrNone();
    void severalTypedNamesInTypedOrder();

private:
    QString offeredName(QWidget &parent, QtCommonDialog &dialog, bool save);
};

void QtCommonDialogTest::filters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("qtFilters");
    QTest::newRow("open") << "All Files (*.*)|*.*|Bitmap Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|"
                          << QStringList{"All Files (*.*) (*)", "Bitmap Files (*.bmp) (*.bmp)",
                                         "JPEG Files (*.jpg) (*.jpg)", "GIF Files (*.gif) (*.gif)"};
    QTest::newRow("save") << "Bitmap Files (*.bmp)|*.bmp|All Files (*.*)|*.*|"
                          << QStringList{"Bitmap Files (*.bmp) (*.bmp)", "All Files (*.*) (*)"};
}

void QtCommonDialogTest::filters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, qtFilters);
    QCOMPARE(qtNameFilters(filter), qtFilters);
}

QString QtCommonDialogTest::offeredName(QWidget &parent, QtCommonDialog &dialog, bool save)
{
    QString offered;
    QMetaObject::invokeMethod(
        &parent,
        [&] {
            auto *fileDialog = parent.findChild<QFileDialog *>();
            offered = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            fileDialog->reject();
        },
        Qt::QueuedConnection);
    const bool accepted = save ? dialog.showSave() : dialog.showOpen();
    return accepted ? QStringLiteral("accepted?") : offered;
}

void QtCommonDialogTest::offersTheKeptNameOrNone()
{
    QTemporaryDir dir;
    QFile photo(dir.filePath("photo.jpg"));
    QVERIFY(photo.open(QIODevice::WriteOnly));
    photo.close();
    QWidget parent;
    QtCommonDialog dialog(&parent);
    dialog.setFileName(photo.fileName());
    QCOMPARE(offeredName(parent, dialog, false), QStringLiteral("photo.jpg"));
    QCOMPARE(dialog.fileName(), photo.fileName()); // a cancel keeps it

    dialog.setFileName(QString());
    QCOMPARE(offeredName(parent, dialog, true), QString());
    QCOMPARE(offeredName(parent, dialog, false), QString());
}

void QtCommonDialogTest::severalTypedNamesInTypedOrder()
{
    QTemporaryDir dir;
    // Typed against the listing's order, so a sorted answer cannot pass.
    for (const char *name : {"first.jpg", "second.jpg"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QWidget parent;
    QtCommonDialog dialog(&parent);
    dialog.setFileName(dir.filePath("first.jpg"));
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool typing = false;
    const auto typeNames = [&] {
        auto *fileDialog = parent.findChild<QFileDialog *>();
        mode = fileDialog->fileMode();
        auto *edit = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        // Only text typed into the focused field stays as typed; the kept name is selected
        // already, so Qt lists it first.
        typing = edit->hasFocus();
        edit->setText(QStringLiteral("\"second.jpg\" \"first.jpg\""));
        static_cast<QDialog *>(fileDialog)->accept(); // QFileDialog::accept() is protected
    };
    // Queued twice: the dialog is activated after the first pass of posted events.
    QMetaObject::invokeMethod(
        &parent, [&] { QMetaObject::invokeMethod(&parent, typeNames, Qt::QueuedConnection); },
        Qt::QueuedConnection);
    QVERIFY(dialog.showOpenSeveral());
    QVERIFY(typing);
    QCOMPARE(mode, QFileDialog::ExistingFiles);
    QCOMPARE(dialog.fileNames(), (QStringList{dir.filePath("second.jpg"), dir.filePath("first.jpg")}));
    QCOMPARE(dialog.fileName(), dir.filePath("first.jpg"));
}

QTEST_MAIN(QtCommonDialogTest)
#include "tst_qtcommondialog.moc"
