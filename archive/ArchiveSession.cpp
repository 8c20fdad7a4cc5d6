// One archive read: identification, transfer, time-out, progress, outcome.
#include "archive/ArchiveSession.h"

#include "archive/ArchiveRequests.h"
#include "base/AnswerFrame.h"
#include "base/Paths.h"
#include "base/TextFile.h"

#include <algorithm>

std::int32_t DeviceTypeOf(std::int16_t version, std::uint16_t config1, std::int32_t config2,
                          std::int32_t previous) {
    const auto c2 = static_cast<std::uint32_t>(config2);
    const auto versionHigh = static_cast<std::uint8_t>(static_cast<std::uint16_t>(version) >> 8);
    if (config1 & 0x0008) {
        if (!(config1 & 0x0400)) return 0;
        if (c2 & 0x01) return 8;
        if (c2 & 0x02) {
            const std::uint32_t masked = c2 & 0xDF;
            if (versionHigh == 0x61) return 7;
            if (masked == 0x02) return 4;
            if (masked == 0x0A || masked == 0x1A) return 10;
            return previous; // any other pattern leaves the type as it was
        }
        if (c2 & 0x04) return 9;
        return 0;
    }
    if (config1 & 0x0100) return 0;
    if (config1 & 0x0200) return 6;
    return 5;
}

std::string PartialFileOf(const std::string& file) {
    const std::size_t slash = file.find_last_of('/');
    const std::size_t dot = file.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return file + ".partial";
    return file.substr(0, dot) + ".partial" + file.substr(dot);
}

std::string DefaultArchiveFile(MeterArchive archive) {
    const std::string dir = ArchiveDir();
    MakeFolder(dir); // an installed copy's folder may not exist yet
    return dir + (archive == MeterArchive::Hour ? "hour.txt" : "day.txt");
}

namespace {

const char* const LinkErrorCaption = "ОШИБКА СВЯЗИ";
const char* const WriteErrorCaption = "ОШИБКА ЗАПИСИ";

// Why a read stopped, as the user reads it, and what to do next.
struct StopWords {
    std::string why, advice;
};
StopWords WordsOf(const ArchiveOutcome& o) {
    switch (o.reason) {
    case ArchiveStopReason::MeterSilent:
        return {"прибор не отвечает", "Проверьте связь с прибором и прочтите архив заново."};
    case ArchiveStopReason::Refused:
        return {"прибор ответил ошибкой " + std::to_string(o.code), "Прочтите архив заново."};
    case ArchiveStopReason::PortGone:
        return {"порт отключён", "Проверьте порт в настройках и прочтите архив заново."};
    case ArchiveStopReason::UserStopped:
        return {"нажата кнопка «Стоп»", ""};
    case ArchiveStopReason::Garbled:
        // A write is asked once only: its one garbled answer ends the read.
        return {o.code > 1 ? "ответы приходят искажёнными (контрольная сумма не совпала " +
                                 std::to_string(o.code) + " раза подряд)"
                           : std::string("ответ пришёл искажённым (контрольная сумма не совпала)"),
                "Проверьте согласующий резистор на концах линии, экран кабеля, скорость линии и нет ли на "
                "линии второго мастера, затем прочтите архив заново."};
    case ArchiveStopReason::RowTooLong:
    case ArchiveStopReason::TemplateTooWide:
        break;
    }
    return {};
}

} // namespace

std::string StopLine(const ArchiveOutcome& outcome) {
    if (outcome.kind != ArchiveOutcome::Kind::Stopped) return {};
    const StopWords words = WordsOf(outcome);
    if (words.why.empty()) return {};
    return "чтение остановлено: " + words.why +
           (outcome.partialFile.empty() ? "" : "; прочитанные строки — в файле " + outcome.partialFile);
}

namespace {

// Where the rows of a read that stopped are, and that the file asked for
// has kept its contents.
std::string PartialSentence(const ArchiveOutcome& o) {
    if (o.partialFile.empty()) return {};
    return " Прочитанные строки сохранены в файле " + o.partialFile + ", файл " + o.file + " не изменён.";
}

} // namespace

