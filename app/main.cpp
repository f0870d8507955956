#include "app/desktop.h"
#include "app/form1.h"
#include "engine/stack/stack.h"
#include "imaging/qtcommondialog.h"

#include <QApplication>

int main(int, char *argv[])
{
    // The window has no command line: Qt's own options (-platform, -stylesheet FILE, ...) are
    // not honoured either.
    int argc = 1;
    char *programOnly[] = {argv[0], nullptr};
    QApplication app(argc, programOnly);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ombrelux.Ombrelux"));
    QtDesktop desktop;
    QtCommonDialog dialog(nullptr);
    Form1 window(dialog, desktop);
    window.show();
    const int status = QApplication::exec();
    finishAbandonedFrames();
    return status;
}
