// The archive transfer of the console: one state machine for the day and the
// hour archive that takes one step per completed answer, reads the template
// and then row after row, and writes day.txt or hour.txt beside the
// executable.
#include "archive/ArchiveRequests.h"
#include "archive/RowFormat.h"
#include "archive/Shablon.h"
#include "base/Paths.h"
#include "base/TextFile.h"
#include "console/ConsoleLogic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

static_assert(RxRowAreaSize == RowAreaSize, "the row area and the formatter agree on its size");

namespace {

// What tells the two archives apart.
struct ArhivKind {
    std::uint16_t StartCommand;
    std::uint16_t NextRowCommand;
    const char* FileName;
    int ParseMode;
};
constexpr ArhivKind DayKind{1, 2, "day.txt", 1};
constexpr ArhivKind HourKind{5, 6, "hour.txt", 0};

const char* const WriteErrorCaption = "ОШИБКА ЗАПИСИ";

bool FileExists(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0;
}

} // namespace

void ConsoleLogic::ReadDayArhiv() {
    ReadArhiv(false);
}

void ConsoleLogic::ReadHourArhiv() {
    ReadArhiv(true);
}

void ConsoleLogic::Message(const std::string& text, const std::string& caption) {
    FlushMemos(); // the progress so far shows behind the box
    screen_.ShowMessage(text, caption);
}

std::uint8_t ConsoleLogic::DeviceAddress() {
    return static_cast<std::uint8_t>(EditInt(ConsoleEdit::Edit3));
}

void ConsoleLogic::SendRequest(const RequestBlock& block, std::int32_t expectedDataLen) {
    Request = block;
    ExpectedDataLen = expectedDataLen;
    WaitAnswer = true;
    // A step that sends ends here; the answer's completion allows the next.
    ArhivStepReady = 0;
    Send(Request.data(), static_cast<std::int32_t>(Request.size()));
}

// At most 125 registers a chunk; the start register advances by the bytes
// already requested. The last chunk moves the state on.
void ConsoleLogic::SendChunkRequest(std::uint8_t address) {
    const std::int32_t remaining = ArhivLen - ArhivOffset;
    std::int32_t registers = MaxChunkRegisters;
    if (remaining <= 2 * MaxChunkRegisters) {
        registers = (remaining + 1) / 2;
        ++ArhivStep;
    }
    const RequestBlock block =
        ArchiveChunkRequest(address, ArhivOffset, static_cast<std::uint16_t>(registers));
    ArhivOffset += 2 * registers;
    SendRequest(block, 2 * registers);
}

void ConsoleLogic::TakeLength() {
    ArhivLen = RxBuf[RxAnswerArea] * 256 + RxBuf[RxAnswerArea + 1];
}

void ConsoleLogic::AppendAnswerText() {
    const char* text = reinterpret_cast<const char*>(RxBuf + RxAnswerArea);
    ShablonText.append(text, strnlen(text, RxReceiveArea - RxAnswerArea));
}

void ConsoleLogic::CopyChunkToRow() {
    // The chunk's place in the row: its request moved ArhivOffset past it.
    // After an answer that brought fewer bytes than asked the row has a gap;
    // nothing after it is placed, so the formatter marks the missing columns
    // instead of showing bytes of an earlier answer as this row's values.
    if (RowLen != ArhivOffset - ExpectedDataLen) return;
    // The row length was checked against the row area; the bound holds even
    // for answers that differ from what was asked.
    const std::int32_t count = std::min({ExpectedDataLen, AnswerDataLen, RxRowAreaSize - RowLen});
    if (count <= 0) return;
    std::memcpy(RxBuf + RxRowArea + RowLen, RxBuf + RxAnswerArea, static_cast<size_t>(count));
    RowLen += count;
}

