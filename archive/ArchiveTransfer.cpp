// The archive transfer's state machine, its row assembly and its file.
#include "archive/ArchiveTransfer.h"

#include "archive/ArchiveRequests.h"
#include "base/Files.h"
#include "base/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What tells the two archives apart.
struct ArchiveKind {
    std::uint16_t StartCommand;
    std::uint16_t NextRowCommand;
    int ParseMode;
    // The day reader reports every request and decodes its first answer from
    // the start register; the hour reader reports only the row chunks.
    bool Day;
};
constexpr ArchiveKind DayKind{1, 2, 1, true};
constexpr ArchiveKind HourKind{5, 6, 0, false};

const ArchiveKind& KindOf(bool hour) {
    return hour ? HourKind : DayKind;
}

constexpr std::int32_t MaxAnswerData = AnswerAreaSize - 1;

// A length, most significant byte first; missing bytes count as 0.
std::int32_t AnswerLength(const std::uint8_t* data, std::int32_t count) {
    return (count > 0 ? data[0] * 256 : 0) + (count > 1 ? data[1] : 0);
}

} // namespace

ArchiveTransfer::ArchiveTransfer(ArchiveHost& host, char decimalSeparator)
    : host_(host), decimalSeparator_(decimalSeparator) {}

void ArchiveTransfer::Restart(std::uint8_t address, bool hour, std::string file) {
    address_ = address;
    hour_ = hour;
    ArhivFileName = std::move(file);
    ArhivRowCount = 0;
    RowsWritten = 0;
    FileStarted = false;
    ArhivStep = ArchiveState::StartCommand;
    ArhivStepReady = 1;
}

bool ArchiveTransfer::StepDue() const {
    // Finished or stopped: no request is outstanding and none is sent.
    return ArhivStepReady == 1 && ArhivStep >= ArchiveState::StartCommand &&
           ArhivStep <= ArchiveState::RowDone;
}

void ArchiveTransfer::Stop() {
    ArhivStep = ArchiveState::Stopped;
    ArhivStepReady = 0;
}

void ArchiveTransfer::Fail(ArchiveFault fault, int detail) {
    Stop();
    host_.Failed(fault, detail);
}

void ArchiveTransfer::SendRequest(const RequestBlock& block, std::int32_t expectedDataLen) {
    Request = block;
    ExpectedDataLen = expectedDataLen;
    // A step that sends ends here; the answer takes the next.
    ArhivStepReady = 1;
    host_.SendRequest(Request);
}

// At most 125 registers a chunk; the start register advances by the bytes
// already requested. The last chunk moves the state on to `last`.
void ArchiveTransfer::SendChunkRequest(ArchiveState last) {
    const std::int32_t remaining = ArhivLen - ArhivOffset;
    std::int32_t registers = MaxChunkRegisters;
    if (remaining <= 2 * MaxChunkRegisters) {
        registers = (remaining + 1) / 2;
        ArhivStep = last;
    }
    const RequestBlock block =
        ArchiveChunkRequest(address_, ArhivOffset, static_cast<std::uint16_t>(registers));
    ArhivOffset += 2 * registers;
    SendRequest(block, 2 * registers);
}

// The answer's text up to its first 0 byte.
void ArchiveTransfer::AppendAnswerText(const std::uint8_t* data, std::int32_t count) {
    const auto* end = data + count;
    ShablonText.append(reinterpret_cast<const char*>(data),
                       static_cast<std::size_t>(std::find(data, end, 0) - data));
}

void ArchiveTransfer::CopyChunkToRow(const std::uint8_t* data, std::int32_t count) {
    // The chunk's place in the row: its request moved ArhivOffset past it.
    // After an answer that brought fewer bytes than asked the row has a gap;
    // nothing after it is placed, so the formatter marks the missing columns
    // instead of showing bytes of an earlier answer as this row's values.
    if (RowLen != ArhivOffset - ExpectedDataLen) return;
    // The row length was checked against the row area; the bound holds even
    // for answers that differ from what was asked.
    const std::int32_t n = std::min({ExpectedDataLen, count, RowAreaSize - RowLen});
    if (n <= 0) return;
    std::memcpy(row_ + RowLen, data, static_cast<size_t>(n));
    RowLen += n;
}

bool ArchiveTransfer::WriteTemplateFile() {
    std::FILE* file = OpenFile(ArhivFileName, "wb");
    if (!file) {
        Fail(ArchiveFault::CannotCreate, errno);
        return false;
    }
    FileStarted = true;
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        // A full disk or an I/O error: never go on as if the line were there.
        Fail(ArchiveFault::CannotWrite, errno);
        return false;
    }
    if (!AnalizShablonStrArhiva(ShablonText, KindOf(hour_).ParseMode, Shablon)) {
        Fail(ArchiveFault::TemplateTooWide, MaxShablonColumns);
        return false;
    }
    return true;
}

