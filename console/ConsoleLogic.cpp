// The console's send and clear commands and its receive loop.
#include "console/ConsoleLogic.h"

#include "base/Cp1251.h"
#include "base/ModbusTexts.h"
#include "base/StrToInt.h"
#include "serial/LineDriver.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const char HexDigits[] = "0123456789ABCDEF";

} // namespace

int IntOf(const std::string& text) {
    int value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + Cp1251ToUtf8(text) + "' is not a valid integer value");
    return value;
}

ConsoleLogic::ConsoleLogic(ConsoleScreen& screen, PortAccessor port, PacketSender sender,
                           char decimalSeparator, SteadyClock clock)
    : DecimalSeparator(decimalSeparator),
      Session(
          *this, [this](const RequestBlock& block) { SendArchiveRequest(block); }, decimalSeparator, clock),
      Poller(
          *this, [this] { SendPollRequest(); }, clock, [this] { return wallClock_(); }),
      PollLog(decimalSeparator), screen_(screen), port_(std::move(port)), sender_(std::move(sender)),
      clock_(std::move(clock)) {
    line_.Attach(this);
}

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

bool ConsoleLogic::Send(const std::uint8_t* block, std::int32_t count, const AwaitOptions& await) {
    return line_.Request(block, count, await);
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
    // A read under way goes on: its answer is still awaited.
    if (run_ != ArchiveRun::Idle) return;
    CntByteInLine = 0;
    ValueByteCnt = 0;
    AnswerPos = 0;
    AnswerByteCount = 0;
    WaitAnswer = false;
    exceptionAnswer_ = false;
    answerBegins_ = true;
    EndLogLine();
}

void ConsoleLogic::Button2Click() {
    // A request now would take the answer a read awaits.
    if (LineRefused(true)) return;
    ManualRequest = 1;
    const auto address = static_cast<std::uint8_t>(IntOf(screen_.DeviceAddressText()));
    const int function = IntOf(screen_.FunctionText());
    const auto reg = static_cast<std::uint16_t>(IntOf(screen_.StartRegisterText()));
    std::vector<std::uint8_t> sentBlock;
    if (function == 16) {
        const std::string text = screen_.RegisterCountText();
        if (static_cast<int>(text.size()) > MaxWriteDataBytes) {
            screen_.ShowMessage("Текст для пакета 16 длиннее " + std::to_string(MaxWriteDataBytes) +
                                    " символов (" + std::to_string(text.size()) + "). Пакет не отправлен.",
                                "ОШИБКА ДАННЫХ");
            return;
        }
        sentBlock = WriteMultipleRequest(address, reg, text);
    } else {
        // The second field carries the low 16 bits of the typed value, so a
        // value written with function 06 reaches the device unchanged.
        const auto second = static_cast<std::uint16_t>(IntOf(screen_.RegisterCountText()));
        const auto block = MakeRequest(address, static_cast<std::uint8_t>(function), reg, second);
        sentBlock.assign(block.begin(), block.end());
    }
    screen_.ShowNotice("");
    // The console's own request is shown as it came; the poll's garbled
    // answers are asked again.
    const bool sent = Send(sentBlock.data(), static_cast<std::int32_t>(sentBlock.size()),
                           {.Function = static_cast<std::uint8_t>(function), .AskAgain = pollSend_ ? 2 : 0});
    Button1Click();
    ShowRequestLine(sentBlock.data(), static_cast<std::int32_t>(sentBlock.size()));
    if (LineTakenWhole()) Out(ConsolePane::HexDump, Utf8ToCp1251(MonitorTakesAnswersText) + "\r\n");
    ArmReceive(IntOf(screen_.StartRegisterText()));
    manualAddress_ = address;
    manualSentAt_ = Now();
    awaitedFunction_ = static_cast<std::uint8_t>(function);
    manualRefusal_ = false;
    // A block that did not go out has been reported by the adapter and gets
    // no answer; with the packet monitor taking every byte, no answer can be
    // seen here.
    manualAwaiting_ = sent && !LineTakenWhole();
}

void ConsoleLogic::ShowRequestLine(const std::uint8_t* block, std::int32_t count) {
    if (!showRequests_) return;
    std::string line = "запрос:";
    for (std::int32_t i = 0; i < count; ++i) {
        const char hex[] = {' ', HexDigits[block[i] >> 4], HexDigits[block[i] & 0x0F]};
        line.append(hex, sizeof hex);
    }
    TickScope scope(*this);
    ProgressLine(line);
}

void ConsoleLogic::CheckManualAnswer() {
    if (!manualAwaiting_ || run_ != ArchiveRun::Idle) return;
    if (!WaitAnswer) {
        manualAwaiting_ = false;
        return;
    }
    const int waitMs = Timing().ArchiveAnswerTimeoutMs;
    if (Now() - manualSentAt_ <= std::chrono::milliseconds(waitMs)) return;
    manualAwaiting_ = false;
    // The request is over: a late answer is still shown as it comes.
    screen_.ShowNotice(NoAnswerText(manualAddress_, waitMs, DecimalSeparator));
}

void ConsoleLogic::Timer1Timer() {
    screen_.EnableReceiveTimer(false);
    // Ticks never overlap; the timer runs again whatever ends the tick.
    struct Restart {
        ConsoleScreen& screen;
        ~Restart() { screen.EnableReceiveTimer(true); }
    } restart{screen_};
    TickScope scope(*this);
    // A scan or a batch read takes the port's answers meanwhile.
    if (LineHeldByOther(this)) {
        WaitAnswer = false;
        return;
    }

    // What is waiting, through the line's driver: an archive step taken
    // inside the read sends its next request, whose exchange with the
    // gateway reads the port itself.
    line_.Pump(0);
    CheckRun();
    CheckManualAnswer();
    CheckPoll();
}

