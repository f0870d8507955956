#pragma once

#include <QString>

class QWidget;

// The platform's modal messages, beep and process end, behind a port so tests can record them.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void beep() = 0;
    virtual void showMessage(QWidget *parent, const QString &title, const QString &text, bool warning) = 0;
    // Ends the process at once: no question, no clean-up, no further handler.
    virtual void endProgram() = 0;
};

class QtDesktop : public Desktop {
public:
    void beep() override;
    void showMessage(QWidget *parent, const QString &title, const QString &text, bool warning) override;
    [[noreturn]] void endProgram() override;
};
