// The adapter exchanges against a far end that answers from the fuzz input
// through a scripted port: the caller's buffer is never overrun, no exchange
// makes more than three attempts, its time-outs and purges stay within what
// its attempts allow, a success shows no message and a failure at most one,
// and an operation started from inside a failure message declines at once.
//
// Input: a settings byte (link mode in bits 0-1, messages on in bit 2, an
// operation started from inside each message in bit 3, no port at all in
// bit 4), the I2C and ZEP-LAN addresses, the operation, device type, device
// address, cell address (two bytes, least significant first), byte count
// (two bytes for ReadData), the data bytes for the writing operations, then
// the far end's script (see ScriptedPort.h).
#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Timing.h"
#include "support/FuzzCheck.h"
#include "support/ScriptedPort.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

namespace {

enum class Operation {
    SetData,
    GetData,
    SendPacketExchange,
    ReadData,
    WriteData,
    WriteValue,
    SendPacket,
    Count
};

constexpr int Attempts = 3;
const TimingConstants Real{};
// A one-byte read or write that runs into its time-out.
const long long OneTimeoutMs = Real.ReadTimeoutPerByteMs + Real.ReadTimeoutBaseMs;

// The link under test: its port and settings are the target's own.
ScriptedPort port;
bool portPresent = true;
LinkSettings settings;
AdapterLink adapter([]() -> Rs232Port* { return portPresent ? &port : nullptr; }, [] { return settings; });

class Presenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        static const std::set<std::string> captions = {"ОШИБКА СВЯЗИ", "SetData (5): ОШИБКА СВЯЗИ",
                                                       "GetData:(5) ОШИБКА СВЯЗИ", "ОШИБКА СИСТЕМЫ"};
        FUZZ_CHECK(captions.count(caption) == 1);
        FUZZ_CHECK(caption != "ОШИБКА СВЯЗИ" || !text.empty());
        ++shown;
        if (nest) {
            // A handler running inside the box starts another operation: it
            // must decline without touching the line.
            const std::size_t writes = port.Writes.size();
            const int reads = port.Reads;
            std::uint8_t buffer[4];
            FUZZ_CHECK(!adapter.ReadData(0x81, 0x58, 0, sizeof buffer, buffer));
            FUZZ_CHECK(!adapter.WriteValue(0x81, 0x58, 0, 1, 1));
            adapter.SendPacket(buffer, 1);
            FUZZ_CHECK(port.Writes.size() == writes && port.Reads == reads);
        }
    }
    int shown = 0;
    bool nest = false;
};

