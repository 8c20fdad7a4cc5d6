// The one owner of the program's line. It grants the line to one
// conversation at a time (an archive read, a scan, a batch, polling, the
// packet monitor), and it is the only code that waits for the port's input
// and reads it: it sends a conversation's requests through the gateway,
// frames the awaited answer by the end-of-answer rule (base/AnswerFrame.h),
// checks its Modbus check, asks a garbled answer's request again once the
// line is quiet, and hands the conversation every byte it read and every
// frame with its verdict. A trace, when set, receives every request, byte,
// frame, verdict, repeat and time-out with its time.
//
// A new conversation implements LineConversation, claims the line, attaches
// itself to a driver, sends through Request() and lets Pump()/Service() (a
// window's port watch and timer) or RunLine() (no window) drive it.
#pragma once
#include "base/AnswerFrame.h"
#include "base/Timing.h"
#include "serial/PortDescriptor.h"
#include "serial/Rs232.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Who holds the line ------------------------------------------------------

// How a holder uses the line.
enum class LineHold {
    Answers,  // it sends requests and takes their answers
    EveryByte // it takes every byte the port receives (the packet monitor)
};

// The holder's activity as the user reads it, in Russian, e.g. "чтение
// суточного архива"; empty when the line is free.
const std::string& LineHolderActivity();
// Claims the line for `owner` (any stable address: the object that runs the
// conversation). True when the line was free or already held by `owner`,
// whose activity and hold are then replaced.
bool ClaimLine(const void* owner, std::string activity, LineHold hold = LineHold::Answers);
// Gives the line back; nothing when `owner` does not hold it.
void ReleaseLine(const void* owner);
// Whether someone other than `owner` holds the line.
bool LineHeldByOther(const void* owner);
// Whether a holder of every byte (the packet monitor) holds the line: no
// answer reaches anyone else.
bool LineTakenWhole();
// Whether another holder of answers holds the line, so that an exchange of
// `owner`'s would take the answers that holder awaits. A holder of every
// byte does not count: it only watches.
bool LineBusyFor(const void* owner);
// The short message for a window refused while another holds the line:
// "Линия занята: идёт <activity>. Дождитесь конца или остановите его."
std::string LineBusyText();
// The caption of that message.
inline constexpr const char* LineBusyCaption = "ЛИНИЯ ЗАНЯТА";

// A claim held for a scope; `Held()` tells whether it was granted.
class ScopedLineClaim {
public:
    ScopedLineClaim(const void* owner, std::string activity)
        : owner_(owner), held_(ClaimLine(owner, std::move(activity))) {}
    ~ScopedLineClaim() {
        if (held_) ReleaseLine(owner_);
    }
    ScopedLineClaim(const ScopedLineClaim&) = delete;
    ScopedLineClaim& operator=(const ScopedLineClaim&) = delete;
    bool Held() const { return held_; }

private:
    const void* owner_;
    bool held_;
};

// ---- Conversations -------------------------------------------------------------

// A frame the driver has cut from the line.
struct LineFrame {
    const std::uint8_t* Bytes = nullptr;
    std::size_t Size = 0;
    bool Awaited = false;    // the answer to the request awaited (else: arrived unasked)
    bool CheckOk = false;    // its last two bytes are the Modbus check of the others
    bool Refusal = false;    // the awaited function refused; the code is Bytes[2]
    bool CutShort = false;   // the line fell quiet before the frame was complete
    bool AskedAgain = false; // garbled: the request goes out again once the line is quiet
    int Garbled = 0;         // garbled answers to this request so far
    // Whether the frame may be taken as data: complete with a matching check.
    bool Good() const { return CheckOk && !CutShort; }
};

class LineConversation {
public:
    virtual ~LineConversation() = default;
    // Every byte read for this conversation, in arrival order; the frame
    // they end is reported after them.
    virtual void LineBytes(const std::uint8_t* bytes, std::size_t count) {
        (void)bytes;
        (void)count;
    }
    // A frame ended: the awaited answer (good, refused or garbled), or one
    // that arrived while nothing was awaited.
    virtual void LineFrameEnded(const LineFrame& frame) { (void)frame; }
    // A garbled answer's request has gone out again: its wait starts anew.
    virtual void LineAskedAgain() {}
    // Bytes an exchange with the gateway found in its way (a meter's late
    // answer): not the exchange's own, and not read by the driver.
    virtual void LineStrayBytes(const std::uint8_t* bytes, std::size_t count) {
        (void)bytes;
        (void)count;
    }
};

