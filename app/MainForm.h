// TMainForm: the multiple-document frame. Its creation opens MainPort, its
// destruction closes it; its menu creates the child windows or brings them
// forward.
#pragma once
#include "adapter/Dataio.h"

#include <QMainWindow>

class QMdiArea;
class QMenu;
class QAction;
class QStatusBar;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr); // FormCreate
    ~TMainForm() override;                         // FormDestroy

    QMdiArea* MdiArea() const { return mdiArea_; }
    // The program's one link to the adapter, over MainPort and AppOptions;
    // handed to the child windows that exchange through it.
    AdapterLink& Link() { return link_; }

    void Options1Click();
    void mnuConfigClick();
    void RS2321Click();
    void mnuTestPacketClick();

    QMenu* ViewMenu = nullptr;
    QAction* Options1 = nullptr;
    QMenu* mnuConfigurator = nullptr;
    QAction* mnuConfig = nullptr;
    QAction* RS2321 = nullptr;
    QAction* mnuTestPacket = nullptr;
    QStatusBar* StatusLine = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose

private:
    QMdiArea* mdiArea_ = nullptr;
    AdapterLink link_;
};

extern TMainForm* MainForm;

inline constexpr const char* MainFormCaption = "Конфигуратор для для шлюзов RS485modbus<->RS232 v1.2";
