// Dial-up and hang-up through a Hayes modem, as a conversation of the line.
#include "serial/Dialer.h"

#include "base/Phone.h"

#include <algorithm>
#include <cctype>

namespace {

// A modem's line is short; anything longer is noise, cut rather than kept.
constexpr std::size_t MaxModemLine = 256;

std::string Upper(const std::string& text) {
    std::string out;
    for (char c : text)
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return out;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

DialSettings DialSettingsFrom(const TAppOptions& options, const std::string& number) {
    DialSettings s;
    s.InitString = options.ModemInitString;
    while (!s.InitString.empty() && (s.InitString.back() == '\n' || s.InitString.back() == '\r'))
        s.InitString.pop_back();
    s.Tone = options.DialMode == 2;
    s.Number = number;
    s.ConnectWaitMs = options.ConnectWaitSeconds * 1000;
    return s;
}

DialTimes DialTimesNow() {
    const TimingConstants& t = Timing();
    return {t.ModemAnswerMs, t.ModemGuardMs, t.DtrDropMs, t.ModemSettleMs, t.ModemAbortMs};
}

ModemResult ClassifyModemLine(const std::string& line) {
    const std::string u = Upper(Trimmed(line));
    if (u == "OK" || u == "0") return ModemResult::Ok;
    if (u == "CONNECT" || u.rfind("CONNECT ", 0) == 0 || u == "1") return ModemResult::Connect;
    if (u == "BUSY" || u == "7") return ModemResult::Busy;
    if (u == "NO ANSWER" || u == "8") return ModemResult::NoAnswer;
    if (u == "NO CARRIER" || u == "3") return ModemResult::NoCarrier;
    if (u == "NO DIALTONE" || u == "NO DIAL TONE" || u == "6") return ModemResult::NoDialtone;
    if (u == "ERROR" || u == "4") return ModemResult::Error;
    return ModemResult::None;
}

std::vector<std::string> ModemLineSplitter::Take(const std::uint8_t* bytes, std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c != '\r' && c != '\n') {
            if (partial_.size() < MaxModemLine) partial_.push_back(c);
            continue;
        }
        std::string line = Trimmed(partial_);
        partial_.clear();
        // A modem echoes what it is sent (ATE1): the command is no answer.
        if (line.empty() || Upper(line.substr(0, 2)) == "AT") continue;
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string DialOutcomeText(DialOutcome outcome, int connectWaitSeconds, const std::string& connection) {
    switch (outcome) {
    case DialOutcome::Busy:
        return "Модем: занято (BUSY). Наберите номер позже.";
    case DialOutcome::NoAnswer:
        return "Модем: никто не ответил (NO ANSWER). Проверьте номер и что модем шлюза включён.";
    case DialOutcome::NoCarrier:
        return "Модем: связь не установлена (NO CARRIER). Проверьте номер и наберите ещё раз.";
    case DialOutcome::NoDialtone:
        return "Модем: нет гудка в линии (NO DIALTONE). Проверьте телефонный кабель модема.";
    case DialOutcome::Error:
        return "Модем отверг команду (ERROR). Проверьте строку инициализации и номер в настройках.";
    case DialOutcome::Silent:
        return "Модем не сообщил о соединении за " + std::to_string(connectWaitSeconds) +
               " с. Проверьте номер или увеличьте время ожидания в настройках.";
    case DialOutcome::NoModem:
        return "Модем не отвечает. Проверьте, что он включён и подключён к порту, или положите трубку и "
               "наберите снова.";
    case DialOutcome::NoNumber:
        return "Номер телефона не задан. Укажите его в настройках на странице «Модем».";
    case DialOutcome::PortFailed:
        return "Порт не открыт: набрать номер нельзя. Проверьте порт в настройках.";
    case DialOutcome::LineBusy:
        return LineBusyText();
    case DialOutcome::Online:
        return "Модем уже на связи (" + connection + "). Чтобы набрать заново, положите трубку.";
    case DialOutcome::Connected:
    case DialOutcome::Cancelled:
        break;
    }
    return {};
}

std::string HangUpOutcomeText(HangUpOutcome outcome) {
    switch (outcome) {
    case HangUpOutcome::NoAnswer:
        return "Модем не подтвердил отбой. Выключите и включите модем.";
    case HangUpOutcome::PortFailed:
        return "Порт не открыт: положить трубку нельзя. Выключите модем, чтобы разорвать связь.";
    case HangUpOutcome::LineBusy:
        return LineBusyText();
    case HangUpOutcome::Done:
        break;
    }
    return {};
}

ModemDialer::ModemDialer(PortAccessor port, DialTimes times, SteadyClock clock)
    : port_(port), times_(times), clock_(std::move(clock)),
      driver_(
          std::move(port), [](const std::uint8_t*, std::int32_t) { return false; }, clock_) {
    driver_.Attach(this);
}

ModemDialer::~ModemDialer() {
    ReleaseLine(this);
}

ModemDialer::TimePoint ModemDialer::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void ModemDialer::Enter(Step step, int waitMs) {
    step_ = step;
    due_ = Now() + std::chrono::milliseconds(std::max(waitMs, 0));
}

bool ModemDialer::Send(const std::string& text) {
    Rs232Port* port = port_ ? port_() : nullptr;
    if (!port || !port->IsOpen()) return false;
    std::int32_t written = 0;
    port->WriteBlock(text.data(), static_cast<std::uint32_t>(text.size()), written);
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), '\r', ' ');
    driver_.Note("модем >> " + shown);
    return port->Ok && written == static_cast<std::int32_t>(text.size());
}

