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
#include "sim/SimOptions.h"
#include "sim/Transcript.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

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
    // Stop(), then closes the far end of the PC line as a pulled adapter
    // would: the configurator's port sees its line hang up. For good.
    void HangUp();

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

    // The line of meters ------------------------------------------------------
    // The calls above mean the first meter; these reach any meter by address.
    // Adds a meter; throws std::invalid_argument when its address is taken.
    void AddMeter(const MeterSetup& setup);
    std::vector<int> MeterAddresses() const; // in the order the meters were added
    // Runs `use` on the meter at `address` under the simulator's lock (so
    // `use` must not call the simulator); throws std::invalid_argument when
    // no meter has that address.
    void WithMeter(int address, const std::function<void(Meter&)>& use);

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

    // USB adapter -----------------------------------------------------------
    // The latency in force (its attribute's value where there is one).
    int AdapterLatencyMs() const;
    // As a driver's setting: writes the attribute where there is one.
    void SetAdapterLatency(int milliseconds);
    // The fake latency_timer attribute; empty without AdapterSysfs.
    const std::string& AdapterTimerPath() const;

    // Modem (SimOptions::Modem) ------------------------------------------------
    // Its state (Command without a modem) and the number it last dialled.
    ModemState Modem() const;
    std::string ModemDialled() const;

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
