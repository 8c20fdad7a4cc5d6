// Fault knobs of the simulated gateway and meter: at a chosen step, for a
// chosen number of passes, the simulator answers wrongly, late or not at all.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The points of an exchange at which a fault can strike.
enum class Step {
    Ready,        // the answer to the opening byte 0xB0 (normally 0xDD)
    Command,      // the answer to the command byte (normally 0x01)
    Header,       // the status after the header (0x00 or an error code 1..11)
    Data,         // GetData: the data bytes sent to the PC
    Final,        // SetData: the status after the data; GetData: the trailing byte
    PacketReady,  // the answer to 0x11 (normally 0x22)
    PacketStatus, // the status after the SendPacket block (normally 0x00)
    MeterRequest, // the Modbus frame the gateway puts on the RS-485 line
    MeterAnswer,  // the meter's answer on its way back to the PC
};

enum class FaultKind {
    NoAnswer,  // the step sends nothing and the exchange ends there
               // (at MeterRequest: no frame reaches the meter; at MeterAnswer: a silent meter)
    Byte,      // the step sends `value` instead of its usual byte: a wrong ready
               // byte, 0x08 instead of 0xDD, error code N after the header, a final
               // status other than 0. A value other than the normal byte ends the
               // exchange (0x08 at Ready: the gateway goes on without the sign-on).
    Short,     // Data: only `value` of the asked bytes are sent, then 0x01 when
               // `trailing01` is set; no trailing byte follows.
               // MeterAnswer: only the first `value` bytes of the answer pass
    Exception, // MeterAnswer: the meter answers with exception code `value`
    Corrupt,   // the byte at `index` of what the step sends is XORed with `value`
               // (0 means 0xFF); Data, MeterRequest and MeterAnswer
    Burst,     // `value` bytes from `index` on (-1: the middle) are changed, as a
               // burst of noise does; Data, MeterRequest and MeterAnswer
    Drop,      // the byte at `index` of what the step sends is left out
    Delay,     // the step waits `value` ms before it sends (MeterAnswer: the meter waits)
    Close,     // the gateway closes the PC line instead of answering
};

// One armed fault. It lets `after` passes of its step go by unharmed, then
// strikes the next `times` passes (-1: every pass from then on).
struct Fault {
    Step step = Step::Ready;
    FaultKind kind = FaultKind::NoAnswer;
    int value = 0;
    int index = -1; // Corrupt/Drop: byte position; -1 = the last byte
    bool trailing01 = false;
    int times = 1;
    int after = 0;
};

// Parses "STEP:KIND[=VALUE][:times=N][:after=N][:index=I][:trail01]", for
// example "ready:byte=0x07:times=3", "header:byte=7", "data:short=3:trail01",
// "meter-answer:exception=2", "meter-answer:none", "packet-ready:close".
// Numbers are decimal or 0x-hexadecimal. Returns nothing when the text is not
// a fault; `error` then says why.
std::optional<Fault> ParseFault(const std::string& text, std::string* error = nullptr);

// The armed faults of one simulator (not thread-safe by itself; the
// simulator guards it).
class FaultTable {
public:
    void Add(const Fault& fault) { faults_.push_back(fault); }
    void Clear() { faults_.clear(); }
    bool Empty() const { return faults_.empty(); }
    std::size_t Size() const { return faults_.size(); }

    // One pass of `step`, as seen by a part of the simulator that handles
    // only the kinds in `kinds` (empty: all kinds). Counts the pass for every
    // matching fault and returns the one that strikes, if any; exhausted
    // faults are removed.
    std::optional<Fault> Pass(Step step, const std::vector<FaultKind>& kinds = {});

private:
    std::vector<Fault> faults_;
};

} // namespace sim
