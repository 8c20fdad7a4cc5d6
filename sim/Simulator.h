// The simulated gateway with a Modbus RTU meter behind it, on pseudo-terminals:
// the configurator opens PortPath() (or a ports/COMn link to it) as its serial
// port. Runs in threads of its own; every public method is thread-safe.
//
//   sim::Simulator s;            // creates the pseudo-terminals
//   s.LinkCom(dir, 2);           // optional: dir/ports/COM2 -> PortPath()
//   s.Start();                   // gateway and meter threads
//   ... the program talks to s.PortPath() ...
//   s.WaitIdle(2000);            // every byte handled, nothing in flight
//   EXPECT_EQ(s.PcTranscript(), "B0 (DD) 5A 50 01 (01) ...");
//   s.Stop();                    // also done by the destructor
#pragma once
#include "sim/Archive.h"
#include "sim/Faults.h"
#include "sim/LineTiming.h"
#include "sim/Packets.h"
#include "sim/Transcript.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// Device type and address of the gateway's settings cells, and of its
// control cells (0x4000..0x4003 identify it; a write to cell 2 applies the
// settings).
inline constexpr std::uint8_t SettingsDeviceType = 0x81;
inline constexpr std::uint8_t SettingsDeviceAddress = 0x58;
inline constexpr std::uint8_t ControlDeviceType = 0xEF;
inline constexpr std::uint8_t ControlDeviceAddress = 0x0C;

// The gateway's settings cells: 0 address, 1 switches (0x02 modem, 0x04
// packet protocol), 2 speed code (1000000 / speed - 1), 3 length L of the
// init line, 4.. the init line (L bytes, normally ending in 0x0D).
struct GatewaySettings {
    std::uint8_t Address = 1;
    std::uint8_t Switches = 0x04;
    std::uint8_t SpeedCode = 0x10;  // 57600
    std::string InitLine = "ATZ\r"; // cell 3 holds its length
    bool operator==(const GatewaySettings&) const = default;
};

// The meter's identification registers: 4 version, 5 configuration word 1,
// 6..7 configuration 2 (32 bits, high register first).
struct Identification {
    std::uint16_t Version = 0x1203;
    std::uint16_t Config1 = 0x0408;
    std::uint32_t Config2 = 0x00A10002;
    bool operator==(const Identification&) const = default;
};

// Identification values that give the device type number `typeNum` (0, 4, 5,
// 6, 7, 8, 9 or 10) under the configurator's decision table; throws
// std::invalid_argument for any other number.
Identification IdentificationForType(int typeNum);
// The device type number the configurator derives from the values
// (`previous` is kept where the table leaves it unchanged).
int TypeNumberOf(const Identification& id, int previous = 0);

// The measured values the meter holds by default: register -> float
// (G at 100.., M 120.., T 140.., Q 160.., P 170.., SM 400.., E 420.., Tr 430,
// Tn 432..; each float takes two registers, high word first).
std::map<int, float> DefaultFloatRegisters();

// SimOptions::PaceBaud: follow the speed the program set on its port.
inline constexpr int PacePortSpeed = -1;

struct SimOptions {
    // Gateway
    int ZepLanAddress = 1;        // its own ZEP-LAN address; headers carrying 0 (broadcast) are accepted too
    int ExchangeTimeoutMs = 1000; // silence inside an exchange after which it waits for a new opening byte
    int ApplyBusyMs = 0;          // after a write to control cell 2 the gateway ignores the PC this long
    GatewaySettings Settings;

    // Line timing. A paced line hands each byte over when its last bit is
    // through, 10 bits a byte at the line's speed, in both directions. An
    // unpaced line hands bytes over at once (fast tests).
    // PC line: >0 paced at this speed, PacePortSpeed at the speed the program
    // set on its port, 0 unpaced.
    int PaceBaud = 0;
    // RS-485 line: paced at the speed of the gateway's applied speed code;
    // the meter then also waits for the request's end-of-frame silence.
    bool PaceRs485 = false;
    // >0: this silence ends the meter's answer; 0: the Modbus end-of-frame
    // silence at the RS-485 speed (EndOfFrameSilence), paced or not.
    int AnswerGapMs = 0;

