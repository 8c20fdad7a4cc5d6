// The packet monitor's receive loop without its window: every pass reads what
// the port has waiting, in arrival order, into the framer, or lets the framer
// count silence. It follows the port through replacements with a PortFollower
// (its own duplicate of the port's descriptor, checked to still name the
// port's device), whose descriptor the window watches.
#pragma once
#include "base/LineLog.h"
#include "monitor/PacketFramer.h"
#include "serial/LineDriver.h"
#include "serial/PortFollower.h"
#include "serial/Rs232.h"

#include <utility>

// What the loop needs from its window besides showing packets.
class PacketMonitorScreen : public PacketScreen {
public:
    // Wake the loop whenever `fd` turns readable, instead of whatever was
    // watched before (-1: watch nothing). The monitor owns the descriptor and
    // closes it only after it has been replaced here.
    virtual void WatchDescriptor(int fd) = 0;
    // Woken with nothing to read (false) or a tick later (true): stop and
    // resume waking on the watched descriptor, so that a device that stays
    // readable without bytes does not keep the loop spinning.
    virtual void EnableWatch(bool enabled) = 0;
    // A batch has been read: the next tick comes a full interval from now.
    virtual void RestartTicks() = 0;
};

// What the monitor names as the line's holder.
inline constexpr const char* MonitorActivity = "приём пакетов в окне «Тест пакетов»";

class PacketMonitor : private LineConversation {
public:
    // `port` is asked afresh on every pass and for every byte: the settings
    // dialog may replace the port while the loop runs.
    // `clock` dates the bytes of each pass as they are read.
    PacketMonitor(PacketMonitorScreen& screen, PortAccessor port, WallClock clock = SystemNowMs)
        : screen_(screen), port_(std::move(port)), clock_(std::move(clock)) {
        line_.Attach(this);
    }
    // Gives the line back, closes the duplicate descriptor; the screen is
    // not called any more.
    ~PacketMonitor() override;
    PacketMonitor(const PacketMonitor&) = delete;
    PacketMonitor& operator=(const PacketMonitor&) = delete;

    // The loop begins: the framer hunts with an empty buffer, and a first
    // pass reads what is already waiting. The monitor holds the line for
    // every byte while it receives; while another conversation holds it,
    // the monitor waits and takes the line once it is free.
    void Start();
    // The loop ends: nothing is watched any more and passes do nothing.
    void Stop();
    // The watched descriptor has turned readable.
    void Woken() { Pass(true); }
    // A timer tick: counted always; while receiving, a pass, and the watch
    // is enabled again.
    void Tick();

    bool Receiving() const { return receiving_; }
    int TickCount() const { return tickCount_; }
    const PacketFramer& Framer() const { return framer_; }

    // While a line is being shown: when its first byte arrived, and the
    // milliseconds since the previous line's last byte (-1 for the first).
    struct LineTime {
        std::int64_t arrivedMs = 0;
        std::int64_t gapMs = -1;
    };
    const LineTime& ShownLineTime() const { return lineTime_; }

private:
    void Pass(bool woken);
    void LineBytes(const std::uint8_t* bytes, std::size_t count) override;
    void Unwatch();
    Rs232Port* Port() const { return port_ ? port_() : nullptr; }

    // Dates every line the framer shows before the screen shows it.
    class Dating : public PacketScreen {
    public:
        explicit Dating(PacketMonitor& monitor) : monitor_(monitor) {}
        void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override;

    private:
        PacketMonitor& monitor_;
    };
    void Feed(std::uint8_t byte, std::int64_t now);

    PacketMonitorScreen& screen_;
    PortAccessor port_;
    WallClock clock_;
    Dating dating_{*this};
    PacketFramer framer_{dating_};
    // Arrival of the byte being fed, of the hunting buffer's first byte, of
    // the marker that began the packet under way, and of the previous line's
    // last byte.
    std::int64_t byteMs_ = 0, huntStartMs_ = 0, markerMs_ = 0, previousEndMs_ = -1;
    bool lastWasMarker_ = false;
    int shown_ = 0;
    LineTime lineTime_;
    bool receiving_ = false;
    int tickCount_ = 0;
    // The line's driver reads the port; a pass's bytes share its time.
    LineDriver line_{port_, {}};
    std::int64_t passMs_ = 0;
    int passBytes_ = 0;

    // The window watches the follower's duplicate of the port's descriptor;
    // a wake-up with nothing to read pauses that watch until the next tick.
    bool watchPaused_ = false;
    PortFollower follower_{[this](int fd) {
        watchPaused_ = false;
        screen_.WatchDescriptor(fd);
    }};
};
