// TViewRS232: the Modbus console window. It owns the controls and forwards
// its events to ConsoleLogic, which asks for screen work through
// ConsoleScreen.
#pragma once
#include "console/ConsoleLogic.h"
#include "console/ConsoleScreen.h"
#include "console/Uviewlive.h"
#include "serial/Rs232.h"

#include <QMdiSubWindow>
#include <QPointer>
#include <functional>

class AdapterLink;
class LogSwitch;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class PortWatch;

class TViewRS232 : public QMdiSubWindow, public ConsoleScreen {
    Q_OBJECT
public:
    // FormCreate; `port` is how the receive loop reaches the port, `link` (which
    // outlives the window) takes the request blocks.
    TViewRS232(QMdiArea* parent, PortAccessor port, AdapterLink& link);
    ~TViewRS232() override;

    ConsoleLogic& Logic() { return logic_; }

    // ConsoleScreen
    std::string DeviceAddressText() override;
    std::string FunctionText() override;
    std::string StartRegisterText() override;
    std::string RegisterCountText() override;
    void SetRowNumber(const std::string& text) override;
    void SetRowLength(const std::string& text) override;
    void ShowArchiveProgress(const std::string& text) override;
    void AppendToPane(ConsolePane pane, const std::string& text) override;
    void AddProgressLine(const std::string& text) override;
    void ClearPanes() override;
    bool PanesActive() override;
    void EnableReceiveTimer(bool enabled) override;
    void EnableIdentificationPoll(bool enabled) override;
    void ShowDeviceType(const std::string& text) override;
    void ShowVersion(const std::string& text) override;
    void ShowConfig1(const std::string& text) override;
    void ShowConfig2(const std::string& text) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowNotice(const std::string& text) override;
    void ShowArchiveRun(bool running, MeterArchive archive) override;
    void OfferArchive(const std::string& path) override;
    void ShowPollSample(const PollSample& sample, const PollCounts& counts) override;
    void ShowPollCounts(const PollCounts& counts) override;
    void PollingEnded() override;
    void PollLogEnded() override;
    void WakePollAfter(int ms) override;

    // The polling switch turned by the user.
    void PollCheckBoxClick(bool on);
    // The polling's table and chart (made at the first poll).
    TViewLiveValues* LiveValues() const { return live_; }

    QGroupBox* GroupBox1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QCheckBox* MemoCheckBox = nullptr;
    QLabel* ArchiveProgress = nullptr;
    // Beside the progress after a complete read: the file in the viewer.
    QPushButton* ShowArchiveButton = nullptr;
    // What just happened: refusals, silence, how a read ended.
    QLabel* ConsoleNotice = nullptr;
    QCheckBox* RequestsCheckBox = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label16 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* TimerQueryConf = nullptr;
    QCheckBox* TimeCheckBox = nullptr;
    QCheckBox* LogCheckBox = nullptr;
    QLabel* LogFileLabel = nullptr;
    QCheckBox* PollCheckBox = nullptr;
    QSpinBox* PollInterval = nullptr;
    QTimer* PollTimer = nullptr;
    LogSwitch* Log = nullptr;

    // false: Timer1 alone drives the receive loop, as a comparison for
    // measurements; true: the port's bytes are read as soon as they arrive
    // while an answer is awaited.
    bool ReadOnArrival = true;
    const PortWatch& Watch() const { return *watch_; }

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose

private:
    QPlainTextEdit* PaneWidget(ConsolePane pane) const;
    // Runs an event handler through the application's exception display.
    void Run(const std::function<void()>& handler);
    void PortReadable();
    // Points the port watch at the current port and lets it wake the loop
    // while an answer is awaited and the receive timer runs.
    void UpdateWatch();
    // The request's controls are locked while a poll repeats it.
    void LockRequest(bool locked);
    // The request's fields as the last run left them (console/RequestMemory.h),
    // in ConsoleSettingsFile of the configuration folder.
    void RestoreRequest();
    void StoreRequest();

    PortAccessor port_;
    PortWatch* watch_ = nullptr;
    // Woken with nothing to read (another reader took the bytes, or the line
    // reports a hang-up): the watch rests until the next tick.
    bool wokenEmpty_ = false;
    ConsoleLogic logic_;
    QPointer<TViewLiveValues> live_;
    int handlersRunning_ = 0;
    bool closePending_ = false;
    // Closed during a read: the window closes once the read has stopped.
    bool closeAfterRun_ = false;
    bool requestStored_ = false; // by closing
    QString offeredArchive_;
};

// The one console window; empty while it does not exist.
extern TViewRS232* ViewRS232;

// The console's remembered request fields, beside OPTIONS.INI.
inline constexpr const char* ConsoleSettingsFile = "console.ini";