// How a request's answer is awaited.
struct AwaitOptions {
    std::uint8_t Function = 0; // whose refusal is recognised (0: none)
    int AskAgain = 2;          // how often a garbled answer's request goes out again (a write: never)
    // A frame begun and then this long without a byte is cut short (-1:
    // Timing().AnswerQuietMs).
    int QuietMs = -1;
};

// The driver's counts since it was made or reset.
struct LineCounts {
    int Requests = 0;   // requests sent, repeats included
    int AskedAgain = 0; // repeats of a garbled answer's request
    int Garbled = 0;    // answers whose check did not match, or cut short
};

// Hands a request block to the gateway (SendPacket); false when it did not go out.
using BlockSender = std::function<bool(const std::uint8_t* block, std::int32_t count)>;
// Receives the trace's lines.
using LineTrace = std::function<void(const std::string& line)>;

class LineDriver {
public:
    LineDriver(PortAccessor port, BlockSender sender, SteadyClock clock = {});
    LineDriver(const LineDriver&) = delete;
    LineDriver& operator=(const LineDriver&) = delete;

    void SetSender(BlockSender sender) { sender_ = std::move(sender); }
    void SetTrace(LineTrace trace) { trace_ = std::move(trace); }
    bool Tracing() const { return static_cast<bool>(trace_); }
    // The conversation reported to (none: what is read is dropped).
    void Attach(LineConversation* conversation);
    LineConversation* Attached() const { return conversation_; }

    // Sends a request block through the gateway and awaits its answer. False
    // when the block did not go out: then nothing is awaited.
    bool Request(const std::uint8_t* block, std::int32_t count, const AwaitOptions& options);
    // Awaits nothing any more (a conversation's time-out or stop); an answer
    // still awaited is traced as missing.
    void AwaitNothing();
    bool Awaiting() const { return awaiting_; }
    // Whether a garbled answer's request waits for the quiet line to go again.
    bool RepeatPending() const { return repeatPending_; }
    // Whether a frame has begun and not ended.
    bool FrameUnderWay() const { return !rx_.empty(); }
    // Bytes the awaited answer lacks at least (0: none awaited, or a repeat is pending).
    int Lacking() const;

    // Reads what the port has waiting, waiting up to `waitMs` for it, and
    // hands it over: no more than the awaited answer lacks, so that the next
    // request's exchange with the gateway finds its own bytes on the line.
    // Then Service(). Returns how the wait ended.
    PortInput Pump(int waitMs);
    // Time has passed: a frame cut short by a quiet line is ended, a due
    // repeat goes out.
    void Service();
    // Milliseconds until Service has something to do (-1: nothing).
    int MsUntilDue() const;
    // Bytes found outside the driver's reads (an exchange with the gateway
    // read them instead of its own answer): traced and handed over as stray.
    void Found(const std::uint8_t* bytes, std::size_t count);
    // A line of the trace (a conversation's time-out, its end).
    void Note(const std::string& text);

    const LineCounts& Counts() const { return counts_; }
    void ResetCounts() { counts_ = {}; }
    Rs232Port* Port() const { return port_ ? port_() : nullptr; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    TimePoint Now() const;
    bool Send();
    void Take(const std::uint8_t* bytes, std::size_t count);
    void EndFrame(bool cutShort);
    int QuietMs() const;
    void TraceBytes(const char* what, const std::uint8_t* bytes, std::size_t count);
    // The awaited answer did not come (a conversation's time-out, or the next request).
    void NoteSilence();

    PortAccessor port_;
    BlockSender sender_;
    SteadyClock clock_;
    LineTrace trace_;
    LineConversation* conversation_ = nullptr;
    TimePoint start_;

    std::vector<std::uint8_t> request_; // the last request, for a repeat
    AwaitOptions options_;
    bool awaiting_ = false;
    int garbled_ = 0;              // garbled answers to the current request
    bool repeatPending_ = false;   // goes out again once the line is quiet
    std::vector<std::uint8_t> rx_; // the frame under way
    TimePoint lastByte_{};
    TimePoint sentAt_{};
    LineCounts counts_;
};

// A conversation run without a window (the command line, tests, benchmarks):
// waits for input or its next due time, reads, ticks, until it is over.
struct LineRun {
    std::function<bool()> Running;
    std::function<void(bool portGone)> Tick;
    // Milliseconds until the conversation's own time is due (none or
    // negative: the usual tick).
    std::function<int()> MsUntilDue;
};
void RunLine(LineDriver& driver, const LineRun& run);
