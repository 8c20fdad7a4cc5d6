// The scan of an address range: one identification request at a time, every
// answer credited to the address in its first byte.
#include "line/LineScan.h"

#include "adapter/Dataio.h"
#include "archive/ArchiveCsv.h"
#include "archive/ArchiveRequests.h"
#include "base/AnswerFrame.h"
#include "gateway/GatewaySettings.h"
#include "serial/LineDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double Rs485SpeedOfCode(std::uint8_t code) {
    return 1'000'000.0 / (code + 1);
}

namespace {

// 10 bits a byte: start, 8 data bits, stop.
double LineMs(int bytes, double bitsPerSecond) {
    return bitsPerSecond > 0 ? bytes * 10 * 1000.0 / bitsPerSecond : 0.0;
}

// The Modbus RTU end-of-frame silence: 3.5 characters, or 1.75 ms on lines
// faster than 19200 bit/s (a divider's 19231 counts as 19200).
double SilenceMs(double bitsPerSecond) {
    if (bitsPerSecond > 19200 * 1.02) return 1.75;
    return bitsPerSecond > 0 ? 3.5 * 10 * 1000.0 / bitsPerSecond : 0.0;
}

} // namespace

std::string MinutesSeconds(double s) {
    const long total = std::lround(std::max(0.0, s));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::optional<std::uint8_t> ReadGatewaySpeedCode(AdapterLink& link) {
    std::uint8_t cells[4] = {};
    if (!link.ReadData(GatewayType, GatewayAddress, 0, 4, cells)) return std::nullopt;
    return cells[2];
}

ScanWaitParts ScanWait(double rs485BitsPerSecond, int pcBitsPerSecond) {
    ScanWaitParts w;
    w.Request = LineMs(IdentRequestFrameBytes, rs485BitsPerSecond);
    w.Answer = LineMs(IdentAnswerFrameBytes, rs485BitsPerSecond);
    w.Silences = 2 * SilenceMs(rs485BitsPerSecond);
    w.PcLine = LineMs(IdentAnswerFrameBytes, pcBitsPerSecond);
    w.Allowance = Timing().MeterProcessingAllowanceMs;
    w.TotalMs = static_cast<int>(std::ceil(w.Request + w.Answer + w.Silences + w.PcLine + w.Allowance));
    return w;
}

std::string ScanResultText(const ScanResult& r) {
    switch (r.Kind) {
    case ScanResultKind::Identified:
        return "опознан";
    case ScanResultKind::Exception:
        return "исключение " + std::to_string(r.Code);
    case ScanResultKind::Garbled:
        return "искажённый ответ";
    case ScanResultKind::Late:
        return std::string("поздний ответ") +
               (r.HasIdentity ? "" : ", исключение " + std::to_string(r.Code)) + ": увеличьте ожидание";
    case ScanResultKind::Slow:
        return "медленный ответ: увеличьте ожидание";
    case ScanResultKind::NoAnswer:
        break;
    }
    return "нет ответа";
}

std::string ScanCsv(const std::vector<ScanResult>& results, char decimalSeparator) {
    const char separator = CsvFieldSeparator(decimalSeparator);
    std::string csv = CsvByteOrderMark;
    auto line = [&](std::initializer_list<std::string> fields) {
        bool first = true;
        for (const std::string& field : fields) {
            if (!first) csv += separator;
            first = false;
            AppendCsvField(csv, field, separator);
        }
        csv += "\r\n";
    };
    line({"Адрес", "Результат", "Тип", "Версия", "Конфигурация 1", "Конфигурация 2", "Ответ, мс"});
    for (const ScanResult& r : results) {
        const bool id = r.HasIdentity;
        line({std::to_string(r.Address), ScanResultText(r), id ? std::to_string(r.Identity.TypeNum) : "",
              id ? std::to_string(r.Identity.Version) : "", id ? std::to_string(r.Identity.Config1) : "",
              id ? std::to_string(r.Identity.Config2) : "",
              r.AnswerMs >= 0 ? std::to_string(r.AnswerMs) : ""});
    }
    return csv;
}

std::string ScanEndText(ScanEnd end, int address) {
    const std::string at = " на адресе " + std::to_string(address);
    switch (end) {
    case ScanEnd::Running:
        return {};
    case ScanEnd::Finished:
        return "Поиск закончен.";
    case ScanEnd::Stopped:
        return "Поиск остановлен" + at + ".";
    case ScanEnd::PortGone:
        return "Поиск остановлен" + at + ": порт отключён. Проверьте порт и начните заново.";
    case ScanEnd::GatewayFailed:
        return "Поиск остановлен" + at + ": шлюз не принял запрос. Проверьте связь со шлюзом.";
    }
    return {};
}

std::string ScanProgressText(const ScanProgress& p) {
    return "Адрес " + std::to_string(p.Address) + ": " + std::to_string(p.Done) + " из " +
           std::to_string(p.Total) + ", прошло " + MinutesSeconds(p.SecondsSpent) + ", осталось " +
           MinutesSeconds(p.SecondsLeft);
}

LineScan::LineScan(ScanObserver& observer, LineDriver& driver, SteadyClock clock)
    : observer_(observer), driver_(driver), clock_(std::move(clock)) {}

LineScan::TimePoint LineScan::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void LineScan::Start(int first, int last, int waitMs, ScanRecheck recheck) {
    std::vector<int> addresses;
    for (int a = std::max(first, 0); a <= std::min(last, LastAddressByte); ++a)
        addresses.push_back(a);
    Start(std::move(addresses), waitMs, recheck);
}

void LineScan::Start(std::vector<int> addresses, int waitMs, ScanRecheck recheck) {
    addresses_.clear();
    for (int a : addresses)
        if (a >= 0 && a <= LastAddressByte) addresses_.push_back(a);
    waitMs_ = std::max(1, waitMs);
    recheckOpt_ = recheck;
    recheckOpt_.LongWaitMs = std::max(waitMs_, recheck.LongWaitMs);
    recheck_.clear();
    rechecked_ = 0;
    rechecking_ = false;
    everySilentQueued_ = false;
    results_.clear();
    std::fill(indexOf_.begin(), indexOf_.end(), -1);
    next_ = 0;
    current_ = -1;
    started_ = true;
    end_ = ScanEnd::Running;
    start_ = Now();
    lastByte_ = start_ - std::chrono::hours(1);
    tailUntil_ = start_;
    Tick(false);
}

void LineScan::LineFrameEnded(const LineFrame& frame) {
    if (!Running() || frame.Size == 0) return;
    lastByte_ = Now();
    // A garbled answer to the address awaited: the driver asks it again.
    // One that carries another address may be a slow meter's.
    if (frame.Awaited && frame.AskedAgain) {
        if (frame.Bytes[0] != current_) Suspect(frame.Bytes[0]);
        return;
    }
    TakeFrame(frame);
}

void LineScan::LineAskedAgain() {
    // The wait counts afresh from the repeat's exchange with the gateway.
    if (Running() && current_ >= 0) sentAt_[static_cast<std::size_t>(current_)] = Now();
}

void LineScan::LineStrayBytes(const std::uint8_t* bytes, std::size_t count) {
    if (!Running() || count == 0) return;
    strayInSend_ = true;
    lastByte_ = Now();
    // A whole answer among them is taken as any late answer.
    const AnswerFrame f = FrameAnswer(bytes, count, FnReadInputRegisters);
    if (f.state != AnswerFrame::State::Incomplete && CheckMatches(bytes, static_cast<std::size_t>(f.size))) {
        LineFrame frame;
        frame.Bytes = bytes;
        frame.Size = static_cast<std::size_t>(f.size);
        frame.CheckOk = true;
        frame.Refusal = f.state == AnswerFrame::State::Refused;
        const int earlier = indexOf_[bytes[0]];
        if (earlier >= 0 && results_[static_cast<std::size_t>(earlier)].Kind == ScanResultKind::NoAnswer)
            return TakeFrame(frame);
    }
    Suspect(bytes[0]);
}

ScanResult LineScan::ResultOf(const LineFrame& frame) const {
    ScanResult r;
    r.Address = frame.Bytes[0];
    const std::uint8_t* b = frame.Bytes;
    if (frame.Good() && b[1] == FnReadInputRegisters && frame.Size == IdentAnswerFrameBytes && b[2] == 8) {
        auto word = [&](std::size_t i) { return static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]); };
        r.Kind = ScanResultKind::Identified;
        r.HasIdentity = true;
        r.Identity.Version = static_cast<std::int16_t>(word(3));
        r.Identity.Config1 = static_cast<std::int16_t>(word(5));
        r.Identity.Config2 = static_cast<std::int32_t>(static_cast<std::uint32_t>(word(7)) << 16 | word(9));
        r.Identity.TypeNum = DeviceTypeOf(r.Identity.Version, word(5), r.Identity.Config2, 0);
    } else if (frame.Good() && b[1] == (FnReadInputRegisters | 0x80) && frame.Size == ExceptionFrameBytes) {
        r.Kind = ScanResultKind::Exception;
        r.Code = b[2];
    } else {
        r.Kind = ScanResultKind::Garbled;
    }
    return r;
}

