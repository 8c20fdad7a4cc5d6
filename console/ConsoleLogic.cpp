// The console's send and clear commands, its receive loop, and what it does
// for the archive transfer it owns.
#include "console/ConsoleLogic.h"

#include "base/Cp1251.h"
#include "base/StrToInt.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char HexDigits[] = "0123456789ABCDEF";

// Bytes read from the port in one block at most; a tick reads on until its
// count is done.
constexpr int ReadChunkSize = 1312;

// Bytes of a Modbus exception answer: address, function | 0x80, code, check.
constexpr int ExceptionAnswerSize = 5;

// The text read as an integer, or the toolkit's conversion error.
int IntOf(const std::string& text) {
    int value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + Cp1251ToUtf8(text) + "' is not a valid integer value");
    return value;
}

} // namespace

ConsoleLogic::ConsoleLogic(ConsoleScreen& screen, PortAccessor port, PacketSender sender,
                           char decimalSeparator, SteadyClock clock)
    : DecimalSeparator(decimalSeparator), Archive(*this, decimalSeparator), screen_(screen),
      port_(std::move(port)), sender_(std::move(sender)), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point ConsoleLogic::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void ConsoleLogic::Out(ConsolePane pane, const std::string& text) {
    if (!screen_.PanesActive()) return;
    pending_[static_cast<int>(pane)] += text;
    if (tickDepth_ == 0) FlushPanes();
}

void ConsoleLogic::FlushPanes() {
    for (int i = 0; i < 3; ++i) {
        if (pending_[i].empty()) continue;
        std::string text;
        text.swap(pending_[i]);
        screen_.AppendToPane(static_cast<ConsolePane>(i), text);
    }
}

void ConsoleLogic::Send(const std::uint8_t* block, std::int32_t count) {
    if (sender_) sender_(block, count);
}

Rs232Port* ConsoleLogic::Port() const {
    return port_ ? port_() : nullptr;
}

void ConsoleLogic::ArmReceive(std::int32_t valueAddr) {
    ValueByteCnt = 0;
    AnswerPos = 0;
    AnswerByteCount = 0;
    WaitAnswer = true;
    ValueAddr = valueAddr;
}

void ConsoleLogic::Button1Click() {
    for (auto& p : pending_)
        p.clear();
    screen_.ClearPanes();
    CntByteInLine = 0;
    ValueByteCnt = 0;
    AnswerPos = 0;
    AnswerByteCount = 0;
    WaitAnswer = false;
    exceptionAnswer_ = false;
}

void ConsoleLogic::Button2Click() {
    ManualRequest = 1;
    EndRun(); // the console's own request ends an archive read
    const auto address = static_cast<std::uint8_t>(IntOf(screen_.DeviceAddressText()));
    const int function = IntOf(screen_.FunctionText());
    const auto reg = static_cast<std::uint16_t>(IntOf(screen_.StartRegisterText()));
    if (function == 16) {
        const std::string text = screen_.RegisterCountText();
        if (static_cast<int>(text.size()) > MaxWriteDataBytes) {
            screen_.ShowMessage("Текст для пакета 16 длиннее " + std::to_string(MaxWriteDataBytes) +
                                    " символов (" + std::to_string(text.size()) + "). Пакет не отправлен.",
                                "ОШИБКА ДАННЫХ");
            return;
        }
        const auto block = WriteMultipleRequest(address, reg, text);
        Send(block.data(), static_cast<std::int32_t>(block.size()));
    } else {
        // The second field carries the low 16 bits of the typed value, so a
        // value written with function 06 reaches the device unchanged.
        const auto second = static_cast<std::uint16_t>(IntOf(screen_.RegisterCountText()));
        const auto block = MakeRequest(address, static_cast<std::uint8_t>(function), reg, second);
        Send(block.data(), static_cast<std::int32_t>(block.size()));
    }
    Button1Click();
    if (PortReadByMonitor) Out(ConsolePane::HexDump, Utf8ToCp1251(MonitorTakesAnswersText) + "\r\n");
    ArmReceive(IntOf(screen_.StartRegisterText()));
}

int ConsoleLogic::SafeReadCount() const {
    if (WaitAnswer && exceptionAnswer_) return std::max(1, ExceptionAnswerSize - AnswerPos);
    if (!WaitAnswer || ManualRequest != 0) return ReadChunkSize;
    // The byte count arrives at index 2; after it the answer ends at n + 4.
    if (AnswerPos < 3) return 3 - AnswerPos;
    return std::max(1, AnswerByteCount + 5 - AnswerPos);
}

