// The console's archive buttons: a read of the archive session started with
// the meter in the address edit, the identification polling until the
// receive loop has captured the meter's values, the session's reports shown
// in the window's lines, fields and messages, its time-out and its progress.
#include "base/Cp1251.h"
#include "console/ConsoleLogic.h"
#include "serial/LineDriver.h"

#include <algorithm>
#include <cmath>

namespace {

// What the line is held for while a read runs.
std::string ReadActivity(MeterArchive archive) {
    return archive == MeterArchive::Hour ? "чтение часового архива" : "чтение суточного архива";
}

} // namespace

ConsoleLogic::~ConsoleLogic() {
    ReleaseLine(this);
}

void ConsoleLogic::Button3Click() {
    if (run_ != ArchiveRun::Idle && Session.Job().Archive == MeterArchive::Day)
        StopArchiveRead();
    else if (!LineRefused())
        StartArchiveRead(MeterArchive::Day);
}

void ConsoleLogic::Button4Click() {
    if (run_ != ArchiveRun::Idle && Session.Job().Archive == MeterArchive::Hour)
        StopArchiveRead();
    else if (!LineRefused())
        StartArchiveRead(MeterArchive::Hour);
}

bool ConsoleLogic::LineRefused(bool whileWatched) {
    // While a read runs the console holds the line itself: a second read or
    // a request would take its answers.
    if (run_ == ArchiveRun::Idle && !LineHeldByOther(this)) return false;
    // The packet monitor only watches: the console's own request may go
    // out (its answer is shown there); a read would never see its answers.
    if (run_ == ArchiveRun::Idle && !LineBusyFor(this) && whileWatched) return false;
    screen_.ShowNotice(LineBusyText());
    return true;
}

void ConsoleLogic::StopArchiveRead(bool quiet) {
    if (run_ == ArchiveRun::Idle) return;
    quietStop_ = quiet;
    stopping_ = true;
    screen_.ShowNotice("Чтение останавливается: ждём ответа на последний запрос.");
    // Nothing on the line is awaited: the read ends at once.
    if (!WaitAnswer || !Session.Awaiting()) CheckRun();
}

void ConsoleLogic::StartArchiveRead(MeterArchive archive) {
    StopPolling();
    screen_.SetRowNumber("");
    // A read under way ends here, also when the address turns out unreadable.
    Session.Abandon();
    EndRun();
    HourArhiv = archive == MeterArchive::Hour ? 1 : 0;
    TypeNum = 0;
    // DevVersion keeps its old value; only the flags say what is fresh.
    DevConfig1 = 0;
    DevConfig2 = 0;
    HaveVersion = 0;
    HaveConfig2 = 0;
    HaveConfig1 = 0;
    // The identification's answer completes no archive step.
    ManualRequest = 1;
    const auto address = static_cast<std::uint8_t>(IntOf(screen_.DeviceAddressText()));
    ClaimLine(this, ReadActivity(archive));
    stopping_ = false;
    quietStop_ = false;
    manualAwaiting_ = false;
    screen_.ShowNotice("");
    screen_.OfferArchive("");
    screen_.ShowArchiveRun(true, archive);
    Session.Start({address, archive, DefaultArchiveFile(archive)});
    CntByteInLine = 0;
    ArmReceive(IdentRegister);
    SetIdentificationPoll(true);
    run_ = ArchiveRun::Identifying;
    ShowProgress(true);
}

void ConsoleLogic::TimerQueryConfTimer() {
    // The identification goes on from its checked answer at once
    // (IdentificationAnswered); the timer is only its upper bound, and a
    // tick finds nothing to do unless the read has stopped meanwhile.
    if (run_ != ArchiveRun::Identifying) SetIdentificationPoll(false);
}

void ConsoleLogic::IdentificationAnswered(const LineFrame& frame) {
    const auto count = static_cast<std::int32_t>(frame.Size) - 5;
    // Too short to carry the meter's values: the read waits for its time-out.
    if (count < 2 * IdentRegisterCount) return;
    SetIdentificationPoll(false);
    if (stopping_) {
        Session.Stop(ArchiveStopReason::UserStopped);
        return;
    }
    run_ = ArchiveRun::Reading;
    ManualRequest = 0;
    AnswerReady = false;
    AnswerByteCount = 0;
    AnswerPos = 0;
    ValueByteCnt = 0;
    Session.AnswerArrived(frame.Bytes + 3, count);
}

void ConsoleLogic::ArchiveFrame(const LineFrame& frame) {
    if (frame.AskedAgain) {
        ProgressLine("ответ искажён (контрольная сумма не совпала), запрос повторяется");
        return;
    }
    if (frame.Good() && frame.Refusal) return StopRun(ArchiveStopReason::Refused, frame.Bytes[2]);
    if (!frame.Good()) return StopRun(ArchiveStopReason::Garbled, frame.Garbled);
    if (run_ == ArchiveRun::Identifying) return IdentificationAnswered(frame);
    TakeArchiveAnswer(frame.Bytes + 3, static_cast<std::int32_t>(frame.Size) - 5);
}

void ConsoleLogic::TakeArchiveAnswer(const std::uint8_t* data, std::int32_t count) {
    AnswerReady = false;
    if (!Session.StepDue()) return;
    if (stopping_) {
        // The awaited answer is in: the line is quiet, the read ends here.
        Session.Stop(ArchiveStopReason::UserStopped);
        return;
    }
    AnswerByteCount = 0;
    AnswerPos = 0;
    ValueByteCnt = 0;
    Session.AnswerArrived(data, count);
}

void ConsoleLogic::SendArchiveRequest(const RequestBlock& block) {
    WaitAnswer = true;
    ShowRequestLine(block.data(), static_cast<std::int32_t>(block.size()));
    Send(block.data(), static_cast<std::int32_t>(block.size()), {.Function = block[2]});
    awaitedFunction_ = block[2];
}

