// The gateway's end of the PC line.
#include "sim/PcLine.h"

#include "sim/TerminalSpeed.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <unistd.h>

namespace sim {

namespace {
constexpr auto ReadSlice = std::chrono::milliseconds(20); // Stop() noticed within this
}

PcLine::PcLine(Shared& shared, PtyEnds& pc) : shared_(shared), pc_(pc) {
    if (shared.opt.Modem.Present) modem_ = std::make_unique<HayesModem>(shared.opt.Modem);
}

double PcLine::Speed() const {
    if (shared_.opt.PaceBaud == PacePortSpeed) return TerminalSpeed(pc_.master);
    return shared_.opt.PaceBaud > 0 ? shared_.opt.PaceBaud : 0;
}

void PcLine::Send(const std::vector<std::uint8_t>& bytes) {
    if (modem_) {
        std::lock_guard lock(modemMutex_);
        if (!modem_->Online()) return; // no connection: nothing reaches the PC
    }
    SendToPc(bytes);
}

void PcLine::SendToPc(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(writeMutex_);
    if (pc_.master < 0) return;
    SendPaced(bytes, Speed(), shared_.stop, shared_.Recorder(Direction::ToPc),
              [this](const std::uint8_t* data, std::size_t count) { return Deliver(data, count); });
}

bool PcLine::Deliver(const std::uint8_t* bytes, std::size_t count) {
    if (!adapter_) return WriteAll(pc_.master, bytes, count, shared_.stop);
    adapter_->Put(bytes, count);
    return true;
}

void PcLine::StartAdapter() {
    const SimOptions& opt = shared_.opt;
    adapterMs_ = opt.AdapterLatencyMs;
    if (!opt.AdapterSysfs.empty())
        adapterTimer_ = MakeFakeAdapterSysfs(opt.AdapterSysfs, pc_.slavePath, opt.AdapterLatencyMs);
    if (opt.AdapterLatencyMs <= 0 && adapterTimer_.empty()) return;
    adapter_ = std::make_unique<UsbAdapter>(
        [this](const std::vector<std::uint8_t>& bytes) {
            std::lock_guard lock(handMutex_);
            if (pc_.master >= 0) WriteAll(pc_.master, bytes.data(), bytes.size(), shared_.stop);
        },
        [this] { return AdapterLatency(); });
}

int PcLine::AdapterLatency() const {
    return adapterTimer_.empty() ? adapterMs_.load() : ReadLatencyFile(adapterTimer_, adapterMs_);
}

void PcLine::SetAdapterLatency(int milliseconds) {
    adapterMs_ = milliseconds;
    if (!adapterTimer_.empty()) std::ofstream(adapterTimer_) << milliseconds << "\n";
}

bool PcLine::Drain() {
    if (pc_.master < 0) return false;
    std::uint8_t buf[512];
    for (;;) {
        ssize_t n = read(pc_.master, buf, sizeof buf);
        if (n > 0) {
            line_.Spread(buf, static_cast<std::size_t>(n), Speed());
            continue;
        }
        Arrive();
        return !(n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR));
    }
}

void PcLine::Arrive() {
    const auto now = Clock::now();
    auto run = line_.Take(now);
    Hand(run, now);
    shared_.Record(Direction::FromPc, run);
    arriving_ = !line_.Empty();
}

void PcLine::Hand(const std::vector<Arriving>& run, Clock::time_point now) {
    if (!modem_) {
        for (const Arriving& a : run)
            in_.push_back(a.byte);
        return;
    }
    std::vector<std::uint8_t> toGateway, toPc;
    {
        std::lock_guard lock(modemMutex_);
        for (const Arriving& a : run)
            modem_->FromPc(a.byte, a.at, toGateway, toPc);
        modem_->Tick(now, toGateway, toPc);
    }
    in_.insert(in_.end(), toGateway.begin(), toGateway.end());
    SendToPc(toPc);
}

ModemState PcLine::ModemNow() const {
    if (!modem_) return ModemState::Command;
    std::lock_guard lock(modemMutex_);
    return modem_->State();
}

std::string PcLine::ModemDialled() const {
    if (!modem_) return {};
    std::lock_guard lock(modemMutex_);
    return modem_->Dialled();
}

std::optional<std::uint8_t> PcLine::Take() {
    Arrive();
    if (in_.empty()) return std::nullopt;
    std::uint8_t b = in_.front();
    in_.pop_front();
    return b;
}

std::optional<std::uint8_t> PcLine::Read(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto b = Take()) return b;
        if (shared_.stop || pc_.master < 0) return std::nullopt;
        auto now = Clock::now();
        if (now >= deadline) return std::nullopt;
        struct pollfd p {
            pc_.master, POLLIN, 0
        };
        PollUntil(&p, 1, NextWake(std::min(deadline, now + ReadSlice)));
        if (!Drain()) return std::nullopt;
    }
}

Clock::time_point PcLine::NextWake(Clock::time_point wake) const {
    if (modem_) {
        std::lock_guard lock(modemMutex_);
        if (const auto due = modem_->Due()) wake = std::min(wake, *due);
    }
    return line_.Empty() ? wake : std::min(wake, line_.NextAt());
}

void PcLine::Close() {
    std::lock_guard lock(writeMutex_);
    if (adapter_) adapter_->Clear();
    std::lock_guard hand(handMutex_);
    pc_.Close();
    line_.Clear();
    in_.clear();
    arriving_ = false;
}

} // namespace sim
