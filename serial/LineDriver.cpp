// The line's one holder and one reader.
#include "serial/LineDriver.h"

#include "base/RequestBlock.h"

#include <algorithm>
#include <cstdio>
#include <thread>

// ---- Who holds the line (everything runs on the GUI thread) --------------------

namespace {
const void* holder = nullptr;
LineHold holderHold = LineHold::Answers;
std::string activity;

// Bytes read from the port in one block at most.
constexpr std::size_t ReadChunk = 1312;
} // namespace

const std::string& LineHolderActivity() {
    return activity;
}

bool ClaimLine(const void* owner, std::string what, LineHold hold) {
    if (holder && holder != owner) return false;
    holder = owner;
    holderHold = hold;
    activity = std::move(what);
    return true;
}

void ReleaseLine(const void* owner) {
    if (holder != owner) return;
    holder = nullptr;
    holderHold = LineHold::Answers;
    activity.clear();
}

bool LineHeldByOther(const void* owner) {
    return holder && holder != owner;
}

bool LineTakenWhole() {
    return holder && holderHold == LineHold::EveryByte;
}

bool LineBusyFor(const void* owner) {
    return LineHeldByOther(owner) && holderHold == LineHold::Answers;
}

std::string LineBusyText() {
    return "Линия занята: идёт " + activity + ". Дождитесь конца или остановите его.";
}

// ---- The driver ------------------------------------------------------------------

LineDriver::LineDriver(PortAccessor port, BlockSender sender, SteadyClock clock)
    : port_(std::move(port)), sender_(std::move(sender)), clock_(std::move(clock)) {
    start_ = Now();
    lastByte_ = start_ - std::chrono::hours(1);
}

LineDriver::TimePoint LineDriver::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void LineDriver::Attach(LineConversation* conversation) {
    conversation_ = conversation;
    awaiting_ = false;
    repeatPending_ = false;
    garbled_ = 0;
    rx_.clear();
}

bool LineDriver::Request(const std::uint8_t* block, std::int32_t count, const AwaitOptions& options) {
    if (awaiting_) NoteSilence();
    request_.assign(block, block + std::max(count, 0));
    options_ = options;
    // A write is never sent twice: the meter may have done it already (the
    // archive's "next row" done twice would skip a row). Its garbled answer
    // ends the conversation's step instead.
    if (request_.size() > 2 &&
        (request_[2] == FnWriteSingleRegister || request_[2] == FnWriteMultipleRegisters))
        options_.AskAgain = 0;
    garbled_ = 0;
    repeatPending_ = false;
    // Whatever began before this request is no part of its answer.
    rx_.clear();
    return Send();
}

bool LineDriver::Send() {
    ++counts_.Requests;
    TraceBytes(">>", request_.data(), request_.size());
    const bool sent = sender_ && sender_(request_.data(), static_cast<std::int32_t>(request_.size()));
    awaiting_ = sent;
    sentAt_ = Now();
    if (!sent) Note("запрос не ушёл: шлюз не принял его");
    return sent;
}

void LineDriver::AwaitNothing() {
    if (awaiting_) NoteSilence();
    awaiting_ = false;
    repeatPending_ = false;
}

int LineDriver::QuietMs() const {
    return options_.QuietMs >= 0 ? options_.QuietMs : Timing().AnswerQuietMs;
}

int LineDriver::Lacking() const {
    if (!awaiting_) return 0;
    const AnswerFrame f = FrameAnswer(rx_.data(), rx_.size(), options_.Function);
    return f.state == AnswerFrame::State::Incomplete ? f.lacking : 0;
}

PortInput LineDriver::Pump(int waitMs) {
    Rs232Port* port = Port();
    PortInput input = PortInput::TimedOut;
    if (port && port->IsOpen()) {
        input = WaitForInput(*port, std::max(waitMs, 0));
        // What was waiting when the read began: a request sent meanwhile
        // (an answer taken sends the next one) reads its exchange itself.
        int left = input == PortInput::Waiting ? port->InQueue() : 0;
        std::uint8_t bytes[ReadChunk];
        while (left > 0) {
            port = Port();
            if (!port || !port->IsOpen()) break;
            const int lacking = Lacking();
            const int want = std::min(
                {left, port->InQueue(), lacking > 0 ? lacking : left, static_cast<int>(sizeof bytes)});
            if (want <= 0) break;
            std::uint32_t got = 0;
            port->ReadBlock(bytes, want, got);
            if (got == 0) break;
            left -= static_cast<int>(got);
            Take(bytes, got);
        }
    }
    Service();
    return input;
}

