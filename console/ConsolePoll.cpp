// The console's polling: the switch's start and stop, the request it
// repeats, its timer, its reports and its CSV log.
#include "base/Cp1251.h"
#include "base/Paths.h"
#include "console/ConsoleLogic.h"
#include "serial/LineDriver.h"

#include <cerrno>
#include <cstring>

bool ConsoleLogic::StartPolling(int intervalMs) {
    if (LineTakenWhole()) {
        ShowMessage(MonitorTakesAnswersText, LineBusyCaption);
        return false;
    }
    if (run_ != ArchiveRun::Idle || LineHeldByOther(this)) {
        ShowMessage(LineBusyText(), LineBusyCaption);
        return false;
    }
    // The request is checked before anything changes.
    IntOf(screen_.DeviceAddressText());
    IntOf(screen_.FunctionText());
    const std::int32_t start = IntOf(screen_.StartRegisterText());
    ClaimLine(this, PollActivity);
    TickScope scope(*this);
    Poller.Start(intervalMs, start);
    CheckPoll();
    return true;
}

void ConsoleLogic::StopPolling() {
    if (!Poller.Running()) return;
    Poller.Stop();
    ReleaseLine(this);
}

void ConsoleLogic::SendPollRequest() {
    pollSend_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{pollSend_};
    Button2Click();
    // Its exception answer is recognised as the archive's requests' are.
    awaitedFunction_ = static_cast<std::uint8_t>(IntOf(screen_.FunctionText()));
}

void ConsoleLogic::PollTimer() {
    TickScope scope(*this);
    CheckPoll();
}

void ConsoleLogic::CheckPoll() {
    if (!Poller.Running()) return;
    Rs232Port* port = Port();
    const int next = Poller.Tick(!port || port->HungUp());
    if (next >= 0) screen_.WakePollAfter(next);
}

void ConsoleLogic::Sampled(const PollSample& sample) {
    screen_.ShowPollSample(sample, Poller.Counts());
    if (PollLog.IsOpen() && !PollLog.Append(sample)) {
        const int error = errno;
        screen_.PollLogEnded();
        ShowMessage("Не удалось записать файл " + PollLog.Path() + ": " + std::strerror(error) +
                        ". Запись значений остановлена, опрос продолжается.",
                    "ОШИБКА ЗАПИСИ");
    }
}

void ConsoleLogic::Missed(const PollCounts& counts) {
    screen_.ShowPollCounts(counts);
}

void ConsoleLogic::PollStopped(PollStopReason reason, int code) {
    ReleaseLine(this);
    WaitAnswer = false;
    exceptionAnswer_ = false;
    screen_.ShowPollCounts(Poller.Counts());
    screen_.PollingEnded();
    const PollMessage message = PollStopMessage(reason, code);
    ShowMessage(message.text, message.caption);
}

bool ConsoleLogic::StartPollLog(const std::string& path) {
    if (PollLog.Open(path)) return true;
    ShowMessage("Невозможно создать Файл с именем " + path + " !", "ОШИБКА ЗАПИСИ");
    return false;
}
