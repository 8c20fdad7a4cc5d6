// The simulated gateway (adapter protocol on the PC line, settings cells,
// SendPacket onto the RS-485 line) and the Modbus RTU meter behind it, built
// on libmodbus's server calls.
#include "sim/Simulator.h"

#include "sim/ModbusCrc.h"
#include "sim/TerminalSpeed.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <modbus/modbus.h>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t OpenCells = 0xB0;
constexpr std::uint8_t OpenPacket = 0x11;
constexpr std::uint8_t Ready = 0xDD;
constexpr std::uint8_t ReadyNoSignOn = 0x08;
constexpr std::uint8_t PacketReady = 0x22;
constexpr std::uint8_t CommandAccepted = 0x01;

constexpr std::size_t TranscriptLimit = 1u << 20; // entries; the older half goes when it is reached
constexpr int MeterRegisters = 4096;              // 0..4095; reads beyond give exception 02
constexpr int ArchiveCommandRegister = 1000;
constexpr int ArchiveLengthRegister = 1001;
constexpr int ArchiveDataRegister = 1002;

// A pseudo-terminal pair: the simulator holds the master; a descriptor on
// the slave stays open so that the master never sees a hang-up while the
// other side's program is not (yet) connected.
struct PtyEnds {
    std::atomic<int> master{-1}; // closed by the gateway thread, polled by WaitIdle
    int slaveKeep = -1;
    std::string slavePath;

    void Open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
        slavePath = name;
        struct termios tio {};
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        // Raw from the start: an echoing slave would send the PC's bytes back.
        slaveKeep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slaveKeep < 0)
            throw std::runtime_error(std::string("cannot open ") + name + ": " + std::strerror(errno));
        tcgetattr(slaveKeep, &tio);
        cfmakeraw(&tio);
        tcsetattr(slaveKeep, TCSANOW, &tio);
    }
    void Close() {
        if (slaveKeep >= 0) close(slaveKeep);
        int fd = master.exchange(-1);
        if (fd >= 0) close(fd);
        slaveKeep = -1;
    }
};

// A byte on its way over a paced line, and when its last bit is through.
struct Arriving {
    std::uint8_t byte;
    Clock::time_point at;
};

// Bytes read from a line at once are spread over the line time they take,
// starting when they were read or when the line's previous byte is through.
void Spread(std::deque<Arriving>& line, Clock::time_point& lineFree, const std::uint8_t* bytes,
            std::size_t count, double speed) {
    auto start = std::max(Clock::now(), lineFree);
    for (std::size_t i = 0; i < count; ++i)
        line.push_back({bytes[i], start + LineTime(i + 1, speed)});
    lineFree = start + LineTime(count, speed);
}

// steady_clock is CLOCK_MONOTONIC on Linux: its time points are absolute
// deadlines for clock_nanosleep.
timespec MonotonicTimespec(Clock::time_point t) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// poll() until `wake` at the latest, with sub-millisecond resolution.
void PollUntil(struct pollfd* fds, nfds_t count, Clock::time_point wake) {
    auto ns = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now()).count());
    timespec timeout{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    ppoll(fds, count, &timeout, nullptr);
}

int Pending(int fd) {
    int n = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0) return 0;
    return n;
}

// One device of the gateway: ranges of cells.
struct CellRange {
    int base;
    std::vector<std::uint8_t> bytes;
};
struct CellDevice {
    std::uint8_t type;
    std::uint8_t address;
    std::vector<CellRange> ranges;
};

struct ArchiveStore {
    std::string templateText;
    std::vector<std::vector<std::uint8_t>> rows;
    int cursor = -1; // row last selected by a next-row command
};

} // namespace

struct Simulator::Impl {
    SimOptions opt;
    Clock::time_point created = Clock::now();

    PtyEnds pc, line;
    std::string linkPath;

