// One Modbus RTU meter on the gateway's RS-485 line: its address, its
// registers (identification at 4..7, measured values, the archive window at
// 1000..), its day and hour archives, and how it behaves (answers, answers
// late, answers every request with an exception, or stays silent). Not
// thread-safe by itself; the simulator guards it.
#pragma once
#include "sim/Archive.h"

#include <cstdint>
#include <map>
#include <modbus/modbus.h>
#include <optional>
#include <string>
#include <vector>

namespace sim {

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

inline constexpr int MeterRegisters = 4096; // 0..4095; reads beyond give exception 02

// One meter as the line is described: its address, identification, behaviour
// and archives.
struct MeterSetup {
    int Address = 1;
    Identification Ident;
    int DelayMs = 0;       // processing time before each answer
    bool Silent = false;   // never answers
    int ExceptionCode = 0; // >0: answers every request with this exception code
    // Archives: the default ones (VariedArchive with this seed; 0 keeps the
    // default values) with these many rows.
    int Seed = 0;
    int DayRows = 31;
    int HourRows = 168;
};

inline constexpr int LastMeterAddress = 247; // Modbus RTU: 1..247, 0 is the broadcast
inline constexpr int LastExceptionCode = 11; // the exception codes libmodbus sends

// Parses "ADDR[:KEY[=VALUE]...]", a meter at ADDR (1..247) with the keys
// type=N (identification for device type N), ident=V,C1,C2, slow=MS,
// silent, exception=CODE (1..11), seed=N (default: the address, so that
// every meter's archives differ), day-rows=N and hour-rows=N; for example
// "5:type=8", "17:type=10:slow=40", "30:exception=4". Numbers are decimal or
// 0x-hexadecimal. Returns nothing when the text is not a meter; `error` then
// says why.
std::optional<MeterSetup> ParseMeterOption(const std::string& text, std::string* error = nullptr);

class Meter {
public:
    explicit Meter(const MeterSetup& setup);

    int Address() const { return address_; }
    void SetAddress(int address) { address_ = address; }
    int DelayMs() const { return delayMs_; }
    void SetDelayMs(int milliseconds) { delayMs_ = milliseconds; }
    bool Silent() const { return silent_; }
    void SetSilent(bool silent) { silent_ = silent; }
    int ExceptionCode() const { return exceptionCode_; }
    void SetExceptionCode(int code) { exceptionCode_ = code; }

    Identification GetIdentification() const;
    void SetIdentification(const Identification& id);
    float Float(int reg) const;
    void SetFloat(int reg, float value);
    std::uint16_t Register(int reg) const;
    void SetRegister(int reg, std::uint16_t value);

    void SetArchiveRaw(ArchiveKind kind, const std::string& templateText,
                       const std::vector<std::vector<std::uint8_t>>& rows);
    std::string ArchiveTemplate(ArchiveKind kind) const { return Store(kind).templateText; }
    std::vector<std::vector<std::uint8_t>> ArchiveRows(ArchiveKind kind) const { return Store(kind).rows; }
    int LastArchiveCommand() const { return lastCommand_; }

    // Answers one request frame of `length` bytes (check bytes included)
    // through `ctx`, which writes the answer onto the line with the request's
    // address. `exception` > 0 answers with that exception code instead.
    void Answer(modbus_t* ctx, const std::uint8_t* request, int length, int exception);

private:
    struct ArchiveStore {
        std::string templateText;
        std::vector<std::vector<std::uint8_t>> rows;
        int cursor = -1; // row last selected by a next-row command
    };
    ArchiveStore& Store(ArchiveKind k) { return k == ArchiveKind::Day ? day_ : hour_; }
    const ArchiveStore& Store(ArchiveKind k) const { return k == ArchiveKind::Day ? day_ : hour_; }
    void Command(int value);
    void FillArchiveWindow(int start, int count);
    int CommandWritten(const std::uint8_t* request, int length) const;

    int address_;
    int delayMs_;
    bool silent_;
    int exceptionCode_;
    std::vector<std::uint16_t> regs_ = std::vector<std::uint16_t>(MeterRegisters, 0);
    ArchiveStore day_, hour_;
    ArchiveKind current_ = ArchiveKind::Day;
    std::vector<std::uint8_t> window_; // what registers 1001/1002.. show
    int lastCommand_ = 0;
};

} // namespace sim
