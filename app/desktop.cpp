#include "app/desktop.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>

void QtDesktop::beep()
{
    QApplication::beep();
}

void QtDesktop::showMessage(QWidget *parent, const QString &title, const QString &text, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, title, text,
                    QMessageBox::Ok, parent);
    box.exec();
}

void QtDesktop::endProgram()
{
    // quit() would return into a running operation's event point and let it go on.
    std::_Exit(0);
}