void ConsoleLogic::Timer1Timer() {
    screen_.EnableReceiveTimer(false);
    // Ticks never overlap; the timer runs again whatever ends the tick.
    struct Restart {
        ConsoleScreen& screen;
        ~Restart() { screen.EnableReceiveTimer(true); }
    } restart{screen_};
    TickScope scope(*this);

    Rs232Port* port = Port();
    int k = port ? port->InQueue() : 0;
    std::uint8_t chunk[ReadChunkSize];
    while (k > 0) {
        // An archive step run inside the loop uses the port itself: fetch it
        // afresh and read only what is still waiting. A read that would find
        // nothing is skipped, with the rest of the tick's count.
        port = Port();
        if (!port) break;
        const int want = std::min({k, SafeReadCount(), port->InQueue(), static_cast<int>(sizeof chunk)});
        if (want <= 0) break;
        std::uint32_t got = 0;
        port->ReadBlock(chunk, want, got);
        if (got == 0) break;
        k -= static_cast<int>(got);
        for (std::uint32_t i = 0; i < got; ++i)
            ReceiveByte(chunk[i]);
    }
    CheckRun();
}

void ConsoleLogic::PortReadable() {
    Timer1Timer();
    if (identificationPoll_) TimerQueryConfTimer();
}

void ConsoleLogic::ReceiveByte(std::uint8_t b) {
    bool awaited = WaitAnswer;
    bool refused = false;
    if (awaited) {
        if (AnswerPos == 0) exceptionAnswer_ = false;
        // An archive run's own request refused by the device: its exception
        // answer is five bytes long, whatever its code byte says.
        if (AnswerPos == 1 && run_ != ArchiveRun::Idle && b == (awaitedFunction_ | 0x80))
            exceptionAnswer_ = true;
    }
    if (awaited && exceptionAnswer_) {
        if (AnswerPos == 2) exceptionCode_ = b;
        if (AnswerPos == ExceptionAnswerSize - 1) {
            CntByteInLine = 16;
            WaitAnswer = false;
            exceptionAnswer_ = false;
            refused = true;
        }
        ++AnswerPos;
    } else if (awaited) {
        switch (ClassifyAnswerByte(AnswerPos, AnswerByteCount)) {
        case AnswerByte::Head:
            break;
        case AnswerByte::Count:
            AnswerByteCount = b;
            AnswerDataLen = 0;
            break;
        case AnswerByte::Data:
            RxBuf[RxReceiveArea + AnswerDataLen] = b;
            ++AnswerDataLen;
            DecodeValueByte(b);
            break;
        case AnswerByte::FirstCheck:
            DecodeValueByte(b);
            break;
        case AnswerByte::Last:
            std::memmove(RxBuf + RxAnswerArea, RxBuf + RxReceiveArea, static_cast<size_t>(AnswerDataLen));
            RxBuf[RxAnswerArea + AnswerDataLen] = 0;
            CntByteInLine = 16; // the answer's end closes its dump line
            Archive.AnswerArrived(RxBuf + RxAnswerArea, AnswerDataLen);
            WaitAnswer = false;
            AnswerReady = true;
            break;
        }
        ++AnswerPos;
    }
    DumpByte(b);
    // The reader runs after the byte is dumped, so that its progress line
    // follows the answer's complete dump line.
    if (refused) {
        StopRun(ArchiveStop::ErrorAnswer, exceptionCode_);
        return;
    }
    if (awaited && AnswerReady && ManualRequest == 0) {
        if (HourArhiv == 0)
            ReadDayArhiv();
        else
            ReadHourArhiv();
    }
}

