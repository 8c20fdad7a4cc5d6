// TViewPacket: the packet monitor window. It listens on MainPort inside its
// own nested loop (ReceiveLoop) and shows every framed packet as one coloured
// line of hexadecimal bytes.
#pragma once
#include "monitor/PacketFramer.h"

#include <QColor>
#include <QMdiSubWindow>
#include <QString>
#include <sys/types.h>
#include <vector>

class QEventLoop;
class QGroupBox;
class QPushButton;
class QSocketNotifier;
class QTextEdit;
class QTimer;
class Rs232Port;

class TViewPacket : public QMdiSubWindow, public PacketScreen {
    Q_OBJECT
public:
    explicit TViewPacket(QWidget* parent = nullptr);
    ~TViewPacket() override;

    // Runs until the window is closed: reads what MainPort has waiting,
    // frames it and shows the packets, while the rest of the program keeps
    // working through the same loop.
    void ReceiveLoop();
    // Appends one line: the class's prefix and the bytes, in its colour.
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override;
    void Timer1Timer();
    void Button1Click();
    void FormClose();

    bool Looping() const { return loop_ != nullptr; }
    const PacketFramer& Framer() const { return framer_; }

    QGroupBox* GroupBox1 = nullptr;
    QTextEdit* RichEdit = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;

    QColor DefaultColor;
    bool Closing = false;
    int TickCount = 0;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Pass(bool woken);
    void FollowPort();
    void Unwatch();
    bool StillWatching(int fd) const;
    void ShowPending();

    PacketFramer framer_{*this};
    QEventLoop* loop_ = nullptr;

    // Lines classified but not yet laid out in RichEdit (see ClassifyAndShow).
    struct PendingLine {
        QString text;
        QColor color;
    };
    std::vector<PendingLine> pending_;
    QTimer* showTimer_ = nullptr;

    // The notifier watches our own duplicate of the port's descriptor, so it
    // never polls a descriptor that the settings dialog has closed meanwhile.
    QSocketNotifier* notifier_ = nullptr;
    int watchFd_ = -1;
    const Rs232Port* watchedPort_ = nullptr;
    int watchedHandle_ = -1;
    dev_t watchedDev_ = 0, watchedRdev_ = 0;
    ino_t watchedIno_ = 0;
};

extern TViewPacket* ViewPacket;
