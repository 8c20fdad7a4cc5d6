// The archive transfer: one state machine for the day and the hour archive
// that takes one step per completed answer, reads the template and then row
// after row, and writes day.txt or hour.txt into the archive folder. Its owner
// feeds it every completed answer and calls a reader; the transfer reaches
// the device and the user only through ArchiveHost.
#pragma once
#include "archive/RowFormat.h"
#include "archive/Shablon.h"
#include "base/RequestBlock.h"

#include <cstdint>
#include <string>

// What the transfer needs from its owner, and no more. Texts are UTF-8.
class ArchiveHost {
public:
    virtual ~ArchiveHost() = default;

    // The device address the user gave. A text that is no integer raises the
    // conversion error, which ends the step.
    virtual std::uint8_t DeviceAddress() = 0;
    // The values of the next answer are decoded from the start register the
    // user gave (the same conversion error).
    virtual void DecodeFromStartRegister() = 0;
    // Hands the request to the gateway and awaits its answer.
    virtual void SendRequest(const RequestBlock& block) = 0;
    // A line telling how far the transfer has got.
    virtual void ProgressLine(const std::string& text) = 0;
    // Number of the rows read so far; length of the row being read.
    virtual void ShowRowNumber(std::int32_t number) = 0;
    virtual void ShowRowLength(std::int32_t length) = 0;
    // A modal message with an OK button; the transfer stops after it.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

// The transfer's states, numbered as the device's archive protocol numbers
// its steps.
enum class ArchiveState : std::int32_t {
    Stopped = -2,       // stopped before the end (see ArchiveStop); no request outstanding
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

// Why a transfer stopped before the end of the archive.
enum class ArchiveStop {
    NoAnswer,    // no answer within the time-out
    ErrorAnswer, // the device answered the request with a Modbus exception
    PortGone,    // no port, or the port has failed
};

// Bytes of the area that holds the last answer's data and a 0 byte after it:
// an answer carries at most 255 data bytes.
inline constexpr int AnswerAreaSize = 256;

class ArchiveTransfer {
public:
    ArchiveTransfer(ArchiveHost& host, char decimalSeparator);
    ArchiveTransfer(const ArchiveTransfer&) = delete;
    ArchiveTransfer& operator=(const ArchiveTransfer&) = delete;

    // Back to the first state, ready for its first step, no rows counted.
    void Restart();
    // An answer has completed (any answer, also one the transfer did not ask
    // for): its data bytes are kept for the next step, which may now be taken.
    void AnswerArrived(const std::uint8_t* data, std::int32_t count);
    // Whether a reader called now takes a step.
    bool StepDue() const;
    // One step of the day or the hour transfer: it may pass through several
    // states but sends at most one request.
    void ReadDayArhiv();
    void ReadHourArhiv();
    // Stops the day or hour transfer before its end: a progress line, and a
    // message naming the archive, the last row written and the reason
    // (`code`: the exception code of an ErrorAnswer). The file keeps its
    // complete rows; no further step is taken.
    void Stop(bool hour, ArchiveStop reason, int code = 0);

    ArchiveState ArhivStep = ArchiveState::StartCommand;
    // Why the transfer stopped, when ArhivStep is Stopped; the exception code
    // of an ErrorAnswer.
    ArchiveStop StopReason = ArchiveStop::NoAnswer;
    int StopCode = 0;
    // 1 when the reader may take its next step; the reader clears it.
    std::int32_t ArhivStepReady = 0;
    // Data bytes the current request asks for.
    std::int32_t ExpectedDataLen = 0;
    // Length of the template or of the current row; 0 = not yet known.
    std::int32_t ArhivLen = 0;
    // Bytes of the template or row already requested.
    std::int32_t ArhivOffset = 0;
    std::int32_t ArhivRowCount = 0;
    // Bytes of the current row assembled in the row area.
    std::int32_t RowLen = 0;
    // The template text while it is read; afterwards the current row's line.
    std::string ShablonText;
    std::string ArhivFileName;
    // Set: the file written instead of day.txt or hour.txt in the archive
    // folder (the command-line tool's choice).
    std::string OutputFile;
    RequestBlock Request = {};
    // One column kind per template keyword, in template order.
    ShablonDescriptor Shablon;

private:
    void ReadArhiv(bool hour);
    void SendRequest(const RequestBlock& block, std::int32_t expectedDataLen);
    void SendChunkRequest(std::uint8_t address, ArchiveState last);
    void TakeLength();
    void AppendAnswerText();
    void CopyChunkToRow();
    bool WriteTemplateFile(bool hour);
    bool AppendRowLine(bool hour);

    ArchiveHost& host_;
    char decimalSeparator_;
    std::uint8_t answer_[AnswerAreaSize] = {};
    std::int32_t answerLen_ = 0;
    std::uint8_t row_[RowAreaSize] = {};
};
