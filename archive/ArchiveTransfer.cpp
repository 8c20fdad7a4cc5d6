// The archive transfer's state machine, its row assembly and its two files.
#include "archive/ArchiveTransfer.h"

#include "archive/ArchiveRequests.h"
#include "base/Paths.h"
#include "base/TextFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// What tells the two archives apart.
struct ArchiveKind {
    std::uint16_t StartCommand;
    std::uint16_t NextRowCommand;
    const char* FileName;
    int ParseMode;
    // The day reader reports every request and decodes its first answer from
    // the start register; the hour reader reports only the row chunks and
    // the end.
    bool Day;
};
constexpr ArchiveKind DayKind{1, 2, "day.txt", 1, true};
constexpr ArchiveKind HourKind{5, 6, "hour.txt", 0, false};

const ArchiveKind& KindOf(bool hour) {
    return hour ? HourKind : DayKind;
}

constexpr std::int32_t MaxAnswerData = AnswerAreaSize - 1;

const char* const WriteErrorCaption = "ОШИБКА ЗАПИСИ";
const char* const LinkErrorCaption = "ОШИБКА СВЯЗИ";

bool FileExists(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0;
}

} // namespace

ArchiveTransfer::ArchiveTransfer(ArchiveHost& host, char decimalSeparator)
    : host_(host), decimalSeparator_(decimalSeparator) {}

void ArchiveTransfer::Restart() {
    ArhivRowCount = 0;
    ArhivStep = ArchiveState::StartCommand;
    ArhivStepReady = 1;
}

void ArchiveTransfer::AnswerArrived(const std::uint8_t* data, std::int32_t count) {
    const std::int32_t n = std::clamp(count, 0, MaxAnswerData);
    if (n > 0) std::memcpy(answer_, data, static_cast<size_t>(n));
    answer_[n] = 0;
    answerLen_ = n;
    ArhivStepReady = 1;
}

bool ArchiveTransfer::StepDue() const {
    // Finished (or never a valid state): no request is outstanding and none
    // is sent.
    return ArhivStepReady == 1 && ArhivStep >= ArchiveState::StartCommand &&
           ArhivStep <= ArchiveState::RowDone;
}

void ArchiveTransfer::ReadDayArhiv() {
    ReadArhiv(false);
}

void ArchiveTransfer::ReadHourArhiv() {
    ReadArhiv(true);
}

void ArchiveTransfer::Stop(bool hour, ArchiveStop reason, int code) {
    ArhivStep = ArchiveState::Stopped;
    ArhivStepReady = 0;
    StopReason = reason;
    StopCode = code;
    std::string why, advice;
    switch (reason) {
    case ArchiveStop::NoAnswer:
        why = "прибор не отвечает";
        advice = "Проверьте связь с прибором и прочтите архив заново.";
        break;
    case ArchiveStop::ErrorAnswer:
        why = "прибор ответил ошибкой " + std::to_string(code);
        advice = "Прочтите архив заново.";
        break;
    case ArchiveStop::PortGone:
        why = "порт отключён";
        advice = "Проверьте порт в настройках и прочтите архив заново.";
        break;
    }
    host_.ProgressLine("чтение остановлено: " + why);
    const std::string last = ArhivRowCount > 0 ? std::to_string(ArhivRowCount) : "нет";
    host_.ShowMessage(std::string("Чтение ") + (hour ? "часового" : "суточного") + " архива остановлено: " +
                          why + ". Последняя записанная строка: " + last + ". " + advice,
                      LinkErrorCaption);
}

void ArchiveTransfer::SendRequest(const RequestBlock& block, std::int32_t expectedDataLen) {
    Request = block;
    ExpectedDataLen = expectedDataLen;
    // A step that sends ends here; the answer's completion allows the next.
    ArhivStepReady = 0;
    host_.SendRequest(Request);
}

// At most 125 registers a chunk; the start register advances by the bytes
// already requested. The last chunk moves the state on to `last`.
void ArchiveTransfer::SendChunkRequest(std::uint8_t address, ArchiveState last) {
    const std::int32_t remaining = ArhivLen - ArhivOffset;
    std::int32_t registers = MaxChunkRegisters;
    if (remaining <= 2 * MaxChunkRegisters) {
        registers = (remaining + 1) / 2;
        ArhivStep = last;
    }
    const RequestBlock block =
        ArchiveChunkRequest(address, ArhivOffset, static_cast<std::uint16_t>(registers));
    ArhivOffset += 2 * registers;
    SendRequest(block, 2 * registers);
}

void ArchiveTransfer::TakeLength() {
    ArhivLen = answer_[0] * 256 + answer_[1];
}

void ArchiveTransfer::AppendAnswerText() {
    const char* text = reinterpret_cast<const char*>(answer_);
    ShablonText.append(text, strnlen(text, AnswerAreaSize));
}

void ArchiveTransfer::CopyChunkToRow() {
    // The chunk's place in the row: its request moved ArhivOffset past it.
    // After an answer that brought fewer bytes than asked the row has a gap;
    // nothing after it is placed, so the formatter marks the missing columns
    // instead of showing bytes of an earlier answer as this row's values.
    if (RowLen != ArhivOffset - ExpectedDataLen) return;
    // The row length was checked against the row area; the bound holds even
    // for answers that differ from what was asked.
    const std::int32_t count = std::min({ExpectedDataLen, answerLen_, RowAreaSize - RowLen});
    if (count <= 0) return;
    std::memcpy(row_ + RowLen, answer_, static_cast<size_t>(count));
    RowLen += count;
}

