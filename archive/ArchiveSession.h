// One archive read from start to end: the meter's identification, the
// transfer of its day or hour archive into a file, the time-out on every
// answer, the progress, and a typed outcome. The session is given the meter,
// the archive and the file when it starts; it sends through the sender it was
// made with and is fed the answers, either whole (by an owner with a receive
// loop of its own) or as bytes read from the line (it frames them itself).
// Several reads, one after another, can go through one session.
#pragma once
#include "archive/ArchiveTransfer.h"
#include "base/Timing.h"
#include "serial/LineDriver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class MeterArchive { Day, Hour };

// What the identification found: registers 4 (version), 5 (configuration
// word 1) and 6..7 (configuration 2), and the device type derived from them.
struct DeviceIdentity {
    std::int16_t Version = 0;
    std::int16_t Config1 = 0;
    std::int32_t Config2 = 0;
    std::int32_t TypeNum = 0;
};

// The device type number TYPE_NUM from version and configuration;
// `previous` where the decision leaves it as it was.
std::int32_t DeviceTypeOf(std::int16_t version, std::uint16_t config1, std::int32_t config2,
                          std::int32_t previous);

// Why a read stopped before the end of the archive.
enum class ArchiveStopReason {
    MeterSilent,     // no answer within the time-out
    Refused,         // the meter answered with a Modbus exception (code)
    PortGone,        // no port, or the port has failed
    RowTooLong,      // a row longer than the row area (code: its length)
    TemplateTooWide, // a template of more columns than the descriptor holds
    UserStopped,     // the user stopped it (the stop button, the window closed)
    Garbled          // the answers' check did not match, also when asked again (code: how often)
};

// How a read ended.
struct ArchiveOutcome {
    enum class Kind {
        Finished, // the whole archive is in `file`
        Stopped,  // `reason`, `code`; the file holds `rows` complete rows
        FileError // `file` could not be created, opened or written (`systemError`)
    };
    Kind kind = Kind::Finished;
    // Rows written into the file: all of them, or the last one written.
    std::int32_t rows = 0;
    // The file asked for. A read writes into its incomplete file beside it
    // and puts that in its place only when the archive has ended: a read that
    // stops leaves the file as it was.
    std::string file;
    // The incomplete file holding the rows this read has written, when it
    // stopped after creating it; empty otherwise (and when finished).
    std::string partialFile;
    ArchiveStopReason reason = ArchiveStopReason::MeterSilent;
    int code = 0;
    ArchiveFault fileFault = ArchiveFault::CannotCreate;
    int systemError = 0;
};

// The message that tells the user how a read ended, UTF-8 (none when it
// finished), and its caption.
struct ArchiveMessage {
    std::string text, caption;
};
ArchiveMessage OutcomeMessage(const ArchiveOutcome& outcome, MeterArchive archive);
// The progress line of a stop the meter or the line caused ("" for others).
std::string StopLine(const ArchiveOutcome& outcome);

// The incomplete file of `file`, where a read writes until the archive ends:
// "day.txt" -> "day.partial.txt" (beside it in a listing, still a text file).
std::string PartialFileOf(const std::string& file);

// day.txt or hour.txt in the archive folder, which is made if it is missing.
std::string DefaultArchiveFile(MeterArchive archive);

// How far a read has got.
struct ArchiveProgress {
    std::int32_t Rows = 0;
    double Seconds = 0;          // since the read started
    double RowsPerSecond = 0;    // rows / seconds (0 at the start)
    std::int32_t AskedAgain = 0; // garbled answers whose request went out again
};
// ", повторов 2" when answers were asked again, else nothing: what a
// progress or end line adds.
std::string AskedAgainText(const ArchiveProgress& progress);

// The meter, the archive and the file of one read.
struct ArchiveJob {
    std::uint8_t Address = 1;
    MeterArchive Archive = MeterArchive::Day;
    std::string File;
};

// What a session reports while it reads; every report is optional. Texts are
// UTF-8.
class ArchiveSessionObserver {
public:
    virtual ~ArchiveSessionObserver() = default;
    virtual void Identified(const DeviceIdentity& identity) { (void)identity; }
    // The values of the next answer are decoded from the user's start
    // register; an exception ends the step and the read rests.
    virtual void DecodeFromStartRegister() {}
    // A line telling which request goes next.
    virtual void StepLine(const std::string& text) { (void)text; }
    virtual void RowLength(std::int32_t length) { (void)length; }
    // A row was read (`rows` so far) and goes into the file.
    virtual void RowRead(std::int32_t rows) { (void)rows; }
    virtual void Ended(const ArchiveOutcome& outcome) { (void)outcome; }
};

