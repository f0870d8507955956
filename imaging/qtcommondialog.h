#pragma once

#include "imaging/commondialog.h"

#include <QStringList>

class QFileDialog;
class QWidget;

// Qt's own (non-native) file dialog: native ones rewrite filters and differ per desktop.
class QtCommonDialog : public CommonDialog {
public:
    explicit QtCommonDialog(QWidget *parent);

protected:
    bool show(Mode mode) override;

private:
    QFileDialog *m_dialog;
};

// "All Files (*.*)|*.*|..." as Qt name filters: the description shown verbatim, and "*.*"
// widened to "*" so names without a dot are listed too.
QStringList qtNameFilters(const QString &filter);
