// The simulator's facade: one gateway and its cells, the PC line, and the
// RS-485 line with its meters, each in its own part; the calls below reach
// them under the one lock they share.
#include "sim/Simulator.h"

#include "sim/Gateway.h"
#include "sim/GatewayCells.h"
#include "sim/MeterLine.h"
#include "sim/Shared.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace sim {

namespace {
constexpr auto IdlePoll = std::chrono::milliseconds(2);
constexpr int IdleSettleMs = 50; // quiet this long before WaitIdle believes it
} // namespace

struct Simulator::Impl {
    explicit Impl(const SimOptions& options)
        : shared(options), cells(options.Settings), gateway(shared, cells, pc, line),
          meters(shared, line, [this] { return gateway.Rs485Pace(); }) {
        pc.Open();
        line.Open();
        gateway.Pc().StartAdapter();
        MeterSetup first;
        first.Address = options.MeterAddress;
        first.DelayMs = options.MeterDelayMs;
        first.Ident = options.Ident;
        meters.meters.push_back(std::make_unique<Meter>(first));
        for (const MeterSetup& setup : options.MoreMeters)
            AddMeter(setup);
    }

    void AddMeter(const MeterSetup& setup) {
        if (meters.Find(setup.Address))
            throw std::invalid_argument("two meters at address " + std::to_string(setup.Address));
        meters.meters.push_back(std::make_unique<Meter>(setup));
    }

    Shared shared;
    PtyEnds pc, line;
    std::string linkPath;
    GatewayCells cells;
    Gateway gateway;
    MeterLine meters;
    std::thread gatewayThread, meterThread;
    std::atomic<bool> running{false};

    // The meter the single-meter calls mean (the caller holds shared.m).
    Meter& First() { return *meters.meters.front(); }
};

Simulator::Simulator(const SimOptions& options) : impl_(std::make_unique<Impl>(options)) {}

Simulator::~Simulator() {
    Stop();
    impl_->gateway.Pc().StopAdapter();
    Unlink();
    impl_->pc.Close();
    impl_->line.Close();
}

void Simulator::Start() {
    Impl& s = *impl_;
    if (s.running) return;
    s.shared.stop = false;
    s.running = true;
    s.meterThread = std::thread([&s] { s.meters.Run(); });
    s.gatewayThread = std::thread([&s] { s.gateway.Run(); });
}

void Simulator::Stop() {
    Impl& s = *impl_;
    if (!s.running) return;
    s.shared.stop = true;
    if (s.gatewayThread.joinable()) s.gatewayThread.join();
    if (s.meterThread.joinable()) s.meterThread.join();
    s.running = false;
}

void Simulator::HangUp() {
    Stop();
    impl_->pc.Close();
}

bool Simulator::Running() const {
    return impl_->running;
}

const std::string& Simulator::PortPath() const {
    return impl_->pc.slavePath;
}

std::string Simulator::Link(const std::string& linkPath) {
    namespace fs = std::filesystem;
    Impl& s = *impl_;
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw std::runtime_error(linkPath + " exists and is not a link; left alone");
        std::error_code ec;
        std::string target = fs::read_symlink(linkPath, ec).string();
        bool ours = target == s.pc.slavePath;
        bool stale = target.rfind("/dev/pts/", 0) == 0 && !fs::exists(target, ec);
        if (!ours && !stale)
            throw std::runtime_error(linkPath + " already points to " + target + "; left alone");
        if (!ours) fs::remove(linkPath);
        if (ours) {
            s.linkPath = linkPath;
            return linkPath;
        }
    }
    std::error_code ec;
    fs::create_symlink(s.pc.slavePath, linkPath, ec);
    if (ec) throw std::runtime_error("cannot link " + linkPath + ": " + ec.message());
    s.linkPath = linkPath;
    return linkPath;
}

std::string Simulator::LinkCom(const std::string& dir, int portNumber) {
    std::string base = dir;
    if (!base.empty() && base.back() != '/') base += '/';
    std::filesystem::create_directories(base + "ports");
    return Link(base + "ports/COM" + std::to_string(portNumber));
}

