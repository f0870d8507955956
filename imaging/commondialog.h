#pragma once

#include <QString>
#include <QStringList>

#include <optional>

inline const QString OpenFilter = QStringLiteral(
    "All Files (*.*)|*.*|Bitmap Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|");

// The one file dialog shared by every open and save. Its file name survives between uses
// and a cancel leaves it unchanged.
class CommonDialog {
public:
    virtual ~CommonDialog() = default;

    // Items end in "|": "description|pattern|description|pattern|".
    void setFilter(const QString &filter) { m_filter = filter; }
    const QString &filter() const { return m_filter; }
    void setFileName(const QString &path) { m_fileName = path; }
    const QString &fileName() const { return m_fileName; }
    // Every path chosen in the last confirmed dialog, in its order; fileName() is the last.
    const QStringList &fileNames() const { return m_fileNames; }

    // Modal. false reports a cancel or a failed dialog; true leaves the chosen full path in
    // fileName(). Only showOpenSeveral() lets the user choose more than one file.
    bool showOpen() { return show(Mode::Open); }
    bool showOpenSeveral() { return show(Mode::OpenSeveral); }
    bool showSave() { return show(Mode::Save); }

protected:
    enum class Mode { Open, OpenSeveral, Save };
    virtual bool show(Mode mode) = 0;
    // The choice of a confirmed dialog; never empty.
    void setFileNames(const QStringList &paths)
    {
        m_fileNames = paths;
        m_fileName = paths.constLast();
    }

private:
    QString m_filter;
    QString m_fileName;
    QStringList m_fileNames;
};

// The open dialog with the open filter and the name it kept; nullopt on cancel or failure.
std::optional<QString> askOpenPath(CommonDialog &dialog);