bool ArchiveTransfer::AppendRowLine() {
    // A file that has gone during the transfer is reported like one that
    // cannot be opened: rows are never dropped without a word.
    std::FILE* file = FileExists(ArhivFileName) ? OpenFile(ArhivFileName, "ab") : nullptr;
    if (!file) {
        Fail(ArchiveFault::CannotOpen, errno);
        return false;
    }
    ShablonText += '\n';
    if (!WriteAndClose(file, TextModeBytes(ShablonText))) {
        Fail(ArchiveFault::CannotWrite, errno);
        return false;
    }
    return true;
}

void ArchiveTransfer::TakeStep(const std::uint8_t* data, std::int32_t count) {
    if (!StepDue()) return;
    ArhivStepReady = 0;
    count = std::clamp(count, 0, MaxAnswerData);
    if (count == 0) data = nullptr;
    while (Advance(data, count)) {
    }
}

bool ArchiveTransfer::Advance(const std::uint8_t* data, std::int32_t count) {
    const ArchiveKind& kind = KindOf(hour_);
    switch (ArhivStep) {
    case ArchiveState::Stopped:
    case ArchiveState::Finished:
        return false;
    case ArchiveState::StartCommand:
        if (kind.Day) host_.DecodeFromStartRegister();
        SendCommand("Инициализация", kind.StartCommand, ArchiveState::TemplateLength);
        return false;
    case ArchiveState::TemplateLength:
        host_.DecodeFromStartRegister();
        SendLengthRequest("считать 04 длину шаблона", ArchiveState::TemplateChunk);
        return false;
    case ArchiveState::TemplateChunk:
        TakeTemplateChunk(data, count);
        return false;
    case ArchiveState::TemplateDone:
        AppendAnswerText(data, count);
        ArhivStep = ArchiveState::NextRowCommand;
        return WriteTemplateFile();
    case ArchiveState::NextRowCommand:
        host_.DecodeFromStartRegister();
        SendCommand("Запрос 06 очередной строки из архива", kind.NextRowCommand, ArchiveState::RowLength);
        return false;
    case ArchiveState::RowLength:
        host_.DecodeFromStartRegister();
        SendLengthRequest("считать 04 длину строки", ArchiveState::RowChunk);
        return false;
    case ArchiveState::RowChunk:
        TakeRowChunk(data, count);
        return false;
    case ArchiveState::RowDone:
        return TakeRowEnd(data, count);
    }
    return false; // a state outside the protocol's steps takes none
}

void ArchiveTransfer::DayLine(const char* text) {
    if (KindOf(hour_).Day) host_.ProgressLine(text);
}

void ArchiveTransfer::SendCommand(const char* line, std::uint16_t command, ArchiveState next) {
    DayLine(line);
    ArhivLen = 0;
    ArhivStep = next;
    SendRequest(ArchiveCommandRequest(address_, command), 8);
}

void ArchiveTransfer::SendLengthRequest(const char* line, ArchiveState next) {
    DayLine(line);
    ArhivLen = 0;
    ArhivStep = next;
    SendRequest(ArchiveLengthRequest(address_), 8);
}

void ArchiveTransfer::TakeTemplateChunk(const std::uint8_t* data, std::int32_t count) {
    if (ArhivLen == 0) {
        ArhivLen = AnswerLength(data, count);
        ArhivOffset = 0;
        ShablonText.clear();
    } else {
        AppendAnswerText(data, count);
    }
    DayLine("считать 04 шаблон");
    SendChunkRequest(ArchiveState::TemplateDone);
}

void ArchiveTransfer::TakeRowChunk(const std::uint8_t* data, std::int32_t count) {
    if (ArhivLen == 0) {
        ArhivLen = AnswerLength(data, count);
        ArhivOffset = 0;
        ShablonText.clear();
        RowLen = 0;
        ExpectedDataLen = 0;
        host_.ShowRowLength(ArhivLen);
        if (ArhivLen == 0) {
            ArhivStep = ArchiveState::Finished;
            host_.Finished();
            return;
        }
        if (ArhivLen > RowAreaSize) {
            Fail(ArchiveFault::RowTooLong, ArhivLen);
            return;
        }
    } else {
        CopyChunkToRow(data, count);
    }
    host_.ProgressLine("считать 04  строку");
    SendChunkRequest(ArchiveState::RowDone);
}

bool ArchiveTransfer::TakeRowEnd(const std::uint8_t* data, std::int32_t count) {
    CopyChunkToRow(data, count);
    ++ArhivRowCount;
    FormatStrArhivToStrFile(Shablon, row_, std::min(RowLen, ArhivLen), decimalSeparator_, ShablonText);
    host_.ShowRowNumber(ArhivRowCount);
    if (!AppendRowLine()) return false;
    RowsWritten = ArhivRowCount;
    ArhivStep = ArchiveState::NextRowCommand;
    return true;
}