    // Meter
    int MeterAddress = 1;
    int MeterDelayMs = 0; // processing time before each answer
    Identification Ident;

    // Each recorded run of bytes is also printed here as FormatTrace lines.
    std::FILE* TraceStream = nullptr;
};

class Simulator {
public:
    // Creates both pseudo-terminal pairs; nothing runs until Start().
    explicit Simulator(const SimOptions& options = SimOptions{});
    ~Simulator(); // Stop(), Unlink()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void Start();
    void Stop();
    bool Running() const;

    // The device the configurator opens (the slave side of the PC line).
    const std::string& PortPath() const;
    // Makes a symbolic link at linkPath to PortPath(). Replaces only a link of
    // a simulator run that has gone (a dangling link into /dev/pts); throws
    // std::runtime_error when anything else is in the way.
    std::string Link(const std::string& linkPath);
    // Link(dir + "/ports/COM<n>"), creating the ports folder if needed.
    std::string LinkCom(const std::string& dir, int portNumber);
    // Removes the link, if it still points at this simulator.
    void Unlink();

    // Gateway cells ---------------------------------------------------------
    GatewaySettings Settings() const;
    void SetSettings(const GatewaySettings& settings);
    // Raw cells of one of the gateway's devices (settings or control).
    std::vector<std::uint8_t> Cells(std::uint8_t type, std::uint8_t address, int cell, int count) const;
    void SetCells(std::uint8_t type, std::uint8_t address, int cell, const std::vector<std::uint8_t>& bytes);
    // The settings as last applied (by a write to control cell 2), and how
    // many times they were applied.
    GatewaySettings AppliedSettings() const;
    int ApplyCount() const;
    void SetZepLanAddress(int address);

    // Meter -----------------------------------------------------------------
    int MeterAddress() const;
    void SetMeterAddress(int address);
    Identification GetIdentification() const;
    void SetIdentification(const Identification& id);
    void SetDeviceType(int typeNum); // SetIdentification(IdentificationForType(typeNum))
    float Float(int reg) const;
    void SetFloat(int reg, float value);
    std::uint16_t Register(int reg) const;
    void SetRegister(int reg, std::uint16_t value);
    void SetMeterDelay(int milliseconds);
    void SetMeterSilent(bool silent);

    // Archives: from records (rows computed by ArchiveRowBytes) or raw.
    void SetArchive(ArchiveKind kind, const ArchiveData& data);
    void SetArchiveRaw(ArchiveKind kind, const std::string& templateText,
                       const std::vector<std::vector<std::uint8_t>>& rows);
    std::string ArchiveTemplate(ArchiveKind kind) const;
    std::vector<std::vector<std::uint8_t>> ArchiveRows(ArchiveKind kind) const;
    // Last value written to the archive command register 1000 (0 = none).
    int LastArchiveCommand() const;

    // Faults ----------------------------------------------------------------
    void AddFault(const Fault& fault);
    void ClearFaults();
    int PendingFaults() const; // armed faults not yet used up

    // Packet source ---------------------------------------------------------
    // Writes bytes to the PC line as they are.
    void EmitBytes(const std::vector<std::uint8_t>& bytes);
    void EmitPacket(const PacketFrame& frame);
    // Sends PacketStreamBytes items one after another, IntervalMs apart,
    // from the gateway's thread.
    void StartPacketStream(const PacketStreamOptions& options = PacketStreamOptions{});
    void StopPacketStream();
    int PacketItemsSent() const;

    // Transcript ------------------------------------------------------------
    std::vector<TraceEntry> Transcript() const;
    std::string PcTranscript() const;    // FormatPcLine of the transcript
    std::string MeterTranscript() const; // FormatMeterLine of the transcript
    void ClearTranscript();

    // Waiting ---------------------------------------------------------------
    // Until every byte the PC sent has been handled, no exchange is under
    // way, and no request or answer is in flight. False on time-out.
    bool WaitIdle(int timeoutMs) const;
    // Exchanges the gateway has finished (good or failed; any kind).
    int Exchanges() const;
    bool WaitForExchanges(int count, int timeoutMs) const;
    // Until the transcript holds at least `count` bytes in direction `dir`.
    bool WaitForBytes(Direction dir, std::size_t count, int timeoutMs) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
