// TfrmConfig: the MDI child in which the user reads the gateway's settings,
// edits them and writes them back. The work is GatewaySettings'; this window
// owns the controls and the wait window.
#pragma once
#include "gateway/GatewaySettings.h"

#include <QMdiSubWindow>
#include <functional>

class AdapterLink;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QPushButton;
class TDelayForm;

// Shows a short confirmation where the program shows its state (the main
// window's status line); it goes away by itself.
using StatusNotice = std::function<void(const std::string& text)>;

class TfrmConfig : public QMdiSubWindow, public ConfigScreen {
    Q_OBJECT
public:
    // Reads and writes the settings through `link`, which outlives the window;
    // a successful write is confirmed through `notice` when one is given.
    TfrmConfig(QMdiArea* area, AdapterLink& link, StatusNotice notice = {});
    ~TfrmConfig() override;

    void ReadClick();
    void WriteClick();
    void QuitClick();

    // ConfigScreen
    std::string AddressText() const override;
    void SetAddressText(const std::string& text) override;
    std::string InitLineText() const override;
    void SetInitLineText(const std::string& text) override;
    bool ModemChecked() const override;
    void SetModemChecked(bool checked) override;
    bool PacketChecked() const override;
    void SetPacketChecked(bool checked) override;
    int SpeedItem() const override;
    void SetSpeedItem(int item) override;
    void EnableWrite() override;
    void FocusInitLine() override;
    void BeginWait() override;
    void EndWait() override;
    void ReportWritten() override;

    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* EditAddress = nullptr;
    QGroupBox* SpeedGroup = nullptr;
    QButtonGroup* SpeedButtons = nullptr; // the SpeedGroup's items, by index
    QCheckBox* CheckBoxPacket = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QCheckBox* CheckBoxModem = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* EditInitLine = nullptr;
    QPushButton* Read = nullptr;
    QPushButton* Write = nullptr;
    QPushButton* Quit = nullptr;

    // The wait window while one is shown, else empty.
    TDelayForm* WaitForm = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose
    void showEvent(QShowEvent* event) override;

private:
    GatewaySettings settings_;
    StatusNotice notice_;
    bool focusInitLinePending_ = false;
    bool placed_ = false;
};

extern TfrmConfig* frmConfig;
