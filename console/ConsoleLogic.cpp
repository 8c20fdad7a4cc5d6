// The console's send and clear commands and its receive loop.
#include "console/ConsoleLogic.h"

#include "base/Cp1251.h"
#include "base/StrToInt.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <cstring>

namespace {
const char HexDigits[] = "0123456789ABCDEF";
} // namespace

ConsoleLogic::ConsoleLogic(ConsoleScreen& screen, PacketSender sender, char decimalSeparator)
    : DecimalSeparator(decimalSeparator), screen_(screen), sender_(std::move(sender)) {}

void ConsoleLogic::Out(ConsoleMemo memo, const std::string& text) {
    if (!screen_.MemoActive()) return;
    pending_[static_cast<int>(memo)] += text;
    if (tickDepth_ == 0) FlushMemos();
}

void ConsoleLogic::Memo1Line(const std::string& text) {
    if (!screen_.MemoActive()) return;
    // The dump gathered so far goes first, so that the line keeps its place.
    std::string& dump = pending_[static_cast<int>(ConsoleMemo::Memo1)];
    if (!dump.empty()) {
        screen_.AppendMemo(ConsoleMemo::Memo1, dump);
        dump.clear();
    }
    screen_.AddMemo1Line(Utf8ToCp1251(text));
}

void ConsoleLogic::FlushMemos() {
    for (int i = 0; i < 3; ++i) {
        if (pending_[i].empty()) continue;
        std::string text;
        text.swap(pending_[i]);
        screen_.AppendMemo(static_cast<ConsoleMemo>(i), text);
    }
}

void ConsoleLogic::Send(const std::uint8_t* block, std::int32_t count) {
    if (sender_) sender_(block, count);
}

int ConsoleLogic::EditInt(ConsoleEdit edit) {
    const std::string text = screen_.EditText(edit);
    int value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + Cp1251ToUtf8(text) + "' is not a valid integer value");
    return value;
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
    screen_.ClearMemos();
    CntByteInLine = 0;
    ValueByteCnt = 0;
    AnswerPos = 0;
    AnswerByteCount = 0;
    WaitAnswer = false;
}

void ConsoleLogic::Button2Click() {
    ManualRequest = 1;
    const auto address = static_cast<std::uint8_t>(EditInt(ConsoleEdit::Edit3));
    const int function = EditInt(ConsoleEdit::Edit4);
    const auto reg = static_cast<std::uint16_t>(EditInt(ConsoleEdit::Edit1));
    if (function == 16) {
        const std::string text = screen_.EditText(ConsoleEdit::Edit2);
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
        const auto second = static_cast<std::uint16_t>(EditInt(ConsoleEdit::Edit2));
        const auto block = MakeRequest(address, static_cast<std::uint8_t>(function), reg, second);
        Send(block.data(), static_cast<std::int32_t>(block.size()));
    }
    Button1Click();
    ArmReceive(EditInt(ConsoleEdit::Edit1));
}

int ConsoleLogic::SafeReadCount() const {
    if (!WaitAnswer || ManualRequest != 0) return RxBufSize;
    // The byte count arrives at index 2; after it the answer ends at n + 4.
    if (AnswerPos < 3) return 3 - AnswerPos;
    return std::max(1, AnswerByteCount + 5 - AnswerPos);
}

void ConsoleLogic::Timer1Timer() {
    screen_.EnableTimer(ConsoleTimer::Timer1, false);
    // Ticks never overlap; the timer runs again whatever ends the tick.
    struct Restart {
        ConsoleScreen& screen;
        ~Restart() { screen.EnableTimer(ConsoleTimer::Timer1, true); }
    } restart{screen_};
    TickScope scope(*this);

    Rs232Port* port = MainPort;
    int k = port ? port->InQueue() : 0;
    std::uint8_t chunk[RxBufSize];
    while (k > 0) {
        // An archive step run inside the loop uses the port itself: fetch it
        // afresh and read only what is still waiting. A read that would find
        // nothing is skipped, with the rest of the tick's count.
        port = MainPort;
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
}

void ConsoleLogic::ReceiveByte(std::uint8_t b) {
    bool awaited = WaitAnswer;
    if (awaited) {
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
            ArhivStepReady = 1;
            WaitAnswer = false;
            AnswerReady = true;
            break;
        }
        ++AnswerPos;
    }
    DumpByte(b);
    // The reader runs after the byte is dumped, so that its Memo1 line
    // follows the answer's complete dump line.
    if (awaited && AnswerReady && ManualRequest == 0) {
        if (HourArhiv == 0)
            ReadDayArhiv();
        else
            ReadHourArhiv();
    }
}

void ConsoleLogic::DumpByte(std::uint8_t b) {
    if (screen_.MemoActive()) {
        std::string& hex = pending_[static_cast<int>(ConsoleMemo::Memo1)];
        hex += HexDigits[b >> 4];
        hex += HexDigits[b & 0x0F];
        hex += ' ';
        pending_[static_cast<int>(ConsoleMemo::Memo2)] +=
            (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
    }
    if (++CntByteInLine >= 16) {
        CntByteInLine = 0;
        Out(ConsoleMemo::Memo1, "\r\n");
        Out(ConsoleMemo::Memo2, "\r\n");
    }
    if (tickDepth_ == 0) FlushMemos();
}