bool ArchiveTransfer::WriteTemplateFile(bool hour) {
    const ArchiveKind& kind = KindOf(hour);
    if (OutputFile.empty()) {
        const std::string dir = ArchiveDir();
        MakeFolder(dir); // an installed copy's folder may not exist yet
        ArhivFileName = dir + kind.FileName;
    } else {
        ArhivFileName = OutputFile;
    }
    std::FILE* file = std::fopen(ArhivFileName.c_str(), "wb");
    if (!file) {
        host_.ShowMessage("Невозможно создать Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        // A full disk or an I/O error: never go on as if the line were there.
        host_.ShowMessage("Ошибка записи в Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    if (!AnalizShablonStrArhiva(ShablonText, kind.ParseMode, Shablon)) {
        host_.ShowMessage("Шаблон архива содержит больше " + std::to_string(MaxShablonColumns) +
                              " столбцов. Чтение архива остановлено.",
                          WriteErrorCaption);
        ArhivStepReady = 0;
        return false;
    }
    return true;
}

bool ArchiveTransfer::AppendRowLine(bool hour) {
    const ArchiveKind& kind = KindOf(hour);
    ArhivFileName = OutputFile.empty() ? ArchiveDir() + kind.FileName : OutputFile;
    // A file that has gone during the transfer is reported like one that
    // cannot be opened: rows are never dropped without a word.
    std::FILE* file = FileExists(ArhivFileName) ? std::fopen(ArhivFileName.c_str(), "ab") : nullptr;
    if (!file) {
        host_.ShowMessage("Невозможно открыть Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        host_.ShowMessage("Ошибка записи в Файл с именем " + ArhivFileName + " !", WriteErrorCaption);
        return false;
    }
    return true;
}

void ArchiveTransfer::ReadArhiv(bool hour) {
    if (!StepDue()) return;
    ArhivStepReady = 0;
    const ArchiveKind& kind = KindOf(hour);

    auto dayLine = [&](const char* text) {
        if (kind.Day) host_.ProgressLine(text);
    };

    for (;;) {
        switch (ArhivStep) {
        case ArchiveState::Stopped:
        case ArchiveState::Finished:
            return;
        case ArchiveState::StartCommand: {
            if (kind.Day) host_.DecodeFromStartRegister();
            const std::uint8_t address = host_.DeviceAddress();
            dayLine("Инициализация");
            SendRequest(ArchiveCommandRequest(address, kind.StartCommand), 8);
            ArhivLen = 0;
            ArhivStep = ArchiveState::TemplateLength;
            return;
        }
        case ArchiveState::TemplateLength: {
            host_.DecodeFromStartRegister();
            const std::uint8_t address = host_.DeviceAddress();
            dayLine("считать 04 длину шаблона");
            SendRequest(ArchiveLengthRequest(address), 8);
            ArhivLen = 0;
            ArhivStep = ArchiveState::TemplateChunk;
            return;
        }
        case ArchiveState::TemplateChunk: {
            if (ArhivLen == 0) {
                TakeLength();
                ArhivOffset = 0;
                ShablonText.clear();
            } else {
                AppendAnswerText();
            }
            const std::uint8_t address = host_.DeviceAddress();
            dayLine("считать 04 шаблон");
            SendChunkRequest(address, ArchiveState::TemplateDone);
            return;
        }
        case ArchiveState::TemplateDone:
            AppendAnswerText();
            ArhivStep = ArchiveState::NextRowCommand;
            ArhivStepReady = 1;
            if (!WriteTemplateFile(hour)) return;
            continue;
        case ArchiveState::NextRowCommand: {
            host_.DecodeFromStartRegister();
            const std::uint8_t address = host_.DeviceAddress();
            dayLine("Запрос 06 очередной строки из архива");
            SendRequest(ArchiveCommandRequest(address, kind.NextRowCommand), 8);
            ArhivLen = 0;
            ArhivStep = ArchiveState::RowLength;
            return;
        }
        case ArchiveState::RowLength: {
            host_.DecodeFromStartRegister();
            const std::uint8_t address = host_.DeviceAddress();
            dayLine("считать 04 длину строки");
            SendRequest(ArchiveLengthRequest(address), 8);
            ArhivLen = 0;
            ArhivStep = ArchiveState::RowChunk;
            return;
        }
        case ArchiveState::RowChunk: {
            if (ArhivLen == 0) {
                TakeLength();
                ArhivOffset = 0;
                ShablonText.clear();
                RowLen = 0;
                ExpectedDataLen = 0;
                host_.ShowRowLength(ArhivLen);
                if (ArhivLen == 0) {
                    host_.ProgressLine("архив закончен!!!!!!!!!!!!!!!!!");
                    // Where to find it: the folder depends on the installation.
                    host_.ProgressLine("Архив записан в файл " + ArhivFileName);
                    ArhivStepReady = 1;
                    ArhivStep = ArchiveState::Finished;
                    return;
                }
                if (ArhivLen > RowAreaSize) {
                    host_.ShowMessage("Строка архива длиной " + std::to_string(ArhivLen) +
                                          " байт не помещается в буфер (" + std::to_string(RowAreaSize) +
                                          " байт). Чтение архива остановлено.",
                                      WriteErrorCaption);
                    return;
                }
            } else {
                CopyChunkToRow();
            }
            const std::uint8_t address = host_.DeviceAddress();
            host_.ProgressLine("считать 04  строку");
            SendChunkRequest(address, ArchiveState::RowDone);
            return;
        }
        case ArchiveState::RowDone:
            CopyChunkToRow();
            ++ArhivRowCount;
            host_.ShowRowNumber(ArhivRowCount);
            FormatStrArhivToStrFile(Shablon, row_, std::min(RowLen, ArhivLen), decimalSeparator_,
                                    ShablonText);
            if (!AppendRowLine(hour)) return;
            ArhivStep = ArchiveState::NextRowCommand;
            continue;
        }
        return; // a state outside the protocol's steps takes none
    }
}
