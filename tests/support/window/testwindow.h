#pragma once

#include "app/form1.h"
#include "imaging/picturebox.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QListWidget>
#include <QPushButton>

// The window with a scripted dialog and desktop, and what the list and file tests read of it.
struct TestWindow {
    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 form{dialog, desktop};

    QListWidget *list() const { return form.findChild<QListWidget *>("List1"); }
    PictureBox *canvas() const { return form.findChild<PictureBox *>("Picture1"); }
    QPushButton *button(const char *name) const { return form.findChild<QPushButton *>(QString::fromLatin1(name)); }

    QStringList entries() const
    {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i)
            texts << list()->item(i)->text();
        return texts;
    }
    bool shows(const QString &path) const { return samePixels(canvas()->surface(), QImage(path)); }
};