ArchiveMessage OutcomeMessage(const ArchiveOutcome& o, MeterArchive archive) {
    switch (o.kind) {
    case ArchiveOutcome::Kind::Finished:
        return {};
    case ArchiveOutcome::Kind::FileError:
        switch (o.fileFault) {
        case ArchiveFault::CannotCreate:
            return {"Невозможно создать Файл с именем " + o.file + " !", WriteErrorCaption};
        case ArchiveFault::CannotOpen:
            return {"Невозможно открыть Файл с именем " + o.file + " !", WriteErrorCaption};
        default:
            return {"Ошибка записи в Файл с именем " + o.file + " !", WriteErrorCaption};
        }
    case ArchiveOutcome::Kind::Stopped:
        break;
    }
    if (o.reason == ArchiveStopReason::RowTooLong)
        return {"Строка архива длиной " + std::to_string(o.code) + " байт не помещается в буфер (" +
                    std::to_string(RowAreaSize) + " байт). Чтение архива остановлено." + PartialSentence(o),
                WriteErrorCaption};
    if (o.reason == ArchiveStopReason::TemplateTooWide)
        return {"Шаблон архива содержит больше " + std::to_string(MaxShablonColumns) +
                    " столбцов. Чтение архива остановлено." + PartialSentence(o),
                WriteErrorCaption};
    const StopWords words = WordsOf(o);
    const std::string last = o.rows > 0 ? std::to_string(o.rows) : "нет";
    return {std::string("Чтение ") + (archive == MeterArchive::Hour ? "часового" : "суточного") +
                " архива остановлено: " + words.why + ". Последняя записанная строка: " + last + "." +
                (words.advice.empty() ? "" : " " + words.advice) + PartialSentence(o),
            LinkErrorCaption};
}

ArchiveSession::ArchiveSession(ArchiveSessionObserver& observer, RequestSender sender, char decimalSeparator,
                               SteadyClock clock)
    : observer_(observer), sender_(std::move(sender)), clock_(std::move(clock)),
      transfer_(*this, decimalSeparator) {}

std::chrono::steady_clock::time_point ArchiveSession::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void ArchiveSession::Start(ArchiveJob job) {
    Abandon();
    job_ = std::move(job);
    identity_ = {};
    outcome_ = {};
    hasOutcome_ = false;
    transferStarted_ = false;
    start_ = Now();
    askedAgain_ = 0;
    phase_ = Phase::Identifying;
    Send(IdentRequest(job_.Address));
}

void ArchiveSession::Abandon() {
    phase_ = Phase::Idle;
    awaiting_ = false;
    transfer_.Stop();
}

void ArchiveSession::Send(const RequestBlock& block) {
    awaiting_ = true;
    if (sender_) sender_(block);
    // The time-out counts from the end of the exchange with the gateway.
    waitSince_ = Now();
}

void ArchiveSession::Identified(std::int16_t version, std::int16_t config1, std::int32_t config2) {
    if (phase_ != Phase::Identifying) return;
    awaiting_ = false;
    identity_ = {version, config1, config2,
                 DeviceTypeOf(version, static_cast<std::uint16_t>(config1), config2, 0)};
    phase_ = Phase::Reading;
    transferStarted_ = true;
    transfer_.Restart(job_.Address, job_.Archive == MeterArchive::Hour, PartialFileOf(job_.File));
    observer_.Identified(identity_);
    if (phase_ == Phase::Reading) transfer_.TakeStep(nullptr, 0);
}

bool ArchiveSession::StepDue() const {
    return phase_ == Phase::Reading && transfer_.StepDue();
}

void ArchiveSession::AnswerArrived(const std::uint8_t* data, std::int32_t count) {
    if (phase_ == Phase::Identifying) {
        awaiting_ = false;
        // Version, configuration 1 and configuration 2, high bytes first.
        if (count < 2 * IdentRegisterCount) return;
        auto word = [&](int i) { return static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]); };
        Identified(static_cast<std::int16_t>(word(0)), static_cast<std::int16_t>(word(2)),
                   static_cast<std::int32_t>(static_cast<std::uint32_t>(word(4)) << 16 | word(6)));
        return;
    }
    if (!StepDue()) return;
    awaiting_ = false;
    transfer_.TakeStep(data, count);
}

void ArchiveSession::Refused(std::uint8_t code) {
    if (Active()) Stop(ArchiveStopReason::Refused, code);
}

void ArchiveSession::TakeFrame(const LineFrame& frame) {
    if (!frame.Awaited || !awaiting_ || !Active()) return;
    if (frame.Good() && frame.Refusal) return Refused(frame.Bytes[2]);
    if (frame.Good()) return AnswerArrived(frame.Bytes + 3, static_cast<std::int32_t>(frame.Size) - 5);
    // Garbled: the driver asks again, or the read ends here.
    if (!frame.AskedAgain) Stop(ArchiveStopReason::Garbled, frame.Garbled);
}