// Hands a request block to the gateway (through the line's driver, which
// then awaits its answer).
using RequestSender = std::function<void(const RequestBlock& block)>;

class ArchiveSession : private ArchiveHost {
public:
    enum class Phase {
        Idle,        // never started, or ended (see Outcome())
        Identifying, // the identification's answer is awaited
        Reading      // the transfer runs
    };

    // `clock`: none is the steady clock.
    ArchiveSession(ArchiveSessionObserver& observer, RequestSender sender, char decimalSeparator,
                   SteadyClock clock = {});
    ArchiveSession(const ArchiveSession&) = delete;
    ArchiveSession& operator=(const ArchiveSession&) = delete;

    // Starts a read: the identification request goes out. A read under way
    // is dropped without an outcome.
    void Start(ArchiveJob job);
    // The identification's values, from its answer or captured by an owner
    // that decodes the answers itself: the device type is derived and
    // reported, and the transfer's first request goes out.
    void Identified(std::int16_t version, std::int16_t config1, std::int32_t config2);
    // Whether an answer fed now would move the transfer on.
    bool StepDue() const;
    // The data bytes of a complete answer. While identifying, an answer of
    // at least 8 bytes identifies the meter; while reading, the transfer
    // takes its next step.
    void AnswerArrived(const std::uint8_t* data, std::int32_t count);
    // The meter refused the awaited request with an exception code.
    void Refused(std::uint8_t code);
    // A frame the line's driver has cut: the awaited answer is taken as
    // above when its check matched; a garbled one is waited for again while
    // the driver asks again, and ends the read when it stays garbled.
    // Frames nobody awaited are dropped.
    void TakeFrame(const LineFrame& frame);
    // The driver has sent the garbled answer's request again: the answer
    // time counts afresh.
    void AskedAgain();
    // Stops a read whose answer is overdue: the meter is silent, or the port
    // has gone when `portGone`. Returns whether it stopped.
    bool CheckAnswerTime(bool portGone);
    // Whether the answer to the last request (or the identification, until
    // its values are in) is awaited longer than the answer time-out.
    bool AnswerOverdue() const;
    // Stops the read under way with `reason`.
    void Stop(ArchiveStopReason reason, int code = 0);
    // Ends a read without an outcome: nothing more is sent or reported.
    void Abandon();

    Phase CurrentPhase() const { return phase_; }
    bool Active() const { return phase_ != Phase::Idle; }
    // Whether the answer to the last request is still awaited.
    bool Awaiting() const { return awaiting_; }
    const ArchiveJob& Job() const { return job_; }
    const ArchiveOutcome& Outcome() const { return outcome_; }
    bool HasOutcome() const { return hasOutcome_; }
    ArchiveProgress Progress() const;
    const DeviceIdentity& Identity() const { return identity_; }
    // The transfer's state (read only).
    const ArchiveTransfer& Transfer() const { return transfer_; }

private:
    std::chrono::steady_clock::time_point Now() const;
    void Send(const RequestBlock& block);
    void End(const ArchiveOutcome& outcome);

    // ArchiveHost
    void DecodeFromStartRegister() override;
    void SendRequest(const RequestBlock& block) override;
    void ProgressLine(const std::string& text) override;
    void ShowRowNumber(std::int32_t number) override;
    void ShowRowLength(std::int32_t length) override;
    void Finished() override;
    void Failed(ArchiveFault fault, int detail) override;

    ArchiveSessionObserver& observer_;
    RequestSender sender_;
    SteadyClock clock_;
    ArchiveTransfer transfer_;
    ArchiveJob job_;
    Phase phase_ = Phase::Idle;
    DeviceIdentity identity_;
    ArchiveOutcome outcome_;
    bool hasOutcome_ = false;
    // This read has got past its identification: the transfer's rows and
    // file are its own.
    bool transferStarted_ = false;
    std::chrono::steady_clock::time_point start_{}, end_{}, waitSince_{};
    bool awaiting_ = false;
    std::int32_t askedAgain_ = 0; // this read's repeats of garbled answers
};

// Runs an archive session's answers through a line driver: the session's
// frames and repeats as the driver reports them. For owners whose
// conversation is nothing but the session (the command line, the batch).
class SessionConversation : public LineConversation {
public:
    explicit SessionConversation(ArchiveSession& session) : session_(session) {}
    void LineFrameEnded(const LineFrame& frame) override { session_.TakeFrame(frame); }
    void LineAskedAgain() override { session_.AskedAgain(); }

private:
    ArchiveSession& session_;
};