void ModemDialer::Dial(const DialSettings& settings) {
    settings_ = settings;
    connectLine_.clear();
    lines_ = {};
    if (DialString(settings.Number).empty()) return EndDial(DialOutcome::NoNumber);
    if (!ClaimLine(this, DialActivity)) {
        outcome_ = DialOutcome::LineBusy;
        return;
    }
    Rs232Port* port = port_ ? port_() : nullptr;
    if (!port || !port->IsOpen()) return EndDial(DialOutcome::PortFailed);
    if (!port->ModemConnection.empty()) {
        // Commands now would go to the gateway as data.
        connectLine_ = port->ModemConnection;
        outcome_ = DialOutcome::Online;
        return ReleaseLine(this);
    }
    port->SetDtr(true); // a pseudo-terminal has no DTR: nothing to raise
    port->Discard();    // what an earlier call left in the queues is no answer
    if (settings.InitString.empty()) return SendDial();
    if (!Send(settings.InitString + "\r")) return EndDial(DialOutcome::PortFailed);
    Enter(Step::InitWait, times_.AnswerMs);
}

void ModemDialer::SendDial() {
    const std::string command =
        std::string("ATD") + (settings_.Tone ? "T" : "P") + DialString(settings_.Number) + "\r";
    if (!Send(command)) return EndDial(DialOutcome::PortFailed);
    Enter(Step::DialWait, settings_.ConnectWaitMs);
}

void ModemDialer::HangUp() {
    lines_ = {};
    escaped_ = false;
    if (!ClaimLine(this, HangUpActivity)) {
        hangUp_ = HangUpOutcome::LineBusy;
        return;
    }
    Rs232Port* port = port_ ? port_() : nullptr;
    if (!port || !port->IsOpen()) return EndHangUp(HangUpOutcome::PortFailed);
    dtrDropped_ = port->SetDtr(false);
    if (!dtrDropped_) driver_.Note("модем: DTR не сбрасывается (у устройства нет этой линии)");
    Enter(Step::DtrDown, times_.DtrDropMs);
}

void ModemDialer::Cancel() {
    if (step_ == Step::InitWait) return EndDial(DialOutcome::Cancelled);
    if (step_ == Step::DialWait) Abort(DialOutcome::Cancelled);
}

void ModemDialer::Abort(DialOutcome outcome) {
    // Any key interrupts a dialling modem; its answer to that is let go.
    abortedAs_ = outcome;
    if (!Send("\r")) return EndDial(outcome);
    Enter(Step::Aborting, times_.AbortMs);
}

void ModemDialer::EndDial(DialOutcome outcome) {
    outcome_ = outcome;
    step_ = Step::Idle;
    if (Rs232Port* port = port_ ? port_() : nullptr)
        port->ModemConnection = outcome == DialOutcome::Connected ? connectLine_ : std::string();
    driver_.Note("модем: набор окончен");
    ReleaseLine(this);
}

