// Finding the meters on the gateway's RS-485 line: every address of a range
// is sent the identification request through the gateway, one after another,
// and its answer awaited for a wait derived from the line speeds. Every
// answer is credited to the address in its first byte, so a meter that
// answers after its wait shows as late at its own address, not at the next;
// the next request goes out only when the line is quiet. A garbled answer is
// asked again (the line's driver does that). Bytes that arrive outside any
// wait, or that break into an exchange with the gateway, make the scan ask
// the silent addresses they may come from again with the long wait at the
// end, so that a slow meter is found with its answer time. The scan is a
// conversation of the line's driver: it sends through it, and the driver's
// owner pumps the line and ticks the scan.
#pragma once
#include "archive/ArchiveSession.h"
#include "base/AnswerFrame.h"
#include "base/RequestBlock.h"
#include "base/Timing.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The identification's request as it goes onto the meter line (address,
// function, register, count, check) and its answer (address, function,
// count, four registers, check).
inline constexpr int IdentRequestFrameBytes = 8;
inline constexpr int IdentAnswerFrameBytes = 13;
// A refusal: address, function | 0x80, code, check.
inline constexpr int ExceptionFrameBytes = 5;

// The usual address range, and the whole range of the address byte.
inline constexpr int FirstMeterAddress = 1;
inline constexpr int LastMeterAddress = 247;
inline constexpr int LastAddressByte = 255;

// The gateway's RS-485 speed for its speed code: 1000000 / (code + 1) bit/s.
double Rs485SpeedOfCode(std::uint8_t code);

// What the wait for one address is made of, in milliseconds.
struct ScanWaitParts {
    double Request = 0;   // the request on the meter line
    double Answer = 0;    // the longest identification answer on the meter line
    double Silences = 0;  // the end-of-frame silences after request and answer
    double PcLine = 0;    // the answer passed on over the PC line
    double Allowance = 0; // the meter's own processing time (MeterProcessingAllowanceMs)
    int TotalMs = 0;      // their sum, rounded up
};
ScanWaitParts ScanWait(double rs485BitsPerSecond, int pcBitsPerSecond);

enum class ScanResultKind {
    Identified, // a valid identification answer
    Exception,  // a valid refusal with its code
    Garbled,    // bytes that make no valid answer
    Late,       // a valid answer after the wait (Identity or Code tell which)
    NoAnswer,   // nothing within the wait
    Slow        // silent within the wait, identified when asked again with the long wait
};

// The wait for slow meters when they are asked again, by default.
inline constexpr int DefaultLongWaitMs = 1000;

struct ScanResult {
    std::uint8_t Address = 0;
    ScanResultKind Kind = ScanResultKind::NoAnswer;
    bool HasIdentity = false; // Identity holds the answer's values
    DeviceIdentity Identity;
    int Code = 0;      // exception code (Exception, or a late refusal)
    int AnswerMs = -1; // from the request to the answer's last byte; -1: none
};

// The result column's text (UTF-8), e.g. "тип 4, версия 4611, конфигурация 1032, 10551298".
std::string ScanResultText(const ScanResult& result);
// Every result as CSV by the archive CSV's rules (archive/ArchiveCsv.h):
// UTF-8 with a byte order mark, a header row, the field separator a
// spreadsheet expects beside `decimalSeparator`, CR LF.
std::string ScanCsv(const std::vector<ScanResult>& results, char decimalSeparator);

// How a scan ended.
enum class ScanEnd {
    Running,      // not ended yet
    Finished,     // every address of the range was asked
    Stopped,      // the user stopped it; the results so far are kept
    PortGone,     // the port went away
    GatewayFailed // the gateway did not take a request
};
// The line that tells how a scan ended (UTF-8; empty while it runs).
std::string ScanEndText(ScanEnd end, int address);

struct ScanProgress {
    int Address = 0; // being asked now (or the last asked)
    int Done = 0;    // addresses asked and done with
    int Total = 0;
    double SecondsSpent = 0;
    double SecondsLeft = 0;
};
// A duration as minutes and seconds: "1:05".
std::string MinutesSeconds(double seconds);
// "Адрес 17: 3 из 247, прошло 0:02, осталось 0:15"
std::string ScanProgressText(const ScanProgress& progress);