void ArchiveSession::AskedAgain() {
    if (!Active()) return;
    ++askedAgain_;
    awaiting_ = true;
    waitSince_ = Now();
}

bool ArchiveSession::AnswerOverdue() const {
    return Active() && awaiting_ &&
           Now() - waitSince_ > std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs);
}

bool ArchiveSession::CheckAnswerTime(bool portGone) {
    if (!AnswerOverdue()) return false;
    Stop(portGone ? ArchiveStopReason::PortGone : ArchiveStopReason::MeterSilent);
    return true;
}

void ArchiveSession::Stop(ArchiveStopReason reason, int code) {
    if (!Active()) return;
    ArchiveOutcome o;
    o.kind = ArchiveOutcome::Kind::Stopped;
    o.reason = reason;
    o.code = code;
    // Stopped while identifying: this read has written nothing yet (the
    // transfer still holds the previous read's rows and file).
    o.rows = transferStarted_ ? transfer_.RowsWritten : 0;
    o.file = job_.File;
    if (transferStarted_ && transfer_.FileStarted) o.partialFile = transfer_.ArhivFileName;
    transfer_.Stop();
    End(o);
}

void ArchiveSession::End(const ArchiveOutcome& outcome) {
    phase_ = Phase::Idle;
    awaiting_ = false;
    end_ = Now();
    outcome_ = outcome;
    hasOutcome_ = true;
    observer_.Ended(outcome_);
}

ArchiveProgress ArchiveSession::Progress() const {
    ArchiveProgress p;
    // Until its transfer starts a read has no rows of its own.
    p.Rows = transferStarted_ ? transfer_.ArhivRowCount : 0;
    p.Seconds = std::max(0.0, std::chrono::duration<double>((Active() ? Now() : end_) - start_).count());
    p.RowsPerSecond = p.Seconds > 0 ? p.Rows / p.Seconds : 0.0;
    p.AskedAgain = askedAgain_;
    return p;
}

std::string AskedAgainText(const ArchiveProgress& progress) {
    if (progress.AskedAgain <= 0) return {};
    return ", повторов " + std::to_string(progress.AskedAgain);
}

// What the transfer asks of its session.

void ArchiveSession::DecodeFromStartRegister() {
    observer_.DecodeFromStartRegister();
}

void ArchiveSession::SendRequest(const RequestBlock& block) {
    Send(block);
}

void ArchiveSession::ProgressLine(const std::string& text) {
    observer_.StepLine(text);
}

void ArchiveSession::ShowRowNumber(std::int32_t number) {
    observer_.RowRead(number);
}

void ArchiveSession::ShowRowLength(std::int32_t length) {
    observer_.RowLength(length);
}

void ArchiveSession::Finished() {
    ArchiveOutcome o;
    o.kind = ArchiveOutcome::Kind::Finished;
    o.rows = transfer_.RowsWritten;
    o.file = job_.File;
    int error = 0;
    if (!ReplaceFile(transfer_.ArhivFileName, job_.File, error)) {
        // The archive is complete in its incomplete file, but could not
        // take the place of the file asked for.
        o.kind = ArchiveOutcome::Kind::FileError;
        o.fileFault = ArchiveFault::CannotWrite;
        o.systemError = error;
        o.partialFile = transfer_.ArhivFileName;
    }
    End(o);
}

void ArchiveSession::Failed(ArchiveFault fault, int detail) {
    ArchiveOutcome o;
    o.rows = transfer_.RowsWritten;
    o.file = job_.File;
    if (transfer_.FileStarted) o.partialFile = transfer_.ArhivFileName;
    switch (fault) {
    case ArchiveFault::RowTooLong:
    case ArchiveFault::TemplateTooWide:
        o.kind = ArchiveOutcome::Kind::Stopped;
        o.reason = fault == ArchiveFault::RowTooLong ? ArchiveStopReason::RowTooLong
                                                     : ArchiveStopReason::TemplateTooWide;
        o.code = detail;
        break;
    default:
        o.kind = ArchiveOutcome::Kind::FileError;
        o.fileFault = fault;
        o.systemError = detail;
        break;
    }
    End(o);
}
