// The gateway's end of the PC line: the PC's bytes arrive paced at the line's
// speed and are taken one by one; the gateway's bytes go out paced the same way.
#pragma once
#include "sim/Modem.h"
#include "sim/Shared.h"
#include "sim/UsbAdapter.h"

#include <memory>
#include <optional>

namespace sim {

class PcLine {
public:
    PcLine(Shared& shared, PtyEnds& pc);

    // The speed the line is paced at; 0 when it is not.
    double Speed() const;
    int Descriptor() const { return pc_.master; }
    int SlaveKeep() const { return pc_.slaveKeep; }

    // Sends the gateway's bytes to the PC (from any thread); behind a modem
    // only while it is online.
    void Send(const std::vector<std::uint8_t>& bytes);
    // Puts whatever the PC sent on the line and moves what is through into
    // the input; false when the line is gone.
    bool Drain();
    void Arrive();
    // The next byte from the PC within timeoutMs; nothing on time-out or stop.
    std::optional<std::uint8_t> Read(int timeoutMs);
    // The next byte that has arrived, without waiting.
    std::optional<std::uint8_t> Take();
    // Puts a byte back at the front of the input.
    void PutBack(std::uint8_t byte) { in_.push_front(byte); }
    // The earliest of `wake` and the time the next byte on the line is through.
    Clock::time_point NextWake(Clock::time_point wake) const;
    // Closes the PC's end: the program sees a hang-up.
    void Close();
    // Bytes are still on their way from the PC.
    bool OnTheWay() const { return arriving_; }

    // The modem's state (Command when there is none) and the number it last dialled.
    ModemState ModemNow() const;
    std::string ModemDialled() const;

    // A USB adapter between the gateway and the PC where the options ask for
    // one (SimOptions::AdapterLatencyMs, AdapterSysfs): started once the
    // pseudo-terminal exists, stopped before it is closed.
    void StartAdapter();
    void StopAdapter() { adapter_.reset(); }
    // The adapter's latency in force: its attribute's value where there is one.
    int AdapterLatency() const;
    void SetAdapterLatency(int milliseconds);
    const std::string& AdapterTimer() const { return adapterTimer_; }
    // The adapter holds bytes not yet handed to the PC.
    bool Holding() const { return adapter_ && !adapter_->Empty(); }

private:
    Shared& shared_;
    PtyEnds& pc_;
    ArrivalQueue line_;           // sent by the PC, still on the line
    std::deque<std::uint8_t> in_; // arrived from the PC, not yet taken
    std::atomic<bool> arriving_{false};
    std::mutex writeMutex_; // writes from the gateway thread and from EmitBytes

    // The bytes to the PC, paced, whoever sends them.
    void SendToPc(const std::vector<std::uint8_t>& bytes);
    // The PC's bytes that have arrived, through the modem where there is one.
    void Hand(const std::vector<Arriving>& run, Clock::time_point now);
    mutable std::mutex modemMutex_; // the gateway thread feeds it, any sender asks whether it is online
    std::unique_ptr<HayesModem> modem_;

    // Bytes through the line: to the PC, through the adapter where there is one.
    bool Deliver(const std::uint8_t* bytes, std::size_t count);
    std::atomic<int> adapterMs_{0};
    std::string adapterTimer_; // the fake driver attribute the adapter follows, if any
    std::mutex handMutex_;     // the adapter's writes against closing the line
    std::unique_ptr<UsbAdapter> adapter_;
};

} // namespace sim