class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    // A result was added (`added`) or replaced (a late answer) at `index`.
    virtual void ResultChanged(std::size_t index, bool added) {
        (void)index;
        (void)added;
    }
    virtual void Ended(ScanEnd end) { (void)end; }
};

class AdapterLink;
class LineDriver;
// The gateway's RS-485 speed code (cell 2 of its settings); none when the
// gateway did not answer.
std::optional<std::uint8_t> ReadGatewaySpeedCode(AdapterLink& link);

// How the scan asks again with the long wait.
struct ScanRecheck {
    int LongWaitMs = DefaultLongWaitMs;
    bool EverySilent = false; // every silent address, not only the suspected ones
};

class LineScan : public LineConversation {
public:
    // Sends through `driver`, whose conversation it must be while it runs.
    LineScan(ScanObserver& observer, LineDriver& driver, SteadyClock clock = {});

    // Asks each address in turn, waiting `waitMs` for each answer.
    void Start(std::vector<int> addresses, int waitMs, ScanRecheck recheck = {});
    // Scans first..last.
    void Start(int first, int last, int waitMs, ScanRecheck recheck = {});
    // LineConversation: the driver's frames, repeats and stray bytes.
    void LineFrameEnded(const LineFrame& frame) override;
    void LineAskedAgain() override;
    void LineStrayBytes(const std::uint8_t* bytes, std::size_t count) override;
    // The wait and the quiet line are checked; the next request goes out
    // when its time has come. `portGone`: the port has failed.
    void Tick(bool portGone);
    // Ends the scan; its results stay.
    void Stop();

    bool Running() const { return end_ == ScanEnd::Running && started_; }
    ScanEnd End() const { return end_; }
    // Milliseconds until Tick has something to do (0: now).
    int MsUntilDue() const;
    const std::vector<ScanResult>& Results() const { return results_; }
    ScanProgress Progress() const;
    int WaitMs() const { return waitMs_; }

    // Addresses waiting to be asked again with the long wait.
    const std::vector<int>& Rechecks() const { return recheck_; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    TimePoint Now() const;
    void TakeFrame(const LineFrame& frame);
    ScanResult ResultOf(const LineFrame& frame) const;
    void Record(ScanResult result, int index);
    // Bytes from nobody awaited (first byte `first`, -1 unknown): the
    // silent addresses they may come from are asked again.
    void Suspect(int first);
    void QueueRecheck(int address);
    void SendNext();
    // The wait for the current address ran out: its row says "нет ответа".
    void WaitEnded(TimePoint now);
    // Sends the next queued recheck when it is due; false when none is queued.
    bool SendRecheck();
    // When `address` may be asked again: a long wait after it was last asked.
    TimePoint RecheckDue(int address) const;
    bool Send(int address);
    void Finish(ScanEnd end);
    int CurrentWaitMs() const { return rechecking_ ? recheckOpt_.LongWaitMs : waitMs_; }

    ScanObserver& observer_;
    LineDriver& driver_;
    SteadyClock clock_;
    std::vector<ScanResult> results_;
    std::vector<int> indexOf_ = std::vector<int>(LastAddressByte + 1, -1);
    std::vector<TimePoint> sentAt_ = std::vector<TimePoint>(LastAddressByte + 1);
    std::vector<int> addresses_;
    std::size_t next_ = 0; // index into addresses_
    int waitMs_ = 0;
    int current_ = -1; // the address whose answer is awaited
    bool started_ = false;
    ScanEnd end_ = ScanEnd::Running;
    TimePoint start_{}, endAt_{}, lastByte_{};
    // After a silent last address the scan listens one wait longer, so that
    // a late answer from it is not lost for want of a next address.
    TimePoint tailUntil_{};
    ScanRecheck recheckOpt_;
    std::vector<int> recheck_;  // still to be asked again with the long wait
    std::size_t rechecked_ = 0; // asked again so far
    bool rechecking_ = false;   // the address awaited is asked again
    bool everySilentQueued_ = false;
    bool strayInSend_ = false; // an exchange under way found stray bytes
};