    std::thread gatewayThread, meterThread;
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};

    mutable std::mutex m;
    mutable std::condition_variable changed;

    // Gateway state (guarded by m)
    std::vector<CellDevice> devices;
    GatewaySettings applied;
    int applyCount = 0;
    int zepLan = 1;
    FaultTable faults;
    std::vector<TraceEntry> trace;
    int exchanges = 0;
    PacketStreamOptions stream;
    bool streaming = false;
    int streamSeq = 0;
    int itemsSent = 0;
    Clock::time_point streamDue;

    // Meter state (guarded by m)
    std::vector<std::uint16_t> regs = std::vector<std::uint16_t>(MeterRegisters, 0);
    int meterAddress = 1;
    int meterAddressInUse = -1; // as set in libmodbus by the meter thread
    int meterDelayMs = 0;
    bool meterSilent = false;
    ArchiveStore day, hour;
    ArchiveKind current = ArchiveKind::Day;
    std::vector<std::uint8_t> window; // what registers 1001/1002.. show
    int lastCommand = 0;

    // Gateway thread only
    std::deque<Arriving> pcLine;     // sent by the PC, still on the line
    Clock::time_point pcLineFree;    // when the last of them is through
    std::deque<std::uint8_t> pcIn;   // arrived from the PC, not yet taken
    std::deque<Arriving> meterLine;  // sent by the meter, still on the line
    Clock::time_point meterLineFree; // when the last of them is through
    std::vector<std::uint8_t> answer;
    Clock::time_point lastAnswerByte;
    Clock::time_point busyUntil;

    std::atomic<bool> pcArriving{false}; // pcLine is not empty
    std::atomic<bool> inExchange{false};
    std::atomic<bool> answerPending{false};
    std::atomic<bool> meterBusy{false};
    std::mutex writeMutex; // PC line writes from the gateway thread and from EmitBytes

    // --- helpers -------------------------------------------------------------
    void Record(Direction dir, const std::uint8_t* bytes, std::size_t count) {
        std::vector<Arriving> run;
        auto now = Clock::now();
        for (std::size_t i = 0; i < count; ++i)
            run.push_back({bytes[i], now});
        Record(dir, run);
    }

    // Bytes with the times their last bits were through.
    void Record(Direction dir, const std::vector<Arriving>& run) {
        if (run.empty()) return;
        std::lock_guard lock(m);
        std::size_t count = run.size();
        if (trace.size() + count > TranscriptLimit) // a command left running for days
            trace.erase(trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(trace.size() / 2));
        std::size_t first = trace.size();
        for (const Arriving& a : run)
            trace.push_back(
                {std::chrono::duration_cast<std::chrono::microseconds>(a.at - created).count(), dir, a.byte});
        if (opt.TraceStream) {
            std::vector<TraceEntry> added(trace.begin() + static_cast<std::ptrdiff_t>(first), trace.end());
            std::fputs(FormatTrace(added).c_str(), opt.TraceStream);
            std::fflush(opt.TraceStream);
        }
        changed.notify_all();
    }

    // Sleeps until the absolute time `until`; false when Stop() came first.
    bool SleepUntil(Clock::time_point until) {
        for (;;) {
            if (stop) return false;
            auto now = Clock::now();
            if (now >= until) return true;
            // In slices, so that Stop() is noticed during a long wait.
            timespec t = MonotonicTimespec(std::min(until, now + std::chrono::milliseconds(10)));
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
            }
        }
    }

    void SleepMs(int ms) { SleepUntil(Clock::now() + std::chrono::milliseconds(ms)); }

    // Line speeds for pacing; 0 where a line is not paced.
    double PcSpeed() const {
        if (opt.PaceBaud == PacePortSpeed) return TerminalSpeed(pc.master);
        return opt.PaceBaud > 0 ? opt.PaceBaud : 0;
    }
    double MeterLineSpeed() {
        std::lock_guard lock(m);
        return SpeedOfCode(applied.SpeedCode);
    }
    double MeterPace() { return opt.PaceRs485 ? MeterLineSpeed() : 0; }
    Clock::duration AnswerGap() {
        if (opt.AnswerGapMs > 0) return std::chrono::milliseconds(opt.AnswerGapMs);
        return EndOfFrameSilence(MeterLineSpeed());
    }

    // Writes the bytes as a line at `speed` delivers them: each when its last
    // bit is through, against deadlines counted from the start, so that late
    // wake-ups do not add up (a late one sends what is due at once). Speed 0
    // writes them at once. False when the far end is gone or on Stop().
    bool SendPaced(int fd, Direction dir, const std::vector<std::uint8_t>& bytes, double speed) {
        if (speed <= 0) {
            Record(dir, bytes.data(), bytes.size());
            return WriteAll(fd, bytes.data(), bytes.size());
        }
        auto start = Clock::now();
        for (std::size_t done = 0; done < bytes.size();) {
            if (!SleepUntil(start + LineTime(done + 1, speed))) return false;
            auto now = Clock::now();
            std::size_t upto = done + 1;
            while (upto < bytes.size() && start + LineTime(upto + 1, speed) <= now)
                ++upto;
            Record(dir, bytes.data() + done, upto - done);
            if (!WriteAll(fd, bytes.data() + done, upto - done)) return false;
            done = upto;
        }
        return true;
    }

    std::optional<Fault> Pass(Step step, const std::vector<FaultKind>& kinds = {}) {
        std::lock_guard lock(m);
        return faults.Pass(step, kinds);
    }

    CellDevice* FindDevice(std::uint8_t type, std::uint8_t address) {
        for (auto& d : devices)
            if (d.type == type && d.address == address) return &d;
        return nullptr;
    }
    CellDevice* FindDeviceByAddress(std::uint8_t address) {
        for (auto& d : devices)
            if (d.address == address) return &d;
        return nullptr;
    }
    CellDevice* FindDeviceByType(std::uint8_t type) {
        for (auto& d : devices)
            if (d.type == type) return &d;
        return nullptr;
    }

    static CellRange* FindRange(CellDevice& d, int cell) {
        for (auto& r : d.ranges)
            if (cell >= r.base && cell < r.base + static_cast<int>(r.bytes.size())) return &r;
        return nullptr;
    }

    std::vector<std::uint8_t> ReadCells(std::uint8_t type, std::uint8_t address, int cell, int count) {
        std::vector<std::uint8_t> out;
        CellDevice* d = FindDevice(type, address);
        for (int i = 0; i < count; ++i) {
            CellRange* r = d ? FindRange(*d, cell + i) : nullptr;
            out.push_back(r ? r->bytes[static_cast<std::size_t>(cell + i - r->base)] : 0);
        }
        return out;
    }

    void WriteCells(std::uint8_t type, std::uint8_t address, int cell,
                    const std::vector<std::uint8_t>& bytes) {
        CellDevice* d = FindDevice(type, address);
        if (!d) return;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            int c = cell + static_cast<int>(i);
            if (CellRange* r = FindRange(*d, c)) r->bytes[static_cast<std::size_t>(c - r->base)] = bytes[i];
        }
    }

    GatewaySettings SettingsLocked() {
        auto head = ReadCells(SettingsDeviceType, SettingsDeviceAddress, 0, 4);
        GatewaySettings s;
        s.Address = head[0];
        s.Switches = head[1];
        s.SpeedCode = head[2];
        auto initLine = ReadCells(SettingsDeviceType, SettingsDeviceAddress, 4, head[3]);
        s.InitLine.assign(initLine.begin(), initLine.end());
        return s;
    }

    void SetSettingsLocked(const GatewaySettings& s) {
        std::string text = s.InitLine.substr(0, 60);
        WriteCells(SettingsDeviceType, SettingsDeviceAddress, 0,
                   {s.Address, s.Switches, s.SpeedCode, static_cast<std::uint8_t>(text.size())});
        WriteCells(SettingsDeviceType, SettingsDeviceAddress, 4,
                   std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    void SetIdentLocked(const Identification& id) {
        regs[4] = id.Version;
        regs[5] = id.Config1;
        regs[6] = static_cast<std::uint16_t>(id.Config2 >> 16);
        regs[7] = static_cast<std::uint16_t>(id.Config2 & 0xFFFF);
    }

    void SetFloatLocked(int reg, float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        regs[static_cast<std::size_t>(reg)] = static_cast<std::uint16_t>(bits >> 16);
        regs[static_cast<std::size_t>(reg + 1)] = static_cast<std::uint16_t>(bits & 0xFFFF);
    }

    ArchiveStore& Store(ArchiveKind k) { return k == ArchiveKind::Day ? day : hour; }

    // --- PC line ---------------------------------------------------------------
    void SendPc(const std::vector<std::uint8_t>& bytes) {
        if (bytes.empty()) return;
        std::lock_guard lock(writeMutex);
        if (pc.master < 0) return;
        SendPaced(pc.master, Direction::ToPc, bytes, PcSpeed());
    }

    bool WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
        auto deadline = Clock::now() + std::chrono::seconds(1);
        std::size_t done = 0;
        while (done < count) {
            ssize_t n = write(fd, data + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                // Nobody reads the other side: give up after a while rather than hang.
                if (stop || Clock::now() > deadline) return false;
                struct pollfd p {
                    fd, POLLOUT, 0
                };
                poll(&p, 1, 10);
            } else {
                return false;
            }
        }
        return true;
    }

    // Puts whatever the PC sent on the PC line (see ArrivePc); false when the
    // line is gone.
    bool DrainPc() {
        if (pc.master < 0) return false;
        std::uint8_t buf[512];
        for (;;) {
            ssize_t n = read(pc.master, buf, sizeof buf);
            if (n > 0) {
                Spread(pcLine, pcLineFree, buf, static_cast<std::size_t>(n), PcSpeed());
                continue;
            }
            ArrivePc();
            return !(n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR));
        }
    }

    // Moves the PC's bytes that are through the line into pcIn.
    void ArrivePc() {
        auto now = Clock::now();
        std::vector<Arriving> run;
        while (!pcLine.empty() && pcLine.front().at <= now) {
            run.push_back(pcLine.front());
            pcIn.push_back(pcLine.front().byte);
            pcLine.pop_front();
        }
        Record(Direction::FromPc, run);
        pcArriving = !pcLine.empty();
    }

    // The next byte from the PC within timeoutMs; nothing on time-out or stop.
    std::optional<std::uint8_t> ReadPc(int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            ArrivePc();
            if (!pcIn.empty()) {
                std::uint8_t b = pcIn.front();
                pcIn.pop_front();
                return b;
            }
            if (stop || pc.master < 0) return std::nullopt;
            auto now = Clock::now();
            if (now >= deadline) return std::nullopt;
            auto wake = std::min(deadline, now + std::chrono::milliseconds(20));
            if (!pcLine.empty()) wake = std::min(wake, pcLine.front().at);
            struct pollfd p {
                pc.master, POLLIN, 0
            };
            PollUntil(&p, 1, wake);
            if (!DrainPc()) return std::nullopt;
        }
    }

    void CloseLine() {
        std::lock_guard lock(writeMutex);
        pc.Close();
        pcLine.clear();
        pcIn.clear();
        pcArriving = false;
    }

    // Sends the byte of a one-byte step, or what a fault makes of it. Returns
    // the byte the gateway goes on from (normally `normal`); nothing when the
    // exchange ends here.
    std::optional<std::uint8_t> AnswerStep(Step step, std::uint8_t normal) {
        auto f = Pass(step);
        if (!f) {
            SendPc({normal});
            return normal;
        }
        switch (f->kind) {
        case FaultKind::NoAnswer:
            return std::nullopt;
        case FaultKind::Close:
            CloseLine();
            return std::nullopt;
        case FaultKind::Delay:
            SleepMs(f->value);
            break;
        case FaultKind::Byte: {
            auto b = static_cast<std::uint8_t>(f->value);
            SendPc({b});
            return b;
        }
        case FaultKind::Corrupt:
            SendPc({static_cast<std::uint8_t>(normal ^ (f->value ? f->value : 0xFF))});
            return normal;
        case FaultKind::Drop:
            return normal;
        default:
            break;
        }
        SendPc({normal});
        return normal;
    }

    // Corrupt or Drop applied to a run of bytes.
    static void Mangle(std::vector<std::uint8_t>& bytes, const Fault& f) {
        if (bytes.empty()) return;
        std::size_t at = f.index < 0 || static_cast<std::size_t>(f.index) >= bytes.size()
                             ? bytes.size() - 1
                             : static_cast<std::size_t>(f.index);
        if (f.kind == FaultKind::Corrupt) bytes[at] ^= static_cast<std::uint8_t>(f.value ? f.value : 0xFF);
        if (f.kind == FaultKind::Drop) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // An unexpected byte ends the exchange; an opening byte among them starts
    // the next one.
    void Unexpected(std::uint8_t b) { pcIn.push_front(b); }

    // --- SetData / GetData -------------------------------------------------------
    void CellExchange() {
        auto ready = AnswerStep(Step::Ready, Ready);
        if (!ready || (*ready != Ready && *ready != ReadyNoSignOn)) return;
        if (*ready == Ready) {
            for (std::uint8_t expect : {std::uint8_t('Z'), std::uint8_t('P')}) {
                auto b = ReadPc(opt.ExchangeTimeoutMs);
                if (!b) return;
                if (*b != expect) return Unexpected(*b);
            }
        }
        auto cmd = ReadPc(opt.ExchangeTimeoutMs);
        if (!cmd) return;
        if (*cmd != 0x01 && *cmd != 0x81 && *cmd != 0x02 && *cmd != 0x82) return Unexpected(*cmd);
        bool write = (*cmd & 0x7F) == 0x01;
        bool zepLanMode = (*cmd & 0x80) != 0;
        auto acc = AnswerStep(Step::Command, CommandAccepted);
        if (!acc || *acc != CommandAccepted) return;

        // Header: 5 bytes, or 7 when a ZEP-LAN command's first byte is 0.
        std::vector<std::uint8_t> h;
        for (int i = 0; i < 5 || (zepLanMode && h[0] == 0x00 && i < 7); ++i) {
            auto b = ReadPc(opt.ExchangeTimeoutMs);
            if (!b) return;
            h.push_back(*b);
        }
        std::uint8_t type, address;
        int cell, count;
        std::uint8_t code = 0;
        CellDevice* dev = nullptr;
        {
            std::lock_guard lock(m);
            bool ourZepLan = h[1] == 0 || h[1] == zepLan;
            if (h.size() == 7) {
                // 00, ZEP-LAN address, device address | 0x80, type, count, cell high, cell low;
                // the error codes name the positions.
                type = h[3];
                address = h[2] & 0x7F;
                count = h[4];
                cell = h[5] << 8 | h[6];
                dev = FindDevice(type, address);
                if (!ourZepLan)
                    code = 3;
                else if (!(h[2] & 0x80) || !FindDeviceByAddress(address))
                    code = 4;
                else if (!dev)
                    code = 5;
                else if (count == 0)
                    code = 6;
                if (!code) code = CellCode(*dev, cell, count, 10, 11);
            } else {
                type = h[0];
                cell = h[2] << 8 | h[3];
                count = h[4];
                if (zepLanMode) {
                    // The device on the gateway's own I2C bus: found by its type.
                    dev = FindDeviceByType(type);
                    if (!dev)
                        code = 2;
                    else if (!ourZepLan)
                        code = 3;
                } else {
                    dev = FindDevice(type, h[1]);
                    if (!FindDeviceByType(type))
                        code = 2;
                    else if (!dev)
                        code = 3;
                }
                address = dev ? dev->address : h[1];
                if (!code) code = CellCode(*dev, cell, count, 4, 5);
            }
        }
        auto status = AnswerStep(Step::Header, code);
        if (!status || *status != 0 || code != 0) return;

        if (write) {
            std::vector<std::uint8_t> data;
            while (static_cast<int>(data.size()) < count) {
                auto b = ReadPc(opt.ExchangeTimeoutMs);
                if (!b) {
                    SendPc({0x01}); // a byte did not arrive
                    return;
                }
                data.push_back(*b);
            }
            auto f = Pass(Step::Final);
            std::uint8_t final = 0x00;
            if (f && f->kind == FaultKind::Byte) final = static_cast<std::uint8_t>(f->value);
            if (final == 0x00) Store(type, address, cell, data);
            if (f && f->kind == FaultKind::NoAnswer) return;
            if (f && f->kind == FaultKind::Close) return CloseLine();
            if (f && f->kind == FaultKind::Delay) SleepMs(f->value);
            SendPc({final});
        } else {
            std::vector<std::uint8_t> data;
            {
                std::lock_guard lock(m);
                data = ReadCells(type, address, cell, count);
            }
            auto f = Pass(Step::Data);
            bool trailer = true;
            if (f) {
                switch (f->kind) {
                case FaultKind::NoAnswer:
                    return;
                case FaultKind::Close:
                    return CloseLine();
                case FaultKind::Delay:
                    SleepMs(f->value);
                    break;
                case FaultKind::Short:
                    data.resize(
                        std::min<std::size_t>(data.size(), static_cast<std::size_t>(std::max(f->value, 0))));
                    if (f->trailing01) data.push_back(0x01);
                    trailer = false;
                    break;
                default:
                    Mangle(data, *f);
                    break;
                }
            }
            SendPc(data);
            if (trailer) AnswerStep(Step::Final, 0x00);
        }
    }

    // Error code for a cell range of a device: the cell's high byte, its low
    // byte, or the count.
    static std::uint8_t CellCode(CellDevice& d, int cell, int count, std::uint8_t highCode,
                                 std::uint8_t lowCode) {
        CellRange* r = FindRange(d, cell);
        if (!r) {
            bool highKnown = false;
            for (auto& range : d.ranges)
                if ((range.base >> 8) == (cell >> 8)) highKnown = true;
            return highKnown ? lowCode : highCode;
        }
        if (count == 0 || cell + count > r->base + static_cast<int>(r->bytes.size())) return 6;
        return 0;
    }

    void Store(std::uint8_t type, std::uint8_t address, int cell, const std::vector<std::uint8_t>& data) {
        std::lock_guard lock(m);
        WriteCells(type, address, cell, data);
        if (type == ControlDeviceType && address == ControlDeviceAddress && cell <= 2 &&
            cell + static_cast<int>(data.size()) > 2) {
            applied = SettingsLocked();
            ++applyCount;
            busyUntil = Clock::now() + std::chrono::milliseconds(opt.ApplyBusyMs);
            WriteCells(type, address, 2, {0x00});
        }
    }

    // --- SendPacket --------------------------------------------------------------
    void PacketExchange() {
        auto ready = AnswerStep(Step::PacketReady, PacketReady);
        if (!ready || *ready != PacketReady) return;
        auto len = ReadPc(opt.ExchangeTimeoutMs);
        if (!len) return;
        std::vector<std::uint8_t> frame;
        while (frame.size() < *len) {
            auto b = ReadPc(opt.ExchangeTimeoutMs);
            if (!b) return;
            frame.push_back(*b);
        }
        // A Modbus RTU frame holds 256 bytes at most, the check included.
        std::uint8_t code = (*len < 2 || *len > 254) ? 6 : 0;
        auto status = AnswerStep(Step::PacketStatus, code);
        if (!status || *status != 0 || code != 0) return;

        std::uint16_t crc = ModbusCrc(frame.data(), frame.size());
        frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(crc >> 8));
        if (auto f = Pass(Step::MeterRequest)) {
            if (f->kind == FaultKind::NoAnswer) return;
            if (f->kind == FaultKind::Close) return CloseLine();
            if (f->kind == FaultKind::Delay) SleepMs(f->value);
            Mangle(frame, *f);
        }
        ForwardAnswer(); // whatever was left of an earlier answer goes first
        SendMeter(frame);
    }

    void SendMeter(const std::vector<std::uint8_t>& frame) {
        SendPaced(line.master, Direction::ToMeter, frame, MeterPace());
    }

    // Puts what the meter sent on the RS-485 line (see ArriveMeter).
    void DrainLine() {
        std::uint8_t buf[512];
        for (;;) {
            ssize_t n = read(line.master, buf, sizeof buf);
            if (n <= 0) break;
            Spread(meterLine, meterLineFree, buf, static_cast<std::size_t>(n), MeterPace());
            answerPending = true;
        }
        ArriveMeter();
    }

    // Moves the meter's bytes that are through the line (all of them when
    // `all`) into the answer.
    void ArriveMeter(bool all = false) {
        auto now = Clock::now();
        std::vector<Arriving> run;
        while (!meterLine.empty() && (all || meterLine.front().at <= now)) {
            run.push_back(meterLine.front());
            answer.push_back(meterLine.front().byte);
            lastAnswerByte = std::min(meterLine.front().at, now);
            meterLine.pop_front();
        }
        Record(Direction::FromMeter, run);
    }

    void ForwardAnswer() {
        DrainLine();
        ArriveMeter(true);
        if (answer.empty()) return;
        auto f = Pass(Step::MeterAnswer,
                      {FaultKind::Corrupt, FaultKind::Drop, FaultKind::Short, FaultKind::Close});
        if (f && f->kind == FaultKind::Close) {
            CloseLine();
        } else if (f && f->kind == FaultKind::Short) {
            answer.resize(
                std::min<std::size_t>(answer.size(), static_cast<std::size_t>(std::max(f->value, 0))));
        } else if (f) {
            Mangle(answer, *f);
        }
        SendPc(answer);
        answer.clear();
        answerPending = false;
    }

    // --- gateway thread ------------------------------------------------------------
    void GatewayLoop() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // wake-ups within a byte time of fast lines
        while (!stop) {
            ArriveMeter();
            auto now = Clock::now();
            auto wake = now + std::chrono::milliseconds(20);
            if (!meterLine.empty()) {
                wake = std::min(wake, meterLine.front().at);
            } else if (!answer.empty()) {
                // The answer ends with the line's silence after its last byte.
                auto gapEnd = lastAnswerByte + AnswerGap();
                if (now >= gapEnd) {
                    ForwardAnswer();
                    continue;
                }
                wake = std::min(wake, gapEnd);
            }
            {
                std::unique_lock lock(m);
                if (streaming) {
                    if (now >= streamDue) {
                        auto item =
                            stream.Pattern[static_cast<std::size_t>(streamSeq) % stream.Pattern.size()];
                        int seq = streamSeq++;
                        streamDue = now + std::chrono::milliseconds(stream.IntervalMs);
                        ++itemsSent;
                        if (stream.Count >= 0 && itemsSent >= stream.Count) streaming = false;
                        lock.unlock();
                        // Nobody reads the line: drop items rather than pile them up.
                        if (Pending(pc.slaveKeep) < 2048) SendPc(PacketStreamBytes(item, seq));
                        continue;
                    }
                    wake = std::min(wake, streamDue);
                }
            }
            ArrivePc();
            if (pcIn.empty()) {
                if (!pcLine.empty()) wake = std::min(wake, pcLine.front().at);
                struct pollfd p[2] = {{pc.master, POLLIN, 0}, {line.master, POLLIN, 0}};
                PollUntil(p, 2, wake);
                if (p[1].revents & POLLIN) DrainLine();
                if (pc.master >= 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) DrainPc();
                continue;
            }
            std::uint8_t b = pcIn.front();
            pcIn.pop_front();
            if (Clock::now() < busyUntil) continue;          // applying settings: deaf for a moment
            if (b != OpenCells && b != OpenPacket) continue; // waits for an opening byte
            inExchange = true;
            if (b == OpenCells)
                CellExchange();
            else
                PacketExchange();
            {
                std::lock_guard lock(m);
                ++exchanges;
                changed.notify_all();
            }
            inExchange = false;
        }
    }

    // --- meter thread --------------------------------------------------------------
    static bool Supported(int function) {
        return function == 3 || function == 4 || function == 6 || function == 16;
    }

    static bool ValidCommand(int value) {
        return value == 1 || value == 2 || value == 4 || value == 5 || value == 6 || value == 8;
    }

    void Command(int value) {
        lastCommand = value;
        ArchiveKind kind = value <= 4 ? ArchiveKind::Day : ArchiveKind::Hour;
        ArchiveStore& s = Store(kind);
        int op = value <= 4 ? value : value - 4;
        if (op == 1) {
            current = kind;
            s.cursor = -1;
            window.assign(s.templateText.begin(), s.templateText.end());
        } else if (op == 2) {
            if (current != kind) s.cursor = -1;
            current = kind;
            if (s.cursor < static_cast<int>(s.rows.size())) ++s.cursor;
            if (s.cursor < static_cast<int>(s.rows.size()))
                window = s.rows[static_cast<std::size_t>(s.cursor)];
            else
                window.clear();
        } else {
            s.cursor = -1;
            window.clear();
        }
    }

    // Registers 1001 and 1002.. show the archive window: the length, then its
    // bytes from the byte offset (start register - 1002) on.
    void FillArchiveWindow(int start, int count) {
        int dataStart = std::max(start, ArchiveDataRegister);
        for (int r = start; r < start + count && r < MeterRegisters; ++r) {
            if (r == ArchiveLengthRegister) {
                regs[static_cast<std::size_t>(r)] =
                    static_cast<std::uint16_t>(std::min<std::size_t>(window.size(), 0xFFFF));
            } else if (r >= ArchiveDataRegister) {
                std::size_t at =
                    static_cast<std::size_t>((dataStart - ArchiveDataRegister) + 2 * (r - dataStart));
                std::uint8_t hi = at < window.size() ? window[at] : 0;
                std::uint8_t lo = at + 1 < window.size() ? window[at + 1] : 0;
                regs[static_cast<std::size_t>(r)] = static_cast<std::uint16_t>(hi << 8 | lo);
            }
        }
    }

    void MeterLoop() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        modbus_t* ctx = modbus_new_rtu(line.slavePath.c_str(), 57600, 'N', 8, 1);
        if (!ctx) return;
        modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_PROTOCOL);
        modbus_set_indication_timeout(ctx, 0, 50000); // wake up to notice Stop
        // A frame cut short must not swallow the first byte of the next one.
        modbus_set_byte_timeout(ctx, 0, 50000);
        if (modbus_connect(ctx) != 0) {
            std::fprintf(stderr, "meter: cannot open %s: %s\n", line.slavePath.c_str(),
                         modbus_strerror(errno));
            modbus_free(ctx);
            return;
        }
        // One register space answers both read functions.
        modbus_mapping_t map{};
        map.nb_registers = map.nb_input_registers = MeterRegisters;
        map.tab_registers = map.tab_input_registers = regs.data();

        std::uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            int slave;
            {
                std::lock_guard lock(m);
                slave = meterAddress;
            }
            if (slave != meterAddressInUse) {
                modbus_set_slave(ctx, slave);
                std::lock_guard lock(m);
                meterAddressInUse = slave;
                changed.notify_all();
            }
            std::memset(req, 0, sizeof req);
            int rc = modbus_receive(ctx, req);
            auto received = Clock::now();
            if (rc < 0) {
                // libmodbus frames only the functions it knows; another function
                // shows up as a bad check. Answer it as a device would.
                if (errno == EMBBADCRC && req[0] == slave && !Supported(req[1]))
                    Reply(ctx, req, 0, map, received);
                continue;
            }
            if (rc == 0) continue; // for another slave
            Reply(ctx, req, rc, map, received);
        }
        modbus_close(ctx);
        modbus_free(ctx);
    }

    // Answers a request received (its last byte read) at `received`.
    void Reply(modbus_t* ctx, const std::uint8_t* req, int length, modbus_mapping_t& map,
               Clock::time_point received) {
        meterBusy = true;
        auto f = Pass(Step::MeterAnswer, {FaultKind::NoAnswer, FaultKind::Exception, FaultKind::Delay});
        int delay;
        bool silent;
        {
            std::lock_guard lock(m);
            delay = meterDelayMs;
            silent = meterSilent;
        }
        if (f && f->kind == FaultKind::Delay) delay += f->value;
        bool broadcast = req[0] == 0;
        if (!silent && !(f && f->kind == FaultKind::NoAnswer) && !broadcast) {
            // On a paced line the meter knows the request has ended only after
            // its end-of-frame silence; then it takes its processing time.
            auto start = received + std::chrono::milliseconds(delay);
            if (opt.PaceRs485) start += EndOfFrameSilence(MeterLineSpeed());
            if (!SleepUntil(start)) {
                meterBusy = false;
                return;
            }
            int function = req[1];
            int address = req[2] << 8 | req[3];
            int value = req[4] << 8 | req[5];
            std::lock_guard lock(m);
            if (f && f->kind == FaultKind::Exception) {
                modbus_reply_exception(ctx, req, static_cast<unsigned>(f->value));
            } else if (length == 0 || !Supported(function)) {
                modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
            } else if (function == 6 && address == ArchiveCommandRegister && !ValidCommand(value)) {
                modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            } else {
                if (function == 3 || function == 4) FillArchiveWindow(address, value);
                int command = 0;
                if (function == 6 && address == ArchiveCommandRegister) command = value;
                if (function == 16 && address <= ArchiveCommandRegister &&
                    ArchiveCommandRegister < address + value &&
                    length >= 7 + 2 * (ArchiveCommandRegister - address) + 2) {
                    int at = 7 + 2 * (ArchiveCommandRegister - address);
                    command = req[at] << 8 | req[at + 1];
                }
                modbus_reply(ctx, req, length, &map);
                if (ValidCommand(command)) Command(command);
            }
        }
        meterBusy = false;
    }
};