void ModemDialer::EndHangUp(HangUpOutcome outcome) {
    hangUp_ = outcome;
    step_ = Step::Idle;
    if (Rs232Port* port = port_ ? port_() : nullptr) port->ModemConnection.clear();
    driver_.Note("модем: отбой окончен");
    ReleaseLine(this);
}

void ModemDialer::LineBytes(const std::uint8_t* bytes, std::size_t count) {
    for (const std::string& line : lines_.Take(bytes, count)) {
        driver_.Note("модем << " + line);
        Result(ClassifyModemLine(line), line);
        if (step_ == Step::Idle) break; // what follows the end is not ours
    }
}

void ModemDialer::Result(ModemResult result, const std::string& line) {
    switch (step_) {
    case Step::InitWait:
        if (result == ModemResult::Ok) return SendDial();
        if (result == ModemResult::Error) return EndDial(DialOutcome::Error);
        return;
    case Step::DialWait:
        switch (result) {
        case ModemResult::Connect:
            connectLine_ = line;
            return Enter(Step::Settle, times_.SettleMs);
        case ModemResult::Busy:
            return EndDial(DialOutcome::Busy);
        case ModemResult::NoAnswer:
            return EndDial(DialOutcome::NoAnswer);
        case ModemResult::NoCarrier:
            return EndDial(DialOutcome::NoCarrier);
        case ModemResult::NoDialtone:
            return EndDial(DialOutcome::NoDialtone);
        case ModemResult::Error:
            return EndDial(DialOutcome::Error);
        default:
            return; // OK of a modem that confirms the command first
        }
    case Step::Aborting:
        if (result != ModemResult::None) EndDial(abortedAs_);
        return;
    case Step::EscapeWait:
        if (result == ModemResult::Ok) {
            escaped_ = true;
            due_ = Now(); // ATH0 at once
        }
        return;
    case Step::HangWait:
        if (result == ModemResult::Ok || result == ModemResult::NoCarrier) EndHangUp(HangUpOutcome::Done);
        return;
    default:
        return; // settling, DTR down, guard: nothing is awaited
    }
}

void ModemDialer::Tick(bool portGone) {
    if (step_ == Step::Idle) return;
    if (portGone) {
        const bool hangingUp = step_ >= Step::DtrDown;
        return hangingUp ? EndHangUp(HangUpOutcome::PortFailed) : EndDial(DialOutcome::PortFailed);
    }
    if (Now() >= due_) Expired();
}

void ModemDialer::Expired() {
    switch (step_) {
    case Step::InitWait:
        return EndDial(DialOutcome::NoModem);
    case Step::DialWait:
        return Abort(DialOutcome::Silent);
    case Step::Settle:
        return EndDial(DialOutcome::Connected);
    case Step::Aborting:
        return EndDial(abortedAs_);
    case Step::DtrDown: {
        Rs232Port* port = port_ ? port_() : nullptr;
        if (!port || !port->IsOpen()) return EndHangUp(HangUpOutcome::PortFailed);
        port->SetDtr(true);
        // A modem that dropped its carrier with DTR is on hook; one that
        // cannot tell, or ignores DTR, is asked in command mode.
        if (dtrDropped_ && port->CarrierDetect() == false) return EndHangUp(HangUpOutcome::Done);
        return Enter(Step::GuardBefore, times_.GuardMs);
    }
    case Step::GuardBefore:
        if (!Send("+++")) return EndHangUp(HangUpOutcome::PortFailed);
        return Enter(Step::EscapeWait, times_.GuardMs + times_.AnswerMs);
    case Step::EscapeWait:
        // Without OK the modem may have been in command mode already: ATH0
        // all the same.
        if (!escaped_) driver_.Note("модем: нет OK на +++");
        if (!Send("ATH0\r")) return EndHangUp(HangUpOutcome::PortFailed);
        return Enter(Step::HangWait, times_.AnswerMs);
    case Step::HangWait:
        return EndHangUp(HangUpOutcome::NoAnswer);
    case Step::Idle:
        return;
    }
}

int ModemDialer::MsUntilDue() const {
    if (step_ == Step::Idle) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due_ - Now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

void RunDialer(ModemDialer& dialer) {
    RunLine(dialer.Driver(),
            {[&dialer] { return dialer.Running(); }, [&dialer](bool portGone) { dialer.Tick(portGone); },
             [&dialer] { return dialer.MsUntilDue(); }});
}
