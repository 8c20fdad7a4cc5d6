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
class QTimer;
class QLabel;

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
    void mnuScanClick();
    void mnuViewArchiveClick();
    // Dials the stored number through the modem on the port; a wait window
    // with Cancel stands meanwhile, and a dial that fails says why.
    void mnuDialClick();
    // Hangs the modem up.
    void mnuHangUpClick();
    // Shows the About box (not modal, so that nothing waits on it).
    void mnuAboutClick();
    // Shows the port's state in StatusLine.
    void ShowPortState();
    // One look at the port (PortWatch's tick): a device gone or come back.
    void WatchPort();

    QMenu* ViewMenu = nullptr;
    QAction* Options1 = nullptr;
    QMenu* mnuConfigurator = nullptr;
    QAction* mnuConfig = nullptr;
    QAction* RS2321 = nullptr;
    QAction* mnuTestPacket = nullptr;
    QAction* mnuScan = nullptr;
    QAction* mnuViewArchive = nullptr;
    QMenu* mnuModem = nullptr;
    QAction* mnuDial = nullptr;
    QAction* mnuHangUp = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
    QStatusBar* StatusLine = nullptr;
    // In StatusLine: COM number, device, speed and whether the port is open;
    // its tooltip tells how to lower an adapter latency that stays high.
    QLabel* PortState = nullptr;
    // In StatusLine: the modem's connection ("модем: CONNECT 9600") while a
    // dial holds one on the port; empty otherwise.
    QLabel* ModemState = nullptr;
    // Watches the port about twice a second: a device that went away is
    // noticed and, when it is back, opened again.
    QTimer* PortWatch = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose

private:
    // Drives a dial or hang-up started on `dialer` to its end in a nested
    // loop, under the wait window (whose Cancel stops a dial) when `wait`.
    void RunModem(class ModemDialer& dialer, bool wait);
    QMdiArea* mdiArea_ = nullptr;
    AdapterLink link_;
};

extern TMainForm* MainForm;

// The About box's text (UTF-8): version, licence and where the files are.
std::string AboutText();
inline constexpr const char* AboutCaption = "О программе";

inline constexpr const char* MainFormCaption = "Конфигуратор для для шлюзов RS485modbus<->RS232 v1.2";