void Simulator::Unlink() {
    Impl& s = *impl_;
    if (s.linkPath.empty()) return;
    std::error_code ec;
    if (std::filesystem::read_symlink(s.linkPath, ec).string() == s.pc.slavePath)
        std::filesystem::remove(s.linkPath, ec);
    s.linkPath.clear();
}

GatewaySettings Simulator::Settings() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->cells.Settings();
}

void Simulator::SetSettings(const GatewaySettings& settings) {
    std::lock_guard lock(impl_->shared.m);
    impl_->cells.SetSettings(settings);
}

std::vector<std::uint8_t> Simulator::Cells(std::uint8_t type, std::uint8_t address, int cell,
                                           int count) const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->cells.Read(type, address, cell, count);
}

void Simulator::SetCells(std::uint8_t type, std::uint8_t address, int cell,
                         const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(impl_->shared.m);
    impl_->cells.Write(type, address, cell, bytes);
}

GatewaySettings Simulator::AppliedSettings() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->cells.Applied();
}

int Simulator::ApplyCount() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->cells.ApplyCount();
}

void Simulator::SetZepLanAddress(int address) {
    std::lock_guard lock(impl_->shared.m);
    impl_->gateway.zepLan = address;
}

// --- the meter of the single-meter calls -------------------------------------------

int Simulator::MeterAddress() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().Address();
}

void Simulator::SetMeterAddress(int address) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetAddress(address);
}

Identification Simulator::GetIdentification() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().GetIdentification();
}

void Simulator::SetIdentification(const Identification& id) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetIdentification(id);
}

void Simulator::SetDeviceType(int typeNum) {
    SetIdentification(IdentificationForType(typeNum));
}

float Simulator::Float(int reg) const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().Float(reg);
}

void Simulator::SetFloat(int reg, float value) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetFloat(reg, value);
}

std::uint16_t Simulator::Register(int reg) const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().Register(reg);
}

void Simulator::SetRegister(int reg, std::uint16_t value) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetRegister(reg, value);
}

void Simulator::SetMeterDelay(int milliseconds) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetDelayMs(milliseconds);
}

void Simulator::SetMeterSilent(bool silent) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetSilent(silent);
}

void Simulator::AddMeter(const MeterSetup& setup) {
    std::lock_guard lock(impl_->shared.m);
    impl_->AddMeter(setup);
}

std::vector<int> Simulator::MeterAddresses() const {
    std::lock_guard lock(impl_->shared.m);
    std::vector<int> out;
    for (const auto& m : impl_->meters.meters)
        out.push_back(m->Address());
    return out;
}

void Simulator::WithMeter(int address, const std::function<void(Meter&)>& use) {
    std::lock_guard lock(impl_->shared.m);
    Meter* m = impl_->meters.Find(address);
    if (!m) throw std::invalid_argument("no meter at address " + std::to_string(address));
    use(*m);
}

void Simulator::SetArchive(ArchiveKind kind, const ArchiveData& data) {
    SetArchiveRaw(kind, data.Template, ArchiveRowBytes(data, kind));
}

void Simulator::SetArchiveRaw(ArchiveKind kind, const std::string& templateText,
                              const std::vector<std::vector<std::uint8_t>>& rows) {
    std::lock_guard lock(impl_->shared.m);
    impl_->First().SetArchiveRaw(kind, templateText, rows);
}

std::string Simulator::ArchiveTemplate(ArchiveKind kind) const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().ArchiveTemplate(kind);
}

std::vector<std::vector<std::uint8_t>> Simulator::ArchiveRows(ArchiveKind kind) const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().ArchiveRows(kind);
}

int Simulator::LastArchiveCommand() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->First().LastArchiveCommand();
}

// --- faults, packets, transcript -----------------------------------------------------