void LineDriver::Take(const std::uint8_t* bytes, std::size_t count) {
    TraceBytes("<<", bytes, count);
    lastByte_ = Now();
    // Frames are cut once a request has been sent: a holder of every byte
    // (the packet monitor) sends none and frames its own packets.
    // Bytes while a repeat waits for the quiet line are its garbled answer's rest.
    std::size_t from = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (request_.empty() || repeatPending_) continue;
        rx_.push_back(bytes[i]);
        const AnswerFrame f = FrameAnswer(rx_.data(), rx_.size(), options_.Function);
        if (f.state == AnswerFrame::State::Incomplete) continue;
        // The frame's bytes go first, then its verdict.
        if (conversation_) conversation_->LineBytes(bytes + from, i + 1 - from);
        from = i + 1;
        EndFrame(false);
    }
    if (from < count && conversation_) conversation_->LineBytes(bytes + from, count - from);
}

void LineDriver::EndFrame(bool cutShort) {
    std::vector<std::uint8_t> frame;
    frame.swap(rx_);
    const AnswerFrame f = FrameAnswer(frame.data(), frame.size(), options_.Function);
    LineFrame out;
    out.Bytes = frame.data();
    out.Size = frame.size();
    out.Awaited = awaiting_;
    out.CutShort = cutShort;
    out.CheckOk = !cutShort && CheckMatches(frame.data(), frame.size());
    out.Refusal = f.state == AnswerFrame::State::Refused;
    char head[96];
    std::snprintf(head, sizeof head, "кадр %zu байт%s: %s", frame.size(), out.Awaited ? "" : " (не ожидался)",
                  cutShort      ? "оборван (линия затихла)"
                  : out.CheckOk ? "CRC верна"
                                : "CRC не совпала");
    std::string note = head;
    if (out.Awaited) {
        awaiting_ = false;
        if (!out.Good()) {
            ++counts_.Garbled;
            out.Garbled = ++garbled_;
            out.AskedAgain = garbled_ <= options_.AskAgain;
            repeatPending_ = out.AskedAgain;
            note += out.AskedAgain ? ", повтор " + std::to_string(garbled_) + " из " +
                                         std::to_string(options_.AskAgain) + " после тишины на линии"
                                   : ", повторов больше нет";
        }
    }
    Note(note);
    if (conversation_) conversation_->LineFrameEnded(out);
}

void LineDriver::Service() {
    const TimePoint now = Now();
    if (!rx_.empty() && now - lastByte_ >= std::chrono::milliseconds(QuietMs())) EndFrame(true);
    if (repeatPending_ && now - lastByte_ >= std::chrono::milliseconds(Timing().ScanQuietMs)) {
        repeatPending_ = false;
        ++counts_.AskedAgain;
        if (Send() && conversation_) conversation_->LineAskedAgain();
    }
}

int LineDriver::MsUntilDue() const {
    TimePoint due{};
    if (repeatPending_)
        due = lastByte_ + std::chrono::milliseconds(Timing().ScanQuietMs);
    else if (!rx_.empty())
        due = lastByte_ + std::chrono::milliseconds(QuietMs());
    else
        return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - Now()).count();
    return static_cast<int>(std::max<long long>(0, ms + 1));
}

void LineDriver::Found(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return;
    TraceBytes("<< (в обмене со шлюзом)", bytes, count);
    lastByte_ = Now();
    if (conversation_) conversation_->LineStrayBytes(bytes, count);
}

void LineDriver::NoteSilence() {
    if (!trace_) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now() - sentAt_).count();
    Note((rx_.empty() ? "ответа нет за " : "ответ не закончен за ") + std::to_string(ms) +
         " мс: ожидание окончено");
}

void LineDriver::Note(const std::string& text) {
    if (!trace_) return;
    const double seconds = std::chrono::duration<double>(Now() - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f ", seconds);
    trace_(stamp + text);
}

void LineDriver::TraceBytes(const char* what, const std::uint8_t* bytes, std::size_t count) {
    if (!trace_) return;
    std::string line = what;
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        line += hex;
    }
    Note(line);
}

void RunLine(LineDriver& driver, const LineRun& run) {
    while (run.Running()) {
        int timeout = Timing().ConsoleTickMs;
        if (run.MsUntilDue) {
            const int due = run.MsUntilDue();
            if (due >= 0) timeout = std::min(timeout, due);
        }
        if (const int due = driver.MsUntilDue(); due >= 0) timeout = std::min(timeout, due);
        Rs232Port* port = driver.Port();
        bool gone = !port || !port->IsOpen();
        if (!gone) {
            const PortInput input = driver.Pump(timeout);
            gone = input == PortInput::HungUp || input == PortInput::Failed;
        }
        // A port gone: wait for the tick, do not spin.
        if (gone) std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        port = driver.Port();
        run.Tick(gone || !port || port->HungUp());
    }
}
