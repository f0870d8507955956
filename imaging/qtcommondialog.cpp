#include "imaging/qtcommondialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>

#include <algorithm>

namespace {

// A name confirmed while its completion list shows leaves that list open after the dialog
// has gone; as the active popup it would swallow the next click or key anywhere.
void closeLeftoverPopups()
{
    while (QWidget *popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            return;
    }
}

// Qt returns several files in the order they were selected, so a typed name that was selected
// already, such as the kept one, would come first. The name field lists them quoted, in the
// order the user typed or picked them.
QStringList selectedInTypedOrder(const QFileDialog &dialog)
{
    QStringList files = dialog.selectedFiles();
    const auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!edit || files.size() < 2)
        return files;
    QHash<QString, qsizetype> typedAt;
    const QStringList parts = edit->text().split(u'"');
    for (qsizetype i = 1; i < parts.size(); i += 2)
        typedAt.insert(parts[i], i);
    const auto position = [&typedAt](const QString &file) {
        return typedAt.value(QFileInfo(file).fileName(), -1);
    };
    std::stable_sort(files.begin(), files.end(),
                     [&position](const QString &a, const QString &b) { return position(a) < position(b); });
    return files;
}

} // namespace

// The dialog lives as long as the program, which ends with _Exit: its destructor would write
// Qt's settings file, and the program writes nothing but the pictures it saves.
QtCommonDialog::QtCommonDialog(QWidget *parent) : m_dialog(new QFileDialog(parent))
{
    m_dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
}

bool QtCommonDialog::show(Mode mode)
{
    m_dialog->setAcceptMode(mode == Mode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    m_dialog->setFileMode(mode == Mode::Save          ? QFileDialog::AnyFile
                          : mode == Mode::OpenSeveral ? QFileDialog::ExistingFiles
                                                      : QFileDialog::ExistingFile);
    m_dialog->setNameFilters(qtNameFilters(filter()));
    // selectFile() ignores an empty name and would offer the last one again, which a save
    // would then write over.
    if (fileName().isEmpty()) {
        if (auto *edit = m_dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->clear();
    } else {
        m_dialog->selectFile(fileName());
    }
    const int result = m_dialog->exec();
    closeLeftoverPopups();
    if (result != QDialog::Accepted || m_dialog->selectedFiles().isEmpty())
        return false;
    setFileNames(selectedInTypedOrder(*m_dialog));
    return true;
}

QStringList qtNameFilters(const QString &filter)
{
    const QStringList items = filter.split(u'|', Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
        const QString pattern = items[i + 1] == QLatin1String("*.*") ? QStringLiteral("*") : items[i + 1];
        // HideNameFilterDetails hides the last parenthesised list, leaving the description.
        filters << items[i] + QStringLiteral(" (") + pattern + u')';
    }
    return filters;
}
