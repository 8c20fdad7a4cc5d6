// Dial-up through a Hayes modem on the program's port: the stored
// initialisation string, then ATDT or ATDP and the number, waiting at most
// the stored connection time for CONNECT; and the hang-up (DTR dropped, then
// "+++" between guard times and ATH0 when the modem may still be online).
// A conversation of its own line driver: it claims the line while it talks,
// reads the modem's answers through the driver's Pump and keeps its own
// time-outs, so a window drives it from its port watch and timer and the
// command line through RunDialer.
#pragma once
#include "base/Options.h"
#include "base/Timing.h"
#include "serial/LineDriver.h"
#include "serial/Rs232.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a dial is made with.
struct DialSettings {
    std::string InitString; // sent first with "\r" unless empty; no line end of its own
    bool Tone = false;      // ATDT, else ATDP (pulse)
    std::string Number;     // as typed; blanks, '-', '(' and ')' are left out on the wire
    int ConnectWaitMs = 60000;
};
// The stored settings: ModemInitString without its line end, DialMode 2 as
// tone, ConnectWaitSeconds.
DialSettings DialSettingsFrom(const TAppOptions& options, const std::string& number);

// The dialer's waits (Timing() by default; tests shorten them).
struct DialTimes {
    int AnswerMs = 3000; // an AT command's answer
    int GuardMs = 1200;  // silence before and after "+++"
    int DtrDropMs = 500; // DTR held down to hang up
    int SettleMs = 100;  // the rest of the CONNECT line let go
    int AbortMs = 300;   // a dial interrupted: the modem's answer to that let go
};
DialTimes DialTimesNow();

// A modem's result line.
enum class ModemResult { None, Ok, Connect, Busy, NoAnswer, NoCarrier, NoDialtone, Error };
// The result a line names: verbose ("CONNECT 9600", "NO DIAL TONE" too) or
// numeric (0 1 3 4 6 7 8); None for anything else.
ModemResult ClassifyModemLine(const std::string& line);

// Cuts the modem's bytes into lines: CR and LF both end one, blank lines
// and the echo of a command (a line that starts with "AT") are left out, a
// line split over several reads is joined. A line is cut at 256 characters.
class ModemLineSplitter {
public:
    std::vector<std::string> Take(const std::uint8_t* bytes, std::size_t count);

private:
    std::string partial_;
};

enum class DialOutcome {
    Connected,
    Busy,
    NoAnswer,
    NoCarrier,
    NoDialtone,
    Error,      // the modem refused a command
    Silent,     // no result within the connection wait
    NoModem,    // no answer to the initialisation string
    NoNumber,   // nothing to dial
    PortFailed, // the port is not open, or a write failed
    LineBusy,   // another holds the line
    Online,     // a dial on this port holds its connection already: nothing is sent
    Cancelled
};
// The message for a dial that did not connect (UTF-8; empty for Connected
// and Cancelled). `connection`: the CONNECT line an Online refusal names.
std::string DialOutcomeText(DialOutcome outcome, int connectWaitSeconds, const std::string& connection = {});
inline constexpr const char* ModemCaption = "МОДЕМ";

enum class HangUpOutcome {
    Done,       // DTR dropped with the carrier gone, or ATH0 answered
    NoAnswer,   // the modem answered neither "+++" nor ATH0
    PortFailed, // the port is not open, or a write failed
    LineBusy
};
std::string HangUpOutcomeText(HangUpOutcome outcome);

class ModemDialer : public LineConversation {
public:
    explicit ModemDialer(PortAccessor port, DialTimes times = DialTimesNow(), SteadyClock clock = {});
    ~ModemDialer() override;
    ModemDialer(const ModemDialer&) = delete;
    ModemDialer& operator=(const ModemDialer&) = delete;

    // Starts a dial; Running() until it has ended.
    void Dial(const DialSettings& settings);
    // Starts the hang-up; Running() until it has ended.
    void HangUp();
    // Stops a dial under way (a dialling modem is interrupted by a key
    // press); a hang-up runs to its end.
    void Cancel();
    bool Running() const { return step_ != Step::Idle; }

    // Driving: the driver reads (Pump), Tick does the time-driven part.
    LineDriver& Driver() { return driver_; }
    void Tick(bool portGone = false);
    // Milliseconds until Tick is due (-1: nothing under way).
    int MsUntilDue() const;

    DialOutcome Outcome() const { return outcome_; }
    const std::string& ConnectLine() const { return connectLine_; }
    HangUpOutcome HangUpResult() const { return hangUp_; }
    // Whether the last hang-up could drop DTR (a pseudo-terminal cannot).
    bool DtrDropped() const { return dtrDropped_; }

    void LineBytes(const std::uint8_t* bytes, std::size_t count) override;

private:
    enum class Step {
        Idle,
        InitWait,    // the initialisation string's OK
        DialWait,    // the dial's result
        Settle,      // CONNECT seen: the rest of its line let go
        Aborting,    // a dial interrupted: its last result let go
        DtrDown,     // hang-up: DTR held down
        GuardBefore, // silence before "+++"
        EscapeWait,  // "+++" sent: the guard after it and the modem's OK
        HangWait     // ATH0's OK or NO CARRIER
    };
    using TimePoint = std::chrono::steady_clock::time_point;
    TimePoint Now() const;
    void Enter(Step step, int waitMs);
    bool Send(const std::string& text);
    void Result(ModemResult result, const std::string& line);
    void EndDial(DialOutcome outcome);
    void EndHangUp(HangUpOutcome outcome);
    void SendDial();
    void Abort(DialOutcome outcome);
    void Expired();

    PortAccessor port_;
    DialTimes times_;
    SteadyClock clock_;
    LineDriver driver_;
    ModemLineSplitter lines_;
    DialSettings settings_;
    Step step_ = Step::Idle;
    TimePoint due_{};
    DialOutcome outcome_ = DialOutcome::Cancelled;
    DialOutcome abortedAs_ = DialOutcome::Cancelled;
    std::string connectLine_;
    HangUpOutcome hangUp_ = HangUpOutcome::Done;
    bool dtrDropped_ = false;
    bool escaped_ = false; // "+++" was answered with OK
};

// Runs a dial or hang-up started on `dialer` to its end without a window.
void RunDialer(ModemDialer& dialer);

// The activities the line's holder is named by while the dialer talks.
inline constexpr const char* DialActivity = "набор номера";
inline constexpr const char* HangUpActivity = "отбой модема";