void ConsoleLogic::DumpByte(std::uint8_t b) {
    if (screen_.PanesActive()) {
        std::string& hex = pending_[static_cast<int>(ConsolePane::HexDump)];
        hex += HexDigits[b >> 4];
        hex += HexDigits[b & 0x0F];
        hex += ' ';
        pending_[static_cast<int>(ConsolePane::CharDump)] +=
            (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
    }
    if (++CntByteInLine >= 16) {
        CntByteInLine = 0;
        Out(ConsolePane::HexDump, "\r\n");
        Out(ConsolePane::CharDump, "\r\n");
    }
    if (tickDepth_ == 0) FlushPanes();
}

void ConsoleLogic::ReadDayArhiv() {
    ReadArhiv(false);
}

void ConsoleLogic::ReadHourArhiv() {
    ReadArhiv(true);
}

void ConsoleLogic::ReadArhiv(bool hour) {
    AnswerReady = false;
    if (!Archive.StepDue()) return;
    AnswerByteCount = 0;
    AnswerPos = 0;
    ValueByteCnt = 0;
    if (hour)
        Archive.ReadHourArhiv();
    else
        Archive.ReadDayArhiv();
}

// What the archive transfer asks of the console.

std::uint8_t ConsoleLogic::DeviceAddress() {
    return static_cast<std::uint8_t>(IntOf(screen_.DeviceAddressText()));
}

void ConsoleLogic::DecodeFromStartRegister() {
    ValueAddr = IntOf(screen_.StartRegisterText());
}

void ConsoleLogic::SendRequest(const RequestBlock& block) {
    WaitAnswer = true;
    Send(block.data(), static_cast<std::int32_t>(block.size()));
    awaitedFunction_ = block[2];
    waitSince_ = Now();
}

void ConsoleLogic::ProgressLine(const std::string& text) {
    if (!screen_.PanesActive()) return;
    // The dump gathered so far goes first, so that the line keeps its place.
    std::string& dump = pending_[static_cast<int>(ConsolePane::HexDump)];
    if (!dump.empty()) {
        screen_.AppendToPane(ConsolePane::HexDump, dump);
        dump.clear();
    }
    screen_.AddProgressLine(Utf8ToCp1251(text));
}

void ConsoleLogic::ShowRowNumber(std::int32_t number) {
    screen_.SetRowNumber(std::to_string(number));
    ShowProgress(false);
}

void ConsoleLogic::ShowRowLength(std::int32_t length) {
    screen_.SetRowLength(std::to_string(length));
}

void ConsoleLogic::ShowMessage(const std::string& text, const std::string& caption) {
    FlushPanes(); // the progress so far shows behind the box
    screen_.ShowMessage(text, caption);
}

// The archive button's run: its time-out, its stop and its progress.

void ConsoleLogic::SetIdentificationPoll(bool enabled) {
    identificationPoll_ = enabled;
    screen_.EnableIdentificationPoll(enabled);
}

void ConsoleLogic::StartRun(std::chrono::steady_clock::time_point start) {
    run_ = ArchiveRun::Identifying;
    runStart_ = start;
    ShowProgress(true);
}

void ConsoleLogic::CheckRun() {
    if (run_ == ArchiveRun::Idle) return;
    if (!WaitAnswer) {
        // A read with nothing outstanding has ended: at the end of the
        // archive, after a file error or "Очистка". The identification's
        // answer is in and waits for its poll.
        if (run_ == ArchiveRun::Reading) EndRun();
        return;
    }
    if (Now() - waitSince_ > std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs)) {
        Rs232Port* port = Port();
        StopRun(port && !port->HungUp() ? ArchiveStop::NoAnswer : ArchiveStop::PortGone);
        return;
    }
    ShowProgress(false);
}

void ConsoleLogic::EndRun() {
    if (run_ == ArchiveRun::Idle) return;
    run_ = ArchiveRun::Idle;
    ShowProgress(true);
}

void ConsoleLogic::StopRun(ArchiveStop reason, int code) {
    WaitAnswer = false;
    if (identificationPoll_) SetIdentificationPoll(false);
    EndRun();
    Archive.Stop(HourArhiv != 0, reason, code);
}

void ConsoleLogic::ShowProgress(bool force) {
    const auto now = Now();
    if (!force && now - progressShown_ < std::chrono::milliseconds(Timing().ConsoleTickMs)) return;
    progressShown_ = now;
    screen_.ShowArchiveProgress(Utf8ToCp1251(ProgressText(run_ == ArchiveRun::Idle)));
}

namespace {

// One decimal place with the given separator.
std::string Decimal(double value, char separator) {
    const long long tenths = std::llround(value * 10);
    return std::to_string(tenths / 10) + separator + std::to_string(tenths % 10);
}

std::string DurationText(double seconds, char separator) {
    if (seconds < 59.95) return Decimal(seconds, separator) + " с";
    const long long whole = std::llround(seconds);
    auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (whole < 3600) return std::to_string(whole / 60) + " мин " + two(whole % 60) + " с";
    return std::to_string(whole / 3600) + " ч " + two(whole / 60 % 60) + " мин";
}

} // namespace

std::string ConsoleLogic::ProgressText(bool final) const {
    const double seconds = std::max(0.0, std::chrono::duration<double>(Now() - runStart_).count());
    const int rows = Archive.ArhivRowCount;
    const std::string rate = Decimal(seconds > 0 ? rows / seconds : 0.0, DecimalSeparator) + " стр./с";
    if (final)
        return std::to_string(rows) + " стр. за " + DurationText(seconds, DecimalSeparator) + " (" + rate +
               ")";
    return std::to_string(rows) + " стр., " + rate + ", " + DurationText(seconds, DecimalSeparator);
}
