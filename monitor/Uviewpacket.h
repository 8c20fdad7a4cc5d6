// TViewPacket: the packet monitor window. It runs its own nested loop
// (ReceiveLoop) in which the monitor reads the port and shows every framed
// packet as one coloured line of hexadecimal bytes.
#pragma once
#include "base/LineLog.h"
#include "monitor/PacketMonitor.h"

#include <QColor>
#include <QMdiSubWindow>
#include <QString>
#include <vector>

class LogSwitch;
class QCheckBox;
class QEventLoop;
class QGroupBox;
class QLabel;
class QPushButton;
class DescriptorWatch;
class QPlainTextEdit;
class QTimer;

class TViewPacket : public QMdiSubWindow, public PacketMonitorScreen {
    Q_OBJECT
public:
    // The view keeps this many of the most recent lines; the log keeps all.
    static constexpr int MaxShownLines = 100000;

    // `port` is how the monitor reaches the port, asked afresh on every pass;
    // `clock` dates the packets.
    TViewPacket(QWidget* parent, PortAccessor port, WallClock clock = SystemNowMs);
    ~TViewPacket() override;

    // Runs until the window is closed: the monitor reads what the port has
    // waiting, frames it and shows the packets, while the rest of the program
    // keeps working through the same loop.
    void ReceiveLoop();
    // Appends one line: the class's prefix and the bytes, in its colour.
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override;
    void WatchDescriptor(int fd) override;
    void EnableWatch(bool enabled) override;
    void RestartTicks() override;
    void Timer1Timer();
    void Button1Click();
    void FormClose();
    // Lays out the lines classified so far.
    void ShowPending();
    // Test and benchmark use: a smaller view.
    void SetMaxShownLines(int lines);

    bool Looping() const { return loop_ != nullptr; }
    const PacketMonitor& Monitor() const { return monitor_; }

    QGroupBox* GroupBox1 = nullptr;
    QPlainTextEdit* RichEdit = nullptr;
    QLabel* LabelReading = nullptr; // says that this window reads the port
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;
    QCheckBox* TimeCheckBox = nullptr;
    QCheckBox* LogCheckBox = nullptr;
    QLabel* LogFileLabel = nullptr;
    LogSwitch* Log = nullptr;

    QColor DefaultColor;
    bool Closing = false;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // A line class's colour as drawn on RichEdit's background (cached until
    // the palette changes).
    QColor LineColor(const PacketColor& color);
    std::vector<std::pair<QRgb, QColor>> lineColors_;

    LineLog log_;
    PacketMonitor monitor_;
    QEventLoop* loop_ = nullptr;

    // Lines classified but not yet laid out in RichEdit (see ClassifyAndShow).
    struct PendingLine {
        QString text;
        QColor color;
    };
    std::vector<PendingLine> pending_;
    QTimer* showTimer_ = nullptr;

    // Watches the monitor's own duplicate of the port's descriptor.
    DescriptorWatch* watch_ = nullptr;
};

extern TViewPacket* ViewPacket;
