// The meters' end of the RS-485 line.
#include "sim/MeterLine.h"

#include "sim/LineTiming.h"
#include "sim/ModbusCrc.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr auto IdleWake = std::chrono::milliseconds(20); // Stop() noticed within this
constexpr std::uint8_t Broadcast = 0;
constexpr std::size_t ShortestFrame = 4; // address, function, check

bool CheckIsGood(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < ShortestFrame) return false;
    std::uint16_t crc = ModbusCrc(frame.data(), frame.size() - 2);
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

} // namespace

// --- framing -----------------------------------------------------------------------

void RequestFramer::Add(const std::uint8_t* bytes, std::size_t count, Clock::time_point now) {
    bytes_.insert(bytes_.end(), bytes, bytes + count);
    last_ = now;
}

std::size_t RequestFramer::KnownLength() const {
    if (bytes_.size() < 2) return 0;
    int function = bytes_[1];
    if (function >= 1 && function <= 6) return 8;
    if ((function == 15 || function == 16) && bytes_.size() >= 7) return 9u + bytes_[6];
    return 0;
}

std::optional<std::vector<std::uint8_t>> RequestFramer::Next(Clock::time_point now,
                                                             Clock::time_point& lastByte) {
    if (bytes_.empty()) return std::nullopt;
    std::size_t length = KnownLength();
    if (length == 0 || length > bytes_.size()) {
        if (now < Deadline()) return std::nullopt;
        length = bytes_.size(); // ended by silence
    }
    std::vector<std::uint8_t> frame(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length));
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length));
    lastByte = bytes_.empty() ? last_ : now;
    return frame;
}

// --- the line ------------------------------------------------------------------------

MeterLine::MeterLine(Shared& shared, const PtyEnds& line, std::function<double()> pace)
    : shared_(shared), line_(line), pace_(std::move(pace)) {}

Meter* MeterLine::Find(int address) {
    for (auto& m : meters)
        if (m->Address() == address) return m.get();
    return nullptr;
}

// A frame heard on the line: the meter at its address, if any, answers when
// its time comes. Frames with a bad check and broadcasts get no answer.
void MeterLine::Hear(const std::vector<std::uint8_t>& frame, Clock::time_point received) {
    if (!CheckIsGood(frame) || frame[0] == Broadcast) return;
    int delay = 0, exception = 0;
    {
        std::lock_guard lock(shared_.m);
        Meter* meter = Find(frame[0]);
        if (!meter || meter->Silent()) return;
        delay = meter->DelayMs();
        exception = meter->ExceptionCode();
    }
    auto f = shared_.Pass(Step::MeterAnswer, {FaultKind::NoAnswer, FaultKind::Exception, FaultKind::Delay});
    if (f && f->kind == FaultKind::NoAnswer) return;
    if (f && f->kind == FaultKind::Delay) delay += f->value;
    if (f && f->kind == FaultKind::Exception) exception = f->value;
    // On a paced line the meter knows the request has ended only after its
    // end-of-frame silence; then it takes its processing time.
    auto at = received + std::chrono::milliseconds(delay);
    if (double speed = pace_(); speed > 0) at += EndOfFrameSilence(speed);
    auto where =
        std::upper_bound(due_.begin(), due_.end(), at, [](auto t, const Due& d) { return t < d.at; });
    due_.insert(where, {at, frame, exception});
}

void MeterLine::AnswerDue(modbus_t* ctx) {
    auto now = Clock::now();
    while (!due_.empty() && due_.front().at <= now) {
        Due d = std::move(due_.front());
        due_.erase(due_.begin());
        std::lock_guard lock(shared_.m);
        if (Meter* meter = Find(d.request[0]))
            meter->Answer(ctx, d.request.data(), static_cast<int>(d.request.size()), d.exception);
    }
}

void MeterLine::TakeFrames() {
    Clock::time_point lastByte;
    while (auto frame = framer_.Next(Clock::now(), lastByte))
        Hear(*frame, lastByte);
}

void MeterLine::ReadLine(int fd) {
    // A frame the silence has ended is taken before new bytes can join it.
    TakeFrames();
    std::uint8_t buf[512];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        framer_.Add(buf, static_cast<std::size_t>(n), Clock::now());
    }
    TakeFrames();
}

Clock::time_point MeterLine::NextWake() const {
    auto wake = Clock::now() + IdleWake;
    if (!due_.empty()) wake = std::min(wake, due_.front().at);
    if (!framer_.Empty()) wake = std::min(wake, framer_.Deadline());
    return wake;
}

void MeterLine::Run() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // libmodbus opens the line and writes the answers; the frames are cut here,
    // since every meter on the line hears every frame.
    modbus_t* ctx = modbus_new_rtu(line_.slavePath.c_str(), 57600, 'N', 8, 1);
    if (!ctx) return;
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "meter: cannot open %s: %s\n", line_.slavePath.c_str(), modbus_strerror(errno));
        modbus_free(ctx);
        return;
    }
    int fd = modbus_get_socket(ctx);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    while (!shared_.stop) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        PollUntil(&p, 1, NextWake());
        if (p.revents & POLLIN) busy_ = true;
        ReadLine(fd);
        AnswerDue(ctx);
        busy_ = !due_.empty() || !framer_.Empty();
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

} // namespace sim
