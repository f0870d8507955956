#include "app/form1.h"
#include "imaging/qtcommondialog.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// Every button's real file dialog, closed each way while the name field's completion list
// shows: afterwards no popup may be left to take the next click.
class Form1DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void noPopupOutlivesTheDialog_data();
    void noPopupOutlivesTheDialog();
};

void Form1DialogsTest::noPopupOutlivesTheDialog_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("close");
    for (const char *button : {"Command3", "Command4", "Command8"}) {
        for (const char *close : {"Enter", "Cancel", "Escape"})
            QTest::addRow("%s, %s", button, close) << button << close;
    }
}

void Form1DialogsTest::noPopupOutlivesTheDialog()
{
    QFETCH(QString, button);
    QFETCH(QString, close);
    QTemporaryDir dir;
    const QString picture = writePicture(randomPicture(3, 2, 5), dir.path(), QStringLiteral("picture.bmp"));
    // A new name, so that saving asks no overwrite question.
    const QString typed = button == u"Command4" ? dir.filePath(QStringLiteral("result.bmp")) : picture;
    QWidget owner;
    QtCommonDialog dialog(&owner);
    FakeDesktop desktop;
    Form1 form(dialog, desktop);

    bool listShown = false;
    bool closed = false;
    QMetaObject::invokeMethod(
        &owner,
        [&] {
            auto *fileDialog = owner.findChild<QFileDialog *>();
            auto *edit = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setText(typed);
            // Qt shows the completion list once it has read the folder; here at once.
            edit->completer()->popup()->show();
            listShown = QApplication::activePopupWidget() != nullptr;
            if (close == u"Enter")
                QTest::keyClick(edit, Qt::Key_Return);
            else if (close == u"Escape")
                QTest::keyClick(edit, Qt::Key_Escape);
            else
                QTest::mouseClick(fileDialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel),
                                  Qt::LeftButton);
            closed = !fileDialog->isVisible();
            if (!closed)
                fileDialog->reject();
        },
        Qt::QueuedConnection);
    QTest::mouseClick(form.findChild<QPushButton *>(button), Qt::LeftButton);

    QVERIFY(listShown);
    QVERIFY(closed);
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
    QCOMPARE(dialog.fileName(), close == u"Enter" ? typed : QString());
}

QTEST_MAIN(Form1DialogsTest)
#include "tst_form1dialogs.moc"