void Simulator::AddFault(const Fault& fault) {
    std::lock_guard lock(impl_->shared.m);
    impl_->shared.faults.Add(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard lock(impl_->shared.m);
    impl_->shared.faults.Clear();
}

int Simulator::PendingFaults() const {
    std::lock_guard lock(impl_->shared.m);
    return static_cast<int>(impl_->shared.faults.Size());
}

void Simulator::EmitBytes(const std::vector<std::uint8_t>& bytes) {
    impl_->gateway.Pc().Send(bytes);
}

void Simulator::EmitPacket(const PacketFrame& frame) {
    impl_->gateway.Pc().Send(BuildPacket(frame));
}

void Simulator::StartPacketStream(const PacketStreamOptions& options) {
    std::lock_guard lock(impl_->shared.m);
    Gateway& g = impl_->gateway;
    g.stream = options;
    if (g.stream.Pattern.empty()) g.stream.Pattern = DefaultPacketPattern();
    g.streaming = options.Count != 0;
    g.streamSeq = 0;
    g.itemsSent = 0;
    g.streamDue = Clock::now();
}

void Simulator::StopPacketStream() {
    std::lock_guard lock(impl_->shared.m);
    impl_->gateway.streaming = false;
}

int Simulator::PacketItemsSent() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->gateway.itemsSent;
}

std::vector<TraceEntry> Simulator::Transcript() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->shared.trace;
}

std::string Simulator::PcTranscript() const {
    return FormatPcLine(Transcript());
}

std::string Simulator::MeterTranscript() const {
    return FormatMeterLine(Transcript());
}

void Simulator::ClearTranscript() {
    std::lock_guard lock(impl_->shared.m);
    impl_->shared.trace.clear();
}

// --- waiting ---------------------------------------------------------------------------

bool Simulator::WaitIdle(int timeoutMs) const {
    Impl& s = *impl_;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto settle = std::chrono::milliseconds(std::max(IdleSettleMs, 3 * s.shared.opt.AnswerGapMs));
    auto quietSince = Clock::now();
    bool quiet = false;
    while (Clock::now() < deadline) {
        bool idle = s.gateway.Idle() && !s.gateway.Pc().Holding() && !s.meters.Busy() &&
                    Pending(s.pc.master) == 0 && Pending(s.line.master) == 0 &&
                    Pending(s.line.slaveKeep) == 0;
        {
            std::lock_guard lock(s.shared.m);
            if (s.gateway.streaming) idle = false;
        }
        if (!idle) {
            quiet = false;
        } else if (!quiet) {
            quiet = true;
            quietSince = Clock::now();
        } else if (Clock::now() - quietSince >= settle) {
            return true;
        }
        std::this_thread::sleep_for(IdlePoll);
    }
    return false;
}

int Simulator::Exchanges() const {
    std::lock_guard lock(impl_->shared.m);
    return impl_->gateway.exchanges;
}

bool Simulator::WaitForExchanges(int count, int timeoutMs) const {
    Impl& s = *impl_;
    std::unique_lock lock(s.shared.m);
    return s.shared.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return s.gateway.exchanges >= count; });
}

bool Simulator::WaitForBytes(Direction dir, std::size_t count, int timeoutMs) const {
    Impl& s = *impl_;
    std::unique_lock lock(s.shared.m);
    return s.shared.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto n = std::count_if(s.shared.trace.begin(), s.shared.trace.end(),
                               [&](const TraceEntry& e) { return e.Dir == dir; });
        return static_cast<std::size_t>(n) >= count;
    });
}

int Simulator::AdapterLatencyMs() const {
    return impl_->gateway.Pc().AdapterLatency();
}

void Simulator::SetAdapterLatency(int milliseconds) {
    impl_->gateway.Pc().SetAdapterLatency(milliseconds);
}

const std::string& Simulator::AdapterTimerPath() const {
    return impl_->gateway.Pc().AdapterTimer();
}

ModemState Simulator::Modem() const {
    return impl_->gateway.Pc().ModemNow();
}

std::string Simulator::ModemDialled() const {
    return impl_->gateway.Pc().ModemDialled();
}

} // namespace sim
