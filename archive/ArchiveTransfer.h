// The archive transfer: one state machine for the day and the hour archive
// that takes one step per completed answer, reads the template and then row
// after row, and writes them into the file it is given. Its session starts it
// and hands it every answer; it reaches the meter and its owner only through
// ArchiveHost.
#pragma once
#include "archive/RowFormat.h"
#include "archive/Shablon.h"
#include "base/RequestBlock.h"

#include <cstdint>
#include <string>

// Why the transfer cannot go on with its file or its data.
enum class ArchiveFault {
    CannotCreate,   // the file cannot be created (detail: the system error)
    CannotOpen,     // the file cannot be opened to append a row, or has gone
    CannotWrite,    // a line could not be written (a full disk, an I/O error)
    RowTooLong,     // a row longer than the row area (detail: its length)
    TemplateTooWide // a template of more columns than the descriptor holds
};

// What the transfer needs from its session, and no more. Texts are UTF-8.
class ArchiveHost {
public:
    virtual ~ArchiveHost() = default;

    // The values of the next answer are decoded from the start register the
    // user gave (an exception ends the step).
    virtual void DecodeFromStartRegister() = 0;
    // Hands the request to the gateway and awaits its answer.
    virtual void SendRequest(const RequestBlock& block) = 0;
    // A line telling how far the transfer has got.
    virtual void ProgressLine(const std::string& text) = 0;
    // Number of the rows written so far; length of the row being read.
    virtual void ShowRowNumber(std::int32_t number) = 0;
    virtual void ShowRowLength(std::int32_t length) = 0;
    // The meter reported a row length of 0: the file is complete.
    virtual void Finished() = 0;
    // The transfer stops here; nothing further is sent.
    virtual void Failed(ArchiveFault fault, int detail) = 0;
};

// The transfer's states, numbered as the device's archive protocol numbers
// its steps.
enum class ArchiveState : std::int32_t {
    Stopped = -2,       // stopped before the end; no request outstanding
    Finished = -1,      // the device reported a row length of 0
    StartCommand = 0,   // write the start command
    TemplateLength = 1, // ask the template's length
    TemplateChunk = 2,  // take the length or a chunk, ask the next chunk
    TemplateDone = 3,   // write the template line, parse the template
    NextRowCommand = 4, // write the next-row command
    RowLength = 5,      // ask the row's length
    RowChunk = 6,       // take the length or a chunk, ask the next chunk
    RowDone = 7,        // format the row, append its line
};

// Bytes of the area that holds an answer's data and a 0 byte after it: an
// answer carries at most 255 data bytes.
inline constexpr int AnswerAreaSize = 256;

class ArchiveTransfer {
public:
    ArchiveTransfer(ArchiveHost& host, char decimalSeparator);
    ArchiveTransfer(const ArchiveTransfer&) = delete;
    ArchiveTransfer& operator=(const ArchiveTransfer&) = delete;

    // Back to the first state for the day or the hour archive of the meter at
    // `address`, written into `file`; no rows counted. The first step is due.
    void Restart(std::uint8_t address, bool hour, std::string file);
    // Whether a step is due: the answer to the last request is awaited (or
    // the transfer has just been restarted).
    bool StepDue() const;
    // One step with the data bytes of the answer to the last request (none
    // for the first step): it may pass through several states but sends at
    // most one request.
    void TakeStep(const std::uint8_t* data, std::int32_t count);
    // Ends the transfer where it is: no further step is taken.
    void Stop();

    ArchiveState ArhivStep = ArchiveState::Stopped;
    // 1 when the next answer (or, after a restart, the first call) takes a step.
    std::int32_t ArhivStepReady = 0;
    // Data bytes the current request asks for.
    std::int32_t ExpectedDataLen = 0;
    // Length of the template or of the current row; 0 = not yet known.
    std::int32_t ArhivLen = 0;
    // Bytes of the template or row already requested.
    std::int32_t ArhivOffset = 0;
    std::int32_t ArhivRowCount = 0;
    // Rows whose lines are in the file.
    std::int32_t RowsWritten = 0;
    // Bytes of the current row assembled in the row area.
    std::int32_t RowLen = 0;
    // The template text while it is read; afterwards the current row's line.
    std::string ShablonText;
    // The file written, and whether this transfer has created it.
    std::string ArhivFileName;
    bool FileStarted = false;
    RequestBlock Request = {};
    // One column kind per template keyword, in template order.
    ShablonDescriptor Shablon;

private:
    // One state's work on the answer; true when the next state runs at once
    // (a step that wrote the file sends nothing and waits for no answer).
    bool Advance(const std::uint8_t* data, std::int32_t count);
    // A progress line that only the day reader shows.
    void DayLine(const char* text);
    // The start or next-row command, or the length request, sent with its
    // day line; the state moves on to `next`.
    void SendCommand(const char* line, std::uint16_t command, ArchiveState next);
    void SendLengthRequest(const char* line, ArchiveState next);
    void TakeTemplateChunk(const std::uint8_t* data, std::int32_t count);
    void TakeRowChunk(const std::uint8_t* data, std::int32_t count);
    bool TakeRowEnd(const std::uint8_t* data, std::int32_t count);
    void SendRequest(const RequestBlock& block, std::int32_t expectedDataLen);
    void SendChunkRequest(ArchiveState last);
    void AppendAnswerText(const std::uint8_t* data, std::int32_t count);
    void CopyChunkToRow(const std::uint8_t* data, std::int32_t count);
    bool WriteTemplateFile();
    bool AppendRowLine();
    void Fail(ArchiveFault fault, int detail);

    ArchiveHost& host_;
    char decimalSeparator_;
    std::uint8_t address_ = 0;
    bool hour_ = false;
    std::uint8_t row_[RowAreaSize] = {};
};
