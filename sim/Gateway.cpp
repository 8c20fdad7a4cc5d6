// The gateway's loop: it waits for an opening byte from the PC and runs the
// exchange it opens; meanwhile it collects the meter's answer from the RS-485
// line and passes it on after the line's end-of-frame silence, and sends the
// packet stream's items when they are due.
#include "sim/Gateway.h"

#include "sim/LineTiming.h"

#include <algorithm>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr auto IdleWake = std::chrono::milliseconds(20); // Stop() noticed within this
constexpr int StreamBacklogLimit = 2048;                 // bytes unread by the PC before items are dropped
} // namespace

Gateway::Gateway(Shared& shared, GatewayCells& cells, PtyEnds& pc, PtyEnds& line)
    : zepLan(shared.opt.ZepLanAddress), shared_(shared), cells_(cells), pc_(shared, pc), line_(line) {}

double Gateway::Rs485Speed() const {
    std::lock_guard lock(shared_.m);
    return SpeedOfCode(cells_.Applied().SpeedCode);
}

Clock::duration Gateway::AnswerGap() const {
    if (shared_.opt.AnswerGapMs > 0) return std::chrono::milliseconds(shared_.opt.AnswerGapMs);
    return EndOfFrameSilence(Rs485Speed());
}

void Gateway::SendMeter(const std::vector<std::uint8_t>& frame) {
    if (!frame.empty()) lastAsked_ = frame[0];
    // In one piece: under load a pause of this thread inside the frame was
    // taken by the meter for the frame's end, and the meter stayed silent.
    SendFramePaced(line_.master, frame, Rs485Pace(), shared_.stop, shared_.Recorder(Direction::ToMeter));
}

// Puts what the meter sent on the RS-485 line (see ArriveMeter).
void Gateway::DrainLine() {
    std::uint8_t buf[512];
    for (;;) {
        ssize_t n = read(line_.master, buf, sizeof buf);
        if (n <= 0) break;
        meterLine_.Spread(buf, static_cast<std::size_t>(n), Rs485Pace());
        answerPending_ = true;
    }
    ArriveMeter();
}

// Moves the meter's bytes that are through the line (all of them when
// `all`) into the answer.
void Gateway::ArriveMeter(bool all) {
    auto now = Clock::now();
    auto run = meterLine_.Take(now, all);
    for (const Arriving& a : run) {
        answer_.push_back(a.byte);
        lastAnswerByte_ = std::min(a.at, now);
    }
    shared_.Record(Direction::FromMeter, run);
}

bool Gateway::HeldForNextExchange() const {
    return shared_.opt.AnswerOnNextExchange && !answer_.empty() && answer_[0] != lastAsked_;
}

void Gateway::ForwardAnswer() {
    DrainLine();
    ArriveMeter(true);
    if (answer_.empty()) return;
    auto f = shared_.Pass(Step::MeterAnswer, {FaultKind::Corrupt, FaultKind::Burst, FaultKind::Drop,
                                              FaultKind::Short, FaultKind::Close});
    if (f && f->kind == FaultKind::Close) {
        pc_.Close();
    } else if (f && f->kind == FaultKind::Short) {
        answer_.resize(
            std::min<std::size_t>(answer_.size(), static_cast<std::size_t>(std::max(f->value, 0))));
    } else if (f) {
        Mangle(answer_, *f);
    }
    pc_.Send(answer_);
    answer_.clear();
    answerPending_ = false;
}

// Sends the packet stream's next item when it is due; true when it sent one.
// Otherwise brings `wake` forward to the next item's time.
bool Gateway::StreamItem(Clock::time_point now, Clock::time_point& wake) {
    std::unique_lock lock(shared_.m);
    if (!streaming) return false;
    if (now < streamDue) {
        wake = std::min(wake, streamDue);
        return false;
    }
    auto item = stream.Pattern[static_cast<std::size_t>(streamSeq) % stream.Pattern.size()];
    int seq = streamSeq++;
    streamDue = now + std::chrono::milliseconds(stream.IntervalMs);
    ++itemsSent;
    if (stream.Count >= 0 && itemsSent >= stream.Count) streaming = false;
    lock.unlock();
    // Nobody reads the line: drop items rather than pile them up.
    if (Pending(pc_.SlaveKeep()) < StreamBacklogLimit) pc_.Send(PacketStreamBytes(item, seq));
    return true;
}

// Until either line has something or `wake`.
void Gateway::WaitForInput(Clock::time_point wake) {
    struct pollfd p[2] = {{pc_.Descriptor(), POLLIN, 0}, {line_.master, POLLIN, 0}};
    PollUntil(p, 2, pc_.NextWake(wake));
    if (p[1].revents & POLLIN) DrainLine();
    if (pc_.Descriptor() >= 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) pc_.Drain();
}

void Gateway::Run() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // wake-ups within a byte time of fast lines
    while (!shared_.stop) {
        ArriveMeter();
        auto now = Clock::now();
        auto wake = now + IdleWake;
        if (!meterLine_.Empty()) {
            wake = std::min(wake, meterLine_.NextAt());
        } else if (!answer_.empty() && !HeldForNextExchange()) {
            // The answer ends with the line's silence after its last byte.
            auto gapEnd = lastAnswerByte_ + AnswerGap();
            if (now >= gapEnd) {
                ForwardAnswer();
                continue;
            }
            wake = std::min(wake, gapEnd);
        }
        if (StreamItem(now, wake)) continue;
        auto b = pc_.Take();
        if (!b) {
            WaitForInput(wake);
            continue;
        }
        if (Clock::now() < busyUntil_) continue; // applying settings: deaf for a moment
        if (!Opens(*b)) continue;                // waits for an opening byte
        // A held answer goes first, where the PC awaits the gateway's reply.
        if (shared_.opt.AnswerOnNextExchange && !answer_.empty()) ForwardAnswer();
        inExchange_ = true;
        Exchange(*b);
        {
            std::lock_guard lock(shared_.m);
            ++exchanges;
            shared_.changed.notify_all();
        }
        inExchange_ = false;
    }
}

} // namespace sim