void ConsoleLogic::PortReadable() {
    Timer1Timer();
    if (identificationPoll_) TimerQueryConfTimer();
}

void ConsoleLogic::ReceiveByte(std::uint8_t b) {
    bool answerEnds = false;
    if (WaitAnswer) {
        WatchRefusal(b);
        answerEnds = exceptionAnswer_ ? TakeRefusalByte(b) : TakeAnswerByte(b);
        ++AnswerPos;
    }
    DumpByte(b);
    if (answerEnds) {
        answerBegins_ = true;
        lastAnswerEndMs_ = wallClock_(); // the gap is right also when stamps are switched on later
    }
    // What the answer means for a read or a poll is decided when the line's
    // driver has checked it (LineFrameEnded), after its last byte is dumped.
}

void ConsoleLogic::LineBytes(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        ReceiveByte(bytes[i]);
}

void ConsoleLogic::LineFrameEnded(const LineFrame& frame) {
    if (!frame.Awaited) return;
    TickScope scope(*this);
    if (Poller.Awaiting()) return PollFrame(frame);
    if (run_ != ArchiveRun::Idle || Session.Active()) return ArchiveFrame(frame);
    // The console's own request: shown as it came, with a warning.
    if (!frame.Good()) screen_.ShowNotice(ChecksumMismatchText);
}

void ConsoleLogic::PollFrame(const LineFrame& frame) {
    // A garbled answer is not a sample: asked again, or left to the poll's
    // answer time, which counts it as missed.
    if (!frame.Good()) return;
    if (frame.Refusal) return Poller.Refused(frame.Bytes[2]);
    Poller.Answered(frame.Bytes + 3, static_cast<std::int32_t>(frame.Size) - 5);
}

void ConsoleLogic::LineAskedAgain() {
    // The same request again: its answer is received as the first one was.
    WaitAnswer = true;
    AnswerPos = 0;
    AnswerByteCount = 0;
    ValueByteCnt = 0;
    exceptionAnswer_ = false;
    if (run_ != ArchiveRun::Idle) Session.AskedAgain();
    ShowProgress(true);
}

void ConsoleLogic::WatchRefusal(std::uint8_t b) {
    if (AnswerPos == 0) exceptionAnswer_ = false;
    // An archive run's own request refused by the device: its exception
    // answer is five bytes long, whatever its code byte says.
    if (AnswerPos == 1 && (run_ != ArchiveRun::Idle || Poller.Awaiting()) &&
        RefusesFunction(b, awaitedFunction_))
        exceptionAnswer_ = true;
    if (run_ != ArchiveRun::Idle || ManualRequest == 0) return;
    // The console's own request refused: its answer is read as any
    // other (the panes show what they always showed), and explained.
    if (AnswerPos == 0) manualRefusal_ = false;
    if (AnswerPos == 1) manualRefusal_ = RefusesFunction(b, awaitedFunction_);
    if (AnswerPos == 2) manualCode_ = b;
    if (AnswerPos == RefusalSize - 1 && manualRefusal_) {
        manualAwaiting_ = false;
        screen_.ShowNotice(RefusalText(manualAddress_, manualCode_));
    }
}

bool ConsoleLogic::TakeRefusalByte(std::uint8_t b) {
    if (AnswerPos == 2) exceptionCode_ = b;
    if (AnswerPos != RefusalSize - 1) return false;
    CntByteInLine = 16;
    WaitAnswer = false;
    exceptionAnswer_ = false;
    return true;
}

bool ConsoleLogic::TakeAnswerByte(std::uint8_t b) {
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
        WaitAnswer = false;
        AnswerReady = true;
        return true;
    }
    return false;
}

void ConsoleLogic::DumpByte(std::uint8_t b) {
    if (!log_.IsOpen()) logLineOpen_ = false;
    if (CntByteInLine == 0 && answerBegins_) {
        answerBegins_ = false;
        if (timeStamps_ || log_.IsOpen()) {
            const std::int64_t now = wallClock_();
            const std::string prefix = TimePrefix(now, lastAnswerEndMs_ < 0 ? -1 : now - lastAnswerEndMs_);
            if (timeStamps_ && screen_.PanesActive())
                pending_[static_cast<int>(ConsolePane::HexDump)] += prefix;
            EndLogLine();
            BeginLogLine(prefix);
        }
    }
    if (log_.IsOpen() && !logLineOpen_) BeginLogLine(TimePrefix(wallClock_(), -1));
    const char hexText[] = {HexDigits[b >> 4], HexDigits[b & 0x0F], ' '};
    if (logLineOpen_) logLine_.append(hexText, sizeof hexText);
    if (screen_.PanesActive()) {
        pending_[static_cast<int>(ConsolePane::HexDump)].append(hexText, sizeof hexText);
        pending_[static_cast<int>(ConsolePane::CharDump)] +=
            (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
    }
    if (++CntByteInLine >= 16) {
        CntByteInLine = 0;
        Out(ConsolePane::HexDump, "\r\n");
        Out(ConsolePane::CharDump, "\r\n");
        EndLogLine();
    }
    if (tickDepth_ == 0) FlushPanes();
}

void ConsoleLogic::BeginLogLine(const std::string& prefix) {
    if (!log_.IsOpen()) return;
    logLine_ = prefix;
    logLineOpen_ = true;
}

void ConsoleLogic::EndLogLine() {
    if (logLineOpen_) log_.Write(logLine_);
    logLine_.clear();
    logLineOpen_ = false;
}