bool ConsoleLogic::WriteTemplateFile(bool hour) {
    const ArhivKind& kind = hour ? HourKind : DayKind;
    ArhivFileName = ExecutableDir() + kind.FileName;
    std::FILE* file = std::fopen(ArhivFileName.c_str(), "wb");
    if (!file) {
        Message("Невозможно создать Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        // A full disk or an I/O error: never go on as if the line were there.
        Message("Ошибка записи в Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    if (!AnalizShablonStrArhiva(ShablonText, kind.ParseMode, Shablon)) {
        Message("Шаблон архива содержит больше " + std::to_string(MaxShablonColumns) +
                    " столбцов. Чтение архива остановлено.",
                WriteErrorCaption);
        ArhivStepReady = 0;
        return false;
    }
    return true;
}

bool ConsoleLogic::AppendRowLine(bool hour) {
    const ArhivKind& kind = hour ? HourKind : DayKind;
    ArhivFileName = ExecutableDir() + kind.FileName;
    // A file that has gone during the transfer is reported like one that
    // cannot be opened: rows are never dropped without a word.
    std::FILE* file = FileExists(ArhivFileName) ? std::fopen(ArhivFileName.c_str(), "ab") : nullptr;
    if (!file) {
        Message("Невозможно открыть Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        Message("Ошибка записи в Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    return true;
}

void ConsoleLogic::ReadArhiv(bool hour) {
    AnswerReady = false;
    if (ArhivStepReady != 1) return;
    // Finished (or never a valid state): no request is outstanding and none
    // is sent.
    if (ArhivStep < 0 || ArhivStep > 7) return;
    ArhivStepReady = 0;
    AnswerByteCount = 0;
    AnswerPos = 0;
    ValueByteCnt = 0;

    const ArhivKind& kind = hour ? HourKind : DayKind;
    auto dayLine = [&](const char* text) {
        if (!hour) Memo1Line(text);
    };

    for (;;) {
        switch (ArhivStep) {
        case 0: {
            if (!hour) ValueAddr = EditInt(ConsoleEdit::Edit1);
            const std::uint8_t address = DeviceAddress();
            dayLine("Инициализация");
            SendRequest(ArchiveCommandRequest(address, kind.StartCommand), 8);
            ArhivLen = 0;
            ArhivStep = 1;
            return;
        }
        case 1: {
            ValueAddr = EditInt(ConsoleEdit::Edit1);
            const std::uint8_t address = DeviceAddress();
            dayLine("считать 04 длину шаблона");
            SendRequest(ArchiveLengthRequest(address), 8);
            ArhivLen = 0;
            ArhivStep = 2;
            return;
        }
        case 2: {
            if (ArhivLen == 0) {
                TakeLength();
                ArhivOffset = 0;
                ShablonText.clear();
            } else {
                AppendAnswerText();
            }
            const std::uint8_t address = DeviceAddress();
            dayLine("считать 04 шаблон");
            SendChunkRequest(address);
            return;
        }
        case 3:
            AppendAnswerText();
            ArhivStep = 4;
            ArhivStepReady = 1;
            if (!WriteTemplateFile(hour)) return;
            continue;
        case 4: {
            ValueAddr = EditInt(ConsoleEdit::Edit1);
            const std::uint8_t address = DeviceAddress();
            dayLine("Запрос 06 очередной строки из архива");
            SendRequest(ArchiveCommandRequest(address, kind.NextRowCommand), 8);
            ArhivLen = 0;
            ArhivStep = 5;
            return;
        }
        case 5: {
            ValueAddr = EditInt(ConsoleEdit::Edit1);
            const std::uint8_t address = DeviceAddress();
            dayLine("считать 04 длину строки");
            SendRequest(ArchiveLengthRequest(address), 8);
            ArhivLen = 0;
            ArhivStep = 6;
            return;
        }
        case 6: {
            if (ArhivLen == 0) {
                TakeLength();
                ArhivOffset = 0;
                ShablonText.clear();
                RowLen = 0;
                ExpectedDataLen = 0;
                screen_.SetEdit6(std::to_string(ArhivLen));
                if (ArhivLen == 0) {
                    Memo1Line("архив закончен!!!!!!!!!!!!!!!!!");
                    ArhivStepReady = 1;
                    ArhivStep = -1;
                    return;
                }
                if (ArhivLen > RxRowAreaSize) {
                    Message("Строка архива длиной " + std::to_string(ArhivLen) +
                                " байт не помещается в буфер (" + std::to_string(RxRowAreaSize) +
                                " байт). Чтение архива остановлено.",
                            WriteErrorCaption);
                    return;
                }
            } else {
                CopyChunkToRow();
            }
            const std::uint8_t address = DeviceAddress();
            Memo1Line("считать 04  строку");
            SendChunkRequest(address);
            return;
        }
        case 7:
            CopyChunkToRow();
            ++ArhivRowCount;
            screen_.SetEdit5(std::to_string(ArhivRowCount));
            FormatStrArhivToStrFile(Shablon, RxBuf + RxRowArea, std::min(RowLen, ArhivLen), DecimalSeparator,
                                    ShablonText);
            if (!AppendRowLine(hour)) return;
            ArhivStep = 4;
            continue;
        }
    }
}
