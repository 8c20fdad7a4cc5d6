// The scan of an address range: one identification request at a time, every
// answer credited to the address in its first byte.
#include "line/LineScan.h"

#include "adapter/Dataio.h"
#include "archive/ArchiveCsv.h"
#include "archive/ArchiveRequests.h"
#include "base/AnswerFrame.h"
#include "gateway/GatewaySettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::uint16_t ModbusCheck(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

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

LineScan::LineScan(ScanObserver& observer, PacketSend sender, SteadyClock clock)
    : observer_(observer), sender_(std::move(sender)), clock_(std::move(clock)) {}

LineScan::TimePoint LineScan::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void LineScan::Start(int first, int last, int waitMs) {
    std::vector<int> addresses;
    for (int a = std::max(first, 0); a <= std::min(last, LastAddressByte); ++a)
        addresses.push_back(a);
    Start(std::move(addresses), waitMs);
}

void LineScan::Start(std::vector<int> addresses, int waitMs) {
    addresses_.clear();
    for (int a : addresses)
        if (a >= 0 && a <= LastAddressByte) addresses_.push_back(a);
    waitMs_ = std::max(1, waitMs);
    results_.clear();
    std::fill(indexOf_.begin(), indexOf_.end(), -1);
    rx_.clear();
    next_ = 0;
    current_ = -1;
    started_ = true;
    end_ = ScanEnd::Running;
    start_ = Now();
    lastByte_ = start_ - std::chrono::hours(1);
    tailUntil_ = start_;
    Tick(false);
}

void LineScan::Receive(const std::uint8_t* bytes, std::size_t count) {
    if (!started_) return;
    for (std::size_t i = 0; i < count; ++i) {
        rx_.push_back(bytes[i]);
        lastByte_ = Now();
        const AnswerFrame f = FrameAnswer(rx_.data(), rx_.size(), FnReadInputRegisters);
        if (f.state != AnswerFrame::State::Incomplete) TakeFrame(true);
    }
}

void LineScan::TakeFrame(bool complete) {
    std::vector<std::uint8_t> frame;
    frame.swap(rx_);
    ScanResult r;
    r.Address = frame[0];
    const bool checked = complete && frame.size() >= 4 &&
                         ModbusCheck(frame.data(), frame.size() - 2) ==
                             (frame[frame.size() - 2] | frame[frame.size() - 1] << 8);
    if (checked && frame[1] == FnReadInputRegisters && frame.size() == IdentAnswerFrameBytes &&
        frame[2] == 8) {
        auto word = [&](std::size_t i) { return static_cast<std::uint16_t>(frame[i] << 8 | frame[i + 1]); };
        r.Kind = ScanResultKind::Identified;
        r.HasIdentity = true;
        r.Identity.Version = static_cast<std::int16_t>(word(3));
        r.Identity.Config1 = static_cast<std::int16_t>(word(5));
        r.Identity.Config2 = static_cast<std::int32_t>(static_cast<std::uint32_t>(word(7)) << 16 | word(9));
        r.Identity.TypeNum = DeviceTypeOf(r.Identity.Version, word(5), r.Identity.Config2, 0);
    } else if (checked && frame[1] == (FnReadInputRegisters | 0x80) && frame.size() == ExceptionFrameBytes) {
        r.Kind = ScanResultKind::Exception;
        r.Code = frame[2];
    } else {
        r.Kind = ScanResultKind::Garbled;
    }
    const int earlier = indexOf_[r.Address];
    const bool late = r.Kind != ScanResultKind::Garbled && r.Address != current_ && earlier >= 0 &&
                      results_[static_cast<std::size_t>(earlier)].Kind == ScanResultKind::NoAnswer;
    if (late) {
        r.Kind = ScanResultKind::Late;
        r.AnswerMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(lastByte_ - sentAt_[r.Address]).count());
        Record(r, earlier);
        return;
    }
    if (current_ < 0) return; // nothing awaited: a stray answer is dropped
    r.Address = static_cast<std::uint8_t>(current_);
    if (r.Kind == ScanResultKind::Garbled) {
        r.HasIdentity = false;
    }
    r.AnswerMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(lastByte_ - sentAt_[r.Address]).count());
    if (frame[0] != current_ && r.Kind != ScanResultKind::Garbled) r.Kind = ScanResultKind::Garbled;
    current_ = -1;
    Record(r, -1);
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
    const auto quiet = std::chrono::milliseconds(Timing().ScanQuietMs);
    // An answer cut short: the line has been quiet since its last byte.
    if (!rx_.empty() && now - lastByte_ >= quiet) TakeFrame(false);
    if (current_ >= 0 && rx_.empty() &&
        now - sentAt_[static_cast<std::size_t>(current_)] >= std::chrono::milliseconds(waitMs_)) {
        ScanResult r;
        r.Address = static_cast<std::uint8_t>(current_);
        current_ = -1;
        if (next_ >= addresses_.size()) tailUntil_ = now + std::chrono::milliseconds(waitMs_);
        Record(r, -1);
    }
    // A result's observer may have stopped the scan.
    if (!Running() || current_ >= 0 || !rx_.empty()) return;
    // The next request only on a quiet line: no answer is being received.
    if (next_ >= addresses_.size()) {
        if (now < tailUntil_ && results_.back().Kind == ScanResultKind::NoAnswer) return;
        return Finish(ScanEnd::Finished);
    }
    SendNext();
}

void LineScan::SendNext() {
    const auto address = static_cast<std::uint8_t>(addresses_[next_++]);
    current_ = address;
    if (sender_ && !sender_(IdentRequest(address))) {
        current_ = -1;
        --next_;
        return Finish(ScanEnd::GatewayFailed);
    }
    // The wait counts from the end of the exchange with the gateway.
    sentAt_[address] = Now();
}

void LineScan::Stop() {
    if (Running()) Finish(ScanEnd::Stopped);
}

void LineScan::Finish(ScanEnd end) {
    end_ = end;
    current_ = -1;
    rx_.clear();
    endAt_ = Now();
    observer_.Ended(end);
}

int LineScan::MsUntilDue() const {
    if (!Running()) return -1;
    const TimePoint now = Now();
    TimePoint due = now;
    if (!rx_.empty())
        due = lastByte_ + std::chrono::milliseconds(Timing().ScanQuietMs);
    else if (current_ >= 0)
        due = sentAt_[static_cast<std::size_t>(current_)] + std::chrono::milliseconds(waitMs_);
    else if (next_ >= addresses_.size())
        due = tailUntil_;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::max<long long>(0, ms + 1));
}

ScanProgress LineScan::Progress() const {
    ScanProgress p;
    p.Total = static_cast<int>(addresses_.size());
    p.Done = static_cast<int>(results_.size());
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
