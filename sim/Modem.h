// A Hayes modem in front of the gateway on the PC line: in command mode it
// answers AT commands (echoing them unless ATE0), ATD dials and after a
// delay answers CONNECT (or a fault's result), and online it passes the
// bytes both ways until "+++" between guard times brings it back to command
// mode; ATH hangs up. Pure logic: the PC line feeds it bytes with their
// arrival times and ticks it.
#pragma once
#include "sim/PtyLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// What a dial ends in.
enum class ModemFault {
    None,       // CONNECT
    Busy,       // BUSY
    NoAnswer,   // NO ANSWER
    NoCarrier,  // NO CARRIER
    NoDialtone, // NO DIALTONE
    Silent      // no result at all: the modem dials on until a byte aborts it
};

// "busy", "no-answer", "no-carrier", "no-dialtone", "silent" (or "none").
std::optional<ModemFault> ParseModemFault(const std::string& text);

struct ModemSetup {
    bool Present = false; // a modem stands in front of the gateway
    ModemFault Fault = ModemFault::None;
    int ConnectDelayMs = 0;  // from ATD to its result
    int GuardMs = 1000;      // the silence before and after "+++" (S12 = 50)
    int ConnectSpeed = 9600; // CONNECT <speed>
};

enum class ModemState {
    Command,      // idle, no connection: AT commands
    Dialing,      // ATD given, its result not yet
    Online,       // connected: bytes pass to and from the gateway
    OnlineCommand // connected, escaped by "+++": AT commands (ATO goes back, ATH hangs up)
};

class HayesModem {
public:
    explicit HayesModem(const ModemSetup& setup) : setup_(setup) {}

    // A byte from the PC that arrived at `at`: the modem's answers are
    // appended to `toPc`, the bytes it passes to the gateway to `toGateway`.
    void FromPc(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toGateway,
                std::vector<std::uint8_t>& toPc);
    // Time has passed: a dial's result is due, an escape's guard time is over,
    // or '+' bytes held back turned out to be data.
    void Tick(Clock::time_point now, std::vector<std::uint8_t>& toGateway, std::vector<std::uint8_t>& toPc);
    // When Tick has something to do next; nothing when it has not.
    std::optional<Clock::time_point> Due() const;

    ModemState State() const { return state_; }
    bool Online() const { return state_ == ModemState::Online; }
    bool Echo() const { return echo_; }
    // The last number dialled, as given after ATD (T or P included).
    const std::string& Dialled() const { return dialled_; }

private:
    void Command(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toPc);
    void Execute(const std::string& line, Clock::time_point at, std::vector<std::uint8_t>& toPc);
    void OnlineByte(std::uint8_t byte, Clock::time_point at, std::vector<std::uint8_t>& toGateway);
    void ReleasePluses(std::vector<std::uint8_t>& toGateway);
    static void Result(const std::string& text, std::vector<std::uint8_t>& toPc);
    Clock::duration Guard() const { return std::chrono::milliseconds(setup_.GuardMs); }

    ModemSetup setup_;
    ModemState state_ = ModemState::Command;
    bool echo_ = true;
    std::string line_; // the command line being typed
    std::string dialled_;
    Clock::time_point dialDue_{};
    Clock::time_point lastFromPc_{}; // online: the PC's last byte (or the connection)
    int pluses_ = 0;                 // '+' bytes held back as a possible escape
    Clock::time_point escapeDue_{};  // three of them: command mode once this passes quietly
};

} // namespace sim
