// The console's polling: the current request repeated every interval, never
// before the previous request has its answer or its time-out, each answer's
// register values taken with the time they arrived and how long the meter
// took. A request left unanswered is counted and the polling goes on; it
// stops when the meter has been silent for the archive read's answer
// time-out, answers with an exception, or the port has gone. The poller
// neither reads the port nor knows the screen: it sends through the sender
// it was made with, is told of answers and time, and reports to an observer.
#pragma once
#include "base/LineLog.h"
#include "base/Timing.h"
#include "console/ValueDecoder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// One answer of a poll.
struct PollSample {
    std::int64_t WallMs = 0;   // when it arrived, ms since the epoch
    std::int32_t AnswerMs = 0; // from the request's send to the answer
    std::vector<RegisterValue> Values;
};

// How the poll stands: requests sent, answered, and left without answer.
struct PollCounts {
    std::int32_t Sent = 0, Answered = 0, Missed = 0;
};

enum class PollStopReason { MeterSilent, Refused, PortGone };

// The message for a stopped poll (UTF-8), and its caption.
struct PollMessage {
    std::string text, caption;
};
PollMessage PollStopMessage(PollStopReason reason, int code);

class PollObserver {
public:
    virtual ~PollObserver() = default;
    virtual void Sampled(const PollSample& sample) { (void)sample; }
    // A request's answer time ran out; the polling goes on.
    virtual void Missed(const PollCounts& counts) { (void)counts; }
    // The polling has stopped by itself (not by Stop()).
    virtual void PollStopped(PollStopReason reason, int code) {
        (void)reason;
        (void)code;
    }
};

class ValuePoller {
public:
    // `send` puts the current request on the line; `clock`: none is the
    // steady clock; `wall` stamps the samples.
    ValuePoller(PollObserver& observer, std::function<void()> send, SteadyClock clock = {},
                WallClock wall = SystemNowMs);
    ValuePoller(const ValuePoller&) = delete;
    ValuePoller& operator=(const ValuePoller&) = delete;

    // Starts polling at `intervalMs` (at least MinPollIntervalMs), decoding
    // answers from `startRegister`; the first request goes out at once.
    void Start(int intervalMs, std::int32_t startRegister);
    // Ends the polling without a report.
    void Stop();
    // The awaited answer is complete: its data bytes.
    void Answered(const std::uint8_t* data, std::int32_t count);
    // The meter refused the request with an exception code.
    void Refused(std::uint8_t code);
    // Time has passed: a gone port stops the poll, an overdue answer counts
    // as missed (or stops a silent meter), and a due request goes out.
    // Returns the milliseconds until the poller wants to look again (-1:
    // not running).
    int Tick(bool portGone);

    bool Running() const { return running_; }
    bool Awaiting() const { return running_ && awaiting_; }
    int IntervalMs() const { return intervalMs_; }
    const PollCounts& Counts() const { return counts_; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    TimePoint Now() const;
    void SendNext();
    void End(PollStopReason reason, int code);

    PollObserver& observer_;
    std::function<void()> send_;
    SteadyClock clock_;
    WallClock wall_;
    bool running_ = false;
    bool awaiting_ = false;
    int intervalMs_ = MinPollIntervalMs;
    std::int32_t startRegister_ = 0;
    PollCounts counts_;
    TimePoint sentAt_{};
    // The send of the first request still without an answer after the last
    // answer; the meter's silence counts from it.
    TimePoint silentSince_{};
    bool silent_ = false;
};