void LineScan::TakeFrame(const LineFrame& frame) {
    ScanResult r = ResultOf(frame);
    const int earlier = indexOf_[r.Address];
    const bool late = r.Kind != ScanResultKind::Garbled && r.Address != current_ && earlier >= 0 &&
                      results_[static_cast<std::size_t>(earlier)].Kind == ScanResultKind::NoAnswer;
    if (late) {
        r.Kind = ScanResultKind::Late;
        r.AnswerMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(lastByte_ - sentAt_[r.Address]).count());
        recheck_.erase(std::remove(recheck_.begin(), recheck_.end(), r.Address), recheck_.end());
        Record(r, earlier);
        return;
    }
    const bool ours = current_ >= 0 && frame.Bytes[0] == current_;
    // Garbage, or another meter's answer, while nothing (or another address)
    // is awaited: a late answer of a silent address may be in it.
    if (current_ < 0 || (!ours && !frame.Awaited)) return Suspect(frame.Bytes[0]);
    r.Address = static_cast<std::uint8_t>(current_);
    r.AnswerMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(lastByte_ - sentAt_[r.Address]).count());
    // An answer that carries another address is no identity of this one.
    if (!ours || r.Kind == ScanResultKind::Garbled) {
        r.Kind = ScanResultKind::Garbled;
        r.HasIdentity = false;
        r.Code = 0;
    } else if (rechecking_ && r.Kind == ScanResultKind::Identified && r.AnswerMs > waitMs_) {
        r.Kind = ScanResultKind::Slow;
    }
    current_ = -1;
    Record(r, rechecking_ ? indexOf_[r.Address] : -1);
}

