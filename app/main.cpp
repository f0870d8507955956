#include "app/desktop.h"
#include "app/form1.h"
#include "imaging/qtcommondialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ombrelux.Ombrelux"));
    QtDesktop desktop;
    QtCommonDialog dialog(nullptr);
    Form1 window(dialog, desktop);
    window.show();
    return QApplication::exec();
}
