#pragma once

#include "ops/ophost.h"

#include <QWidget>

enum class Framing;

class CommonDialog;
class Desktop;
class PictureBox;
class QFrame;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollBar;

// The one window. It owns every control, the base caption and the stop request, wires each
// control to one handler and hands the operations a narrow host.
class Form1 : public QWidget, public OpHost {
    Q_OBJECT
public:
    Form1(CommonDialog &dialog, Desktop &desktop);

    QString BaseCaption;
    bool StopFlag = false;

    // OpHost
    void BeginWork() override;
    void EndWork() override;
    void Cap(const QString &text) override;
    void letEventsRun() override;
    bool stopFlag() const override { return StopFlag; }
    void setStopFlag(bool value) override { StopFlag = value; }
    QImage &canvas() override;
    void setCanvas(QImage picture) override;
    void canvasChanged() override;
    std::optional<FileIdentity> canvasSource() const override;
    const QImage &secondImage() const override;
    void setSecondImage(QImage picture) override;
    int imageCount() const override;
    std::optional<QString> imagePath(int index) const override;
    void beep() override;
    void showInformation(const QString &text) override;
    void showWarning(const QString &text) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createStackMenu();
    void addStackEntries(Framing framing);
    void connectHandlers();
    void onLoad();

    void onCommand1Clicked();
    void onMedianMenuRequested(const QPoint &position);
    void onCommand2Clicked();
    void onCommand3Clicked();
    void onCommand4Clicked();
    void onCommand5Clicked();
    void onCommand6Clicked();
    void onCommand7Clicked();
    void onCommand8Clicked();
    void onList1Clicked();
    void onHScroll1Changed();
    void onVScroll1Changed();

    CommonDialog &CommonDialog1;
    Desktop &m_desktop;

    QPushButton *Command1 = nullptr;
    QMenu *MedianMenu = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QFrame *Picture2 = nullptr;
    PictureBox *Picture1 = nullptr;
    QScrollBar *VScroll1 = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command8 = nullptr;
    PictureBox *Picture3 = nullptr;
};