void LineScan::Suspect(int first) {
    const TimePoint now = Now();
    const auto window = std::chrono::milliseconds(recheckOpt_.LongWaitMs);
    auto silentRecently = [&](int a) {
        const int i = indexOf_[static_cast<std::size_t>(a)];
        return i >= 0 && results_[static_cast<std::size_t>(i)].Kind == ScanResultKind::NoAnswer &&
               now - sentAt_[static_cast<std::size_t>(a)] <= window + std::chrono::milliseconds(waitMs_);
    };
    if (first >= 0 && first <= LastAddressByte && silentRecently(first)) return QueueRecheck(first);
    for (int a : addresses_)
        if (silentRecently(a)) QueueRecheck(a);
}

void LineScan::QueueRecheck(int address) {
    if (std::find(recheck_.begin(), recheck_.end(), address) == recheck_.end()) recheck_.push_back(address);
}

void LineScan::Record(ScanResult result, int index) {
    if (index >= 0) {
        results_[static_cast<std::size_t>(index)] = result;
        observer_.ResultChanged(static_cast<std::size_t>(index), false);
        return;
    }
    indexOf_[result.Address] = static_cast<int>(results_.size());
    results_.push_back(result);
    observer_.ResultChanged(results_.size() - 1, true);
}

void LineScan::Tick(bool portGone) {
    if (!Running()) return;
    if (portGone) return Finish(ScanEnd::PortGone);
    const TimePoint now = Now();
    // A repeat or a frame under way: the driver is not done with the line.
    const bool lineBusy = driver_.FrameUnderWay() || driver_.RepeatPending();
    if (current_ >= 0 && !lineBusy &&
        now - sentAt_[static_cast<std::size_t>(current_)] >= std::chrono::milliseconds(CurrentWaitMs()))
        WaitEnded(now);
    // A result's observer may have stopped the scan.
    if (!Running() || current_ >= 0 || lineBusy) return;
    // The next request only on a quiet line: no answer is being received.
    if (next_ < addresses_.size()) return SendNext();
    if (SendRecheck()) return;
    if (now < tailUntil_ && !results_.empty() && results_.back().Kind == ScanResultKind::NoAnswer) return;
    Finish(ScanEnd::Finished);
}

