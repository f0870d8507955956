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

QTEST_MAIN(QtCommonDialogTest)
#include "tst_qtcommondialog.moc"