// --- identification ----------------------------------------------------------------

Identification IdentificationForType(int typeNum) {
    switch (typeNum) {
    case 0:
        return {0x1203, 0x0108, 0x00000000};
    case 4:
        return {0x1203, 0x0408, 0x00A10002};
    case 5:
        return {0x1101, 0x0000, 0x00000000};
    case 6:
        return {0x1101, 0x0200, 0x00000000};
    case 7:
        return {0x6105, 0x0408, 0x00A10002};
    case 8:
        return {0x1203, 0x0408, 0x00A10001};
    case 9:
        return {0x1203, 0x0408, 0x00A10004};
    case 10:
        return {0x1203, 0x0408, 0x00A1000A};
    default:
        throw std::invalid_argument("no identification gives device type " + std::to_string(typeNum));
    }
}

int TypeNumberOf(const Identification& id, int previous) {
    std::uint16_t c1 = id.Config1;
    std::uint32_t c2 = id.Config2;
    if (c1 & 0x0008) {
        if (!(c1 & 0x0400)) return 0;
        if (c2 & 0x01) return 8;
        if (c2 & 0x02) {
            if ((id.Version >> 8) == 0x61) return 7;
            if ((c2 & 0xDF) == 0x02) return 4;
            if ((c2 & 0xDF) == 0x0A || (c2 & 0xDF) == 0x1A) return 10;
            return previous;
        }
        if (c2 & 0x04) return 9;
        return 0;
    }
    if (c1 & 0x0100) return 0;
    if (c1 & 0x0200) return 6;
    return 5;
}