void LineScan::WaitEnded(TimePoint now) {
    const int address = current_;
    current_ = -1;
    driver_.AwaitNothing();
    // Asked again and silent still: its row stays "нет ответа".
    if (rechecking_) return;
    ScanResult r;
    r.Address = static_cast<std::uint8_t>(address);
    if (next_ >= addresses_.size() && recheck_.empty()) tailUntil_ = now + std::chrono::milliseconds(waitMs_);
    Record(r, -1);
}

bool LineScan::SendRecheck() {
    if (recheckOpt_.EverySilent && !everySilentQueued_) {
        everySilentQueued_ = true;
        for (const ScanResult& r : results_)
            if (r.Kind == ScanResultKind::NoAnswer) QueueRecheck(r.Address);
    }
    if (recheck_.empty()) return false;
    const int address = recheck_.front();
    // Asked again only once its first answer can no longer come: one that
    // came during the second wait would be taken for the second's, with a
    // wrong answer time. Meanwhile a late answer still counts as late.
    if (Now() < RecheckDue(address)) return true;
    recheck_.erase(recheck_.begin());
    rechecking_ = true;
    ++rechecked_;
    current_ = address;
    if (!Send(address)) Finish(ScanEnd::GatewayFailed);
    return true;
}

void LineScan::SendNext() {
    const int address = addresses_[next_++];
    current_ = address;
    if (!Send(address)) {
        current_ = -1;
        --next_;
        Finish(ScanEnd::GatewayFailed);
    }
}

bool LineScan::Send(int address) {
    const RequestBlock block = IdentRequest(static_cast<std::uint8_t>(address));
    const AwaitOptions await{.Function = FnReadInputRegisters, .QuietMs = Timing().ScanQuietMs};
    strayInSend_ = false;
    bool sent = driver_.Request(block.data(), static_cast<std::int32_t>(block.size()), await);
    // Bytes that broke into the exchange (a slow meter's late answer) made it
    // fail: the line is quiet again after the gateway's purge; once more.
    if (!sent && strayInSend_)
        sent = driver_.Request(block.data(), static_cast<std::int32_t>(block.size()), await);
    // The wait counts from the end of the exchange with the gateway.
    sentAt_[static_cast<std::size_t>(address)] = Now();
    return sent;
}

void LineScan::Stop() {
    if (Running()) Finish(ScanEnd::Stopped);
}

void LineScan::Finish(ScanEnd end) {
    end_ = end;
    current_ = -1;
    rechecking_ = false;
    driver_.AwaitNothing();
    endAt_ = Now();
    observer_.Ended(end);
}

LineScan::TimePoint LineScan::RecheckDue(int address) const {
    return sentAt_[static_cast<std::size_t>(address)] + std::chrono::milliseconds(recheckOpt_.LongWaitMs);
}

int LineScan::MsUntilDue() const {
    if (!Running()) return -1;
    const TimePoint now = Now();
    TimePoint due = now;
    if (driver_.FrameUnderWay() || driver_.RepeatPending()) {
        const int ms = driver_.MsUntilDue();
        return ms < 0 ? 0 : ms;
    }
    if (current_ >= 0)
        due = sentAt_[static_cast<std::size_t>(current_)] + std::chrono::milliseconds(CurrentWaitMs());
    else if (next_ >= addresses_.size() && recheck_.empty())
        due = tailUntil_;
    else if (next_ >= addresses_.size())
        due = RecheckDue(recheck_.front());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::max<long long>(0, ms + 1));
}

ScanProgress LineScan::Progress() const {
    ScanProgress p;
    // Addresses asked again count as more addresses to ask.
    const int again = static_cast<int>(rechecked_ + recheck_.size());
    p.Total = static_cast<int>(addresses_.size()) + again;
    p.Done = static_cast<int>(results_.size() + rechecked_) - (rechecking_ && current_ >= 0 ? 1 : 0);
    p.Address = current_ >= 0        ? current_
                : next_ > 0          ? addresses_[next_ - 1]
                : addresses_.empty() ? 0
                                     : addresses_[0];
    p.SecondsSpent = std::chrono::duration<double>((Running() ? Now() : endAt_) - start_).count();
    const int left = Running() ? p.Total - p.Done : 0;
    const double each = p.Done > 0 ? p.SecondsSpent / p.Done : waitMs_ / 1000.0;
    p.SecondsLeft = left * each;
    return p;
}