// What the real port would wait for at most: an attempt ends at its first
// time-out and purges (a SendPacket attempt may sit through two, since its
// block's write and its status are not examined), an exhausted loop purges
// once more, and only the last exchange's data phase can fail, after one
// time-out for at most `blockBytes` bytes and a purge.
long long TimeBound(bool packet, int exchanges, int blockBytes) {
    const long long purge = Real.PurgePauseMs;
    if (packet) return Attempts * (2 * OneTimeoutMs + purge);
    const long long dataPhase =
        Real.ReadTimeoutPerByteMs * std::max(1, blockBytes) + Real.ReadTimeoutBaseMs + purge;
    return exchanges * (Attempts * (OneTimeoutMs + purge) + purge) + dataPhase;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Presenter presenter;
    static bool once = [] {
        // No real pause anywhere: the scripted port counts its time instead.
        TimingConstants none;
        none.PurgePauseMs = 0;
        none.ClosePauseMs = 0;
        SetTimingForTests(none);
        SetMessagePresenter(&presenter);
        return true;
    }();
    (void)once;

    FuzzInput in(data, size);
    const std::uint8_t flags = in.Byte();
    settings.LinkMode = flags & 3;
    portPresent = (flags & 16) == 0;
    adapter.LinkMessages = (flags & 4) != 0;
    settings.I2cAddress = in.Byte();
    settings.ZepLanAddress = in.Byte();
    const auto op = static_cast<Operation>(in.Byte() % static_cast<int>(Operation::Count));
    const std::uint8_t deviceType = in.Byte();
    const std::uint8_t deviceAddress = in.Byte();
    const std::int32_t cell = in.Word();
    const bool reading = op == Operation::ReadData;
    const std::int32_t count = reading ? in.Word() % 300 : in.Byte();
    const bool writing = op != Operation::GetData && op != Operation::ReadData && op != Operation::WriteValue;
    const std::string payload = writing ? in.Bytes(static_cast<std::size_t>(count)) : std::string();
    const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(cell) * 65599u);
    // The data the exchange sends: the payload, or the value's low bytes.
    std::string sentData = payload;
    if (op == Operation::WriteValue)
        for (int i = 0; i < count % 6 && i < 4; ++i)
            sentData += static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
    const auto block = ExactCopy(payload.data(), payload.size());
    auto buffer = ExactBlock(static_cast<std::size_t>(reading || op == Operation::GetData ? count : 0));

    port.Reset(&in);
    presenter.shown = 0;
    presenter.nest = (flags & 8) != 0 && op >= Operation::ReadData;

    bool ok = false;
    const auto sent = static_cast<std::int32_t>(payload.size());
    switch (op) {
    case Operation::SetData:
        ok = adapter.SetData(deviceType, deviceAddress, cell, block.get(), sent);
        break;
    case Operation::GetData:
        ok = adapter.GetData(deviceType, deviceAddress, cell, count, buffer.get());
        break;
    case Operation::SendPacketExchange:
        ok = adapter.SendPacketExchange(block.get(), sent);
        break;
    case Operation::ReadData:
        ok = adapter.ReadData(deviceType, deviceAddress, cell, count, buffer.get());
        break;
    case Operation::WriteData:
        ok = adapter.WriteData(deviceType, deviceAddress, cell, block.get(), sent);
        break;
    case Operation::WriteValue:
        ok = adapter.WriteValue(deviceType, deviceAddress, cell, value, count % 6);
        break;
    case Operation::SendPacket:
        adapter.SendPacket(block.get(), sent);
        break;
    case Operation::Count:
        break;
    }
    FUZZ_CHECK(!adapter.LinkBusy);
    if (FuzzTrace())
        std::printf("operation %d: %s, %zu writes, %d reads, %d purges, %d time-outs, %d messages\n",
                    static_cast<int>(op), ok ? "true" : "false", port.Writes.size(), port.Reads, port.Purges,
                    port.Timeouts, presenter.shown);

    // Attempts: every one starts with its opening byte.
    const bool packet = op == Operation::SendPacketExchange || op == Operation::SendPacket;
    const std::string opening = packet ? "\x11" : "\xB0";
    const int exchanges = reading ? (count + 63) / 64 : 1;
    if (sentData != opening) { // a data block of the opening byte alone would count
        int openings = 0;
        for (const auto& w : port.Writes)
            openings += w == opening;
        FUZZ_CHECK(openings <= Attempts * exchanges);
    }
    // No port: nothing goes out and nothing succeeds.
    if (!portPresent) FUZZ_CHECK(port.Writes.empty() && port.Reads == 0 && (!ok || exchanges == 0));
    // No link mode: no command and no header goes out.
    if (!packet && exchanges > 0 && settings.LinkMode != 1 && settings.LinkMode != 2) {
        FUZZ_CHECK(!ok);
        for (const auto& w : port.Writes)
            FUZZ_CHECK(w == "\xB0" || w == "ZP");
    }
    // Time-outs and pauses: within what the attempts allow, so never a hang.
    FUZZ_CHECK(port.Timeouts <= (packet ? 2 * Attempts : exchanges * Attempts + 1));
    FUZZ_CHECK(port.ElapsedMs <= TimeBound(packet, exchanges, reading ? std::min(count, 64) : count));
    FUZZ_CHECK(port.Reads <= exchanges * (Attempts * 3 + 2));
    FUZZ_CHECK(static_cast<int>(port.Writes.size()) <= exchanges * (Attempts * 4 + 1));
    // A failure is told once, a success never; silent while messages are off.
    if (!adapter.LinkMessages || ok)
        FUZZ_CHECK(presenter.shown == 0);
    else
        FUZZ_CHECK(presenter.shown <= 1);
    return 0;
}