// What the session reports.

void ConsoleLogic::Identified(const DeviceIdentity& identity) {
    screen_.ShowVersion(std::to_string(identity.Version));
    screen_.ShowConfig1(std::to_string(identity.Config1));
    screen_.ShowConfig2(std::to_string(identity.Config2));
    TypeNum = identity.TypeNum;
    screen_.ShowDeviceType(std::to_string(TypeNum));
    if (HourArhiv == 1) screen_.SetRowNumber("");
}

void ConsoleLogic::DecodeFromStartRegister() {
    ValueAddr = IntOf(screen_.StartRegisterText());
}

void ConsoleLogic::StepLine(const std::string& text) {
    ProgressLine(text);
}

void ConsoleLogic::RowLength(std::int32_t length) {
    screen_.SetRowLength(std::to_string(length));
}

void ConsoleLogic::RowRead(std::int32_t rows) {
    screen_.SetRowNumber(std::to_string(rows));
    ShowProgress(false);
}

void ConsoleLogic::Ended(const ArchiveOutcome& outcome) {
    const MeterArchive archive = Session.Job().Archive;
    const bool quiet = quietStop_;
    // Nothing is awaited any more; the line is free again.
    WaitAnswer = false;
    line_.AwaitNothing();
    if (identificationPoll_) SetIdentificationPoll(false);
    EndRun();
    if (outcome.kind == ArchiveOutcome::Kind::Finished) {
        ProgressLine("архив закончен!!!!!!!!!!!!!!!!!");
        // Where to find it: the folder depends on the installation.
        ProgressLine("Архив записан в файл " + outcome.file);
        if (const ArchiveProgress p = Session.Progress(); p.AskedAgain > 0)
            ProgressLine("искажённых ответов запрошено повторно: " + std::to_string(p.AskedAgain));
        screen_.OfferArchive(outcome.file);
        return;
    }
    const ArchiveMessage message = OutcomeMessage(outcome, archive);
    const std::string line = StopLine(outcome);
    if (!line.empty()) ProgressLine(line);
    screen_.ShowNotice(message.text);
    // The user's own stop is no failure: the notice and the line say it.
    const bool userStop =
        outcome.kind == ArchiveOutcome::Kind::Stopped && outcome.reason == ArchiveStopReason::UserStopped;
    if (!quiet && !userStop) ShowMessage(message.text, message.caption);
}

void ConsoleLogic::ProgressLine(const std::string& text) {
    if (log_.IsOpen()) {
        EndLogLine(); // a dump line under way ends here, as in the pane
        log_.Write(TimePrefix(wallClock_(), -1) + text);
    }
    if (!screen_.PanesActive()) return;
    // The dump gathered so far goes first, so that the line keeps its place.
    std::string& dump = pending_[static_cast<int>(ConsolePane::HexDump)];
    if (!dump.empty()) {
        screen_.AppendToPane(ConsolePane::HexDump, dump);
        dump.clear();
    }
    screen_.AddProgressLine(Utf8ToCp1251(text));
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

void ConsoleLogic::CheckRun() {
    if (run_ == ArchiveRun::Idle) return;
    if (!Session.Active()) {
        // Ended without a report (the session was abandoned).
        EndRun();
        return;
    }
    if (stopping_ && !WaitAnswer) {
        Session.Stop(ArchiveStopReason::UserStopped);
        return;
    }
    // A port whose device went away (the far end hung up, the adapter was
    // pulled) answers nothing more: the read ends now, not at its time-out.
    if (PortGone()) {
        Session.Stop(stopping_ ? ArchiveStopReason::UserStopped : ArchiveStopReason::PortGone);
        return;
    }
    // The identification's answer is in and waits for its poll.
    if (run_ == ArchiveRun::Identifying && !WaitAnswer && HaveVersion && HaveConfig1 && HaveConfig2) return;
    // Every wait has its time-out, the identification's too, also when its
    // answer went to another reader or gave no values.
    if (Session.AnswerOverdue()) {
        Session.Stop(stopping_ ? ArchiveStopReason::UserStopped : ArchiveStopReason::MeterSilent);
        return;
    }
    ShowProgress(false);
}

bool ConsoleLogic::PortGone() const {
    Rs232Port* port = Port();
    // Not open: its opening failed or its device went away. An open port is
    // asked whether its line has hung up; a stand-in answers for itself.
    return !port || port->NotOpen() || port->HungUp();
}

void ConsoleLogic::EndRun() {
    if (run_ == ArchiveRun::Idle) return;
    run_ = ArchiveRun::Idle;
    stopping_ = false;
    quietStop_ = false;
    ReleaseLine(this);
    screen_.ShowArchiveRun(false, Session.Job().Archive);
    ShowProgress(true);
}

void ConsoleLogic::StopRun(ArchiveStopReason reason, int code) {
    if (stopping_) reason = ArchiveStopReason::UserStopped;
    if (Session.Active()) {
        Session.Stop(reason, code);
        return;
    }
    WaitAnswer = false;
    if (identificationPoll_) SetIdentificationPoll(false);
    EndRun();
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
    const ArchiveProgress p = Session.Progress();
    const std::string rate = Decimal(p.RowsPerSecond, DecimalSeparator) + " стр./с";
    if (final)
        return std::to_string(p.Rows) + " стр. за " + DurationText(p.Seconds, DecimalSeparator) + " (" +
               rate + ")" + AskedAgainText(p);
    return std::to_string(p.Rows) + " стр., " + rate + ", " + DurationText(p.Seconds, DecimalSeparator) +
           AskedAgainText(p);
}