std::map<int, float> DefaultFloatRegisters() {
    std::map<int, float> r;
    // G: volume flows, m3/h
    const float g[] = {12.5f, 11.875f, 0.75f, 0.0f, 3.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // M: mass flows, t/h
    const float mm[] = {12.375f, 11.75f, 0.75f, 0.0f, 3.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // T: temperatures, degrees C
    const float t[] = {71.25f, 50.5f, 8.75f, 55.0f, 20.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // Q: heat power
    const float q[] = {0.253125f, 0.0f, 0.0f, 0.0f, 0.0f};
    // P: pressures, kgf/cm2
    const float p[] = {6.5f, 4.25f, 3.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // SM: accumulated masses, t
    const float sm[] = {123456.5f, 117890.25f, 1520.75f, 0.0f, 310.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // E: accumulated heat
    const float e[] = {2345.625f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 10; ++i) {
        r[100 + 2 * i] = g[i];
        r[120 + 2 * i] = mm[i];
        r[140 + 2 * i] = t[i];
        r[170 + 2 * i] = p[i];
        r[400 + 2 * i] = sm[i];
    }
    for (int i = 0; i < 5; ++i) {
        r[160 + 2 * i] = q[i];
        r[420 + 2 * i] = e[i];
    }
    r[430] = 8760.0f; // Tr: running time, h
    const float tn[] = {8712.5f, 40.25f, 7.25f, 0.0f};
    for (int i = 0; i < 4; ++i)
        r[432 + 2 * i] = tn[i]; // Tn: state times, h
    return r;
}

// --- Simulator -------------------------------------------------------------------------

Simulator::Simulator(const SimOptions& options) : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.opt = options;
    s.pc.Open();
    s.line.Open();
    s.zepLan = options.ZepLanAddress;
    s.devices.push_back({SettingsDeviceType, SettingsDeviceAddress, {{0, std::vector<std::uint8_t>(64, 0)}}});
    s.devices.push_back({ControlDeviceType,
                         ControlDeviceAddress,
                         {{0x0000, std::vector<std::uint8_t>(16, 0)}, {0x4000, {0x10, 0x02, 0x01, 0x05}}}});
    s.SetSettingsLocked(options.Settings);
    s.applied = s.SettingsLocked();
    s.meterAddress = options.MeterAddress;
    s.meterDelayMs = options.MeterDelayMs;
    s.SetIdentLocked(options.Ident);
    for (auto [reg, value] : DefaultFloatRegisters())
        s.SetFloatLocked(reg, value);
    for (ArchiveKind k : {ArchiveKind::Day, ArchiveKind::Hour}) {
        ArchiveData d = k == ArchiveKind::Day ? DefaultDayArchive() : DefaultHourArchive();
        s.Store(k).templateText = d.Template;
        s.Store(k).rows = ArchiveRowBytes(d, k);
    }
}

Simulator::~Simulator() {
    Stop();
    Unlink();
    impl_->pc.Close();
    impl_->line.Close();
}

void Simulator::Start() {
    Impl& s = *impl_;
    if (s.running) return;
    s.stop = false;
    s.running = true;
    s.meterAddressInUse = -1;
    s.meterThread = std::thread([&s] { s.MeterLoop(); });
    s.gatewayThread = std::thread([&s] { s.GatewayLoop(); });
}

void Simulator::Stop() {
    Impl& s = *impl_;
    if (!s.running) return;
    s.stop = true;
    if (s.gatewayThread.joinable()) s.gatewayThread.join();
    if (s.meterThread.joinable()) s.meterThread.join();
    s.running = false;
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
    std::lock_guard lock(impl_->m);
    return impl_->SettingsLocked();
}

void Simulator::SetSettings(const GatewaySettings& settings) {
    std::lock_guard lock(impl_->m);
    impl_->SetSettingsLocked(settings);
}

std::vector<std::uint8_t> Simulator::Cells(std::uint8_t type, std::uint8_t address, int cell,
                                           int count) const {
    std::lock_guard lock(impl_->m);
    return impl_->ReadCells(type, address, cell, count);
}

void Simulator::SetCells(std::uint8_t type, std::uint8_t address, int cell,
                         const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(impl_->m);
    impl_->WriteCells(type, address, cell, bytes);
}

GatewaySettings Simulator::AppliedSettings() const {
    std::lock_guard lock(impl_->m);
    return impl_->applied;
}

int Simulator::ApplyCount() const {
    std::lock_guard lock(impl_->m);
    return impl_->applyCount;
}

void Simulator::SetZepLanAddress(int address) {
    std::lock_guard lock(impl_->m);
    impl_->zepLan = address;
}

int Simulator::MeterAddress() const {
    std::lock_guard lock(impl_->m);
    return impl_->meterAddress;
}

void Simulator::SetMeterAddress(int address) {
    std::unique_lock lock(impl_->m);
    impl_->meterAddress = address;
    // The meter takes the address between two receives: wait for it, so that
    // the next request already finds the meter at its new address.
    if (impl_->running)
        impl_->changed.wait_for(lock, std::chrono::seconds(2),
                                [&] { return impl_->meterAddressInUse == address; });
}

Identification Simulator::GetIdentification() const {
    std::lock_guard lock(impl_->m);
    const auto& r = impl_->regs;
    return {r[4], r[5], static_cast<std::uint32_t>(r[6]) << 16 | r[7]};
}

void Simulator::SetIdentification(const Identification& id) {
    std::lock_guard lock(impl_->m);
    impl_->SetIdentLocked(id);
}

void Simulator::SetDeviceType(int typeNum) {
    SetIdentification(IdentificationForType(typeNum));
}

float Simulator::Float(int reg) const {
    std::lock_guard lock(impl_->m);
    if (reg < 0 || reg + 1 >= MeterRegisters) return 0.0f;
    std::uint32_t bits = static_cast<std::uint32_t>(impl_->regs[static_cast<std::size_t>(reg)]) << 16 |
                         impl_->regs[static_cast<std::size_t>(reg + 1)];
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void Simulator::SetFloat(int reg, float value) {
    std::lock_guard lock(impl_->m);
    if (reg >= 0 && reg + 1 < MeterRegisters) impl_->SetFloatLocked(reg, value);
}

std::uint16_t Simulator::Register(int reg) const {
    std::lock_guard lock(impl_->m);
    return reg >= 0 && reg < MeterRegisters ? impl_->regs[static_cast<std::size_t>(reg)] : 0;
}

void Simulator::SetRegister(int reg, std::uint16_t value) {
    std::lock_guard lock(impl_->m);
    if (reg >= 0 && reg < MeterRegisters) impl_->regs[static_cast<std::size_t>(reg)] = value;
}

void Simulator::SetMeterDelay(int milliseconds) {
    std::lock_guard lock(impl_->m);
    impl_->meterDelayMs = milliseconds;
}

void Simulator::SetMeterSilent(bool silent) {
    std::lock_guard lock(impl_->m);
    impl_->meterSilent = silent;
}

void Simulator::SetArchive(ArchiveKind kind, const ArchiveData& data) {
    SetArchiveRaw(kind, data.Template, ArchiveRowBytes(data, kind));
}

void Simulator::SetArchiveRaw(ArchiveKind kind, const std::string& templateText,
                              const std::vector<std::vector<std::uint8_t>>& rows) {
    std::lock_guard lock(impl_->m);
    ArchiveStore& s = impl_->Store(kind);
    s.templateText = templateText;
    s.rows = rows;
    s.cursor = -1;
}

std::string Simulator::ArchiveTemplate(ArchiveKind kind) const {
    std::lock_guard lock(impl_->m);
    return impl_->Store(kind).templateText;
}

std::vector<std::vector<std::uint8_t>> Simulator::ArchiveRows(ArchiveKind kind) const {
    std::lock_guard lock(impl_->m);
    return impl_->Store(kind).rows;
}

int Simulator::LastArchiveCommand() const {
    std::lock_guard lock(impl_->m);
    return impl_->lastCommand;
}

void Simulator::AddFault(const Fault& fault) {
    std::lock_guard lock(impl_->m);
    impl_->faults.Add(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard lock(impl_->m);
    impl_->faults.Clear();
}

int Simulator::PendingFaults() const {
    std::lock_guard lock(impl_->m);
    return static_cast<int>(impl_->faults.Size());
}

void Simulator::EmitBytes(const std::vector<std::uint8_t>& bytes) {
    impl_->SendPc(bytes);
}

void Simulator::EmitPacket(const PacketFrame& frame) {
    impl_->SendPc(BuildPacket(frame));
}

void Simulator::StartPacketStream(const PacketStreamOptions& options) {
    std::lock_guard lock(impl_->m);
    impl_->stream = options;
    if (impl_->stream.Pattern.empty()) impl_->stream.Pattern = DefaultPacketPattern();
    impl_->streaming = options.Count != 0;
    impl_->streamSeq = 0;
    impl_->itemsSent = 0;
    impl_->streamDue = Clock::now();
}

void Simulator::StopPacketStream() {
    std::lock_guard lock(impl_->m);
    impl_->streaming = false;
}

int Simulator::PacketItemsSent() const {
    std::lock_guard lock(impl_->m);
    return impl_->itemsSent;
}

std::vector<TraceEntry> Simulator::Transcript() const {
    std::lock_guard lock(impl_->m);
    return impl_->trace;
}

std::string Simulator::PcTranscript() const {
    return FormatPcLine(Transcript());
}

std::string Simulator::MeterTranscript() const {
    return FormatMeterLine(Transcript());
}

void Simulator::ClearTranscript() {
    std::lock_guard lock(impl_->m);
    impl_->trace.clear();
}

bool Simulator::WaitIdle(int timeoutMs) const {
    const Impl& s = *impl_;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto settle = std::chrono::milliseconds(std::max(50, 3 * s.opt.AnswerGapMs));
    auto quietSince = Clock::now();
    bool quiet = false;
    while (Clock::now() < deadline) {
        bool idle = !s.inExchange && !s.answerPending && !s.meterBusy && !s.pcArriving &&
                    Pending(s.pc.master) == 0 && Pending(s.line.master) == 0 &&
                    Pending(s.line.slaveKeep) == 0;
        {
            std::lock_guard lock(s.m);
            if (s.streaming) idle = false;
        }
        if (!idle) {
            quiet = false;
        } else if (!quiet) {
            quiet = true;
            quietSince = Clock::now();
        } else if (Clock::now() - quietSince >= settle) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

int Simulator::Exchanges() const {
    std::lock_guard lock(impl_->m);
    return impl_->exchanges;
}

bool Simulator::WaitForExchanges(int count, int timeoutMs) const {
    std::unique_lock lock(impl_->m);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return impl_->exchanges >= count; });
}

bool Simulator::WaitForBytes(Direction dir, std::size_t count, int timeoutMs) const {
    std::unique_lock lock(impl_->m);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<std::size_t>(std::count_if(impl_->trace.begin(), impl_->trace.end(),
                                                      [&](const TraceEntry& e) { return e.Dir == dir; })) >=
               count;
    });
}

} // namespace sim
