// The console's polling: interval, answer time-out, silence, samples.
#include "console/ValuePoller.h"

#include <algorithm>

PollMessage PollStopMessage(PollStopReason reason, int code) {
    const char* const caption = "ОШИБКА СВЯЗИ";
    switch (reason) {
    case PollStopReason::Refused:
        return {"Опрос остановлен: прибор ответил ошибкой " + std::to_string(code) +
                    ". Проверьте запрос и включите опрос заново.",
                caption};
    case PollStopReason::PortGone:
        return {"Опрос остановлен: порт отключён. Проверьте порт в настройках и включите опрос заново.",
                caption};
    case PollStopReason::MeterSilent:
        break;
    }
    return {"Опрос остановлен: прибор не отвечает. Проверьте связь с прибором и включите опрос заново.",
            caption};
}

ValuePoller::ValuePoller(PollObserver& observer, std::function<void()> send, SteadyClock clock,
                         WallClock wall)
    : observer_(observer), send_(std::move(send)), clock_(std::move(clock)), wall_(std::move(wall)) {}

ValuePoller::TimePoint ValuePoller::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void ValuePoller::Start(int intervalMs, std::int32_t startRegister) {
    intervalMs_ = std::max(intervalMs, MinPollIntervalMs);
    startRegister_ = startRegister;
    counts_ = {};
    silent_ = false;
    running_ = true;
    SendNext();
}

void ValuePoller::Stop() {
    running_ = false;
    awaiting_ = false;
}

void ValuePoller::SendNext() {
    awaiting_ = true;
    ++counts_.Sent;
    if (send_) send_();
    // The answer time counts from the end of the exchange with the gateway.
    sentAt_ = Now();
    if (!silent_) {
        silent_ = true;
        silentSince_ = sentAt_;
    }
}

void ValuePoller::Answered(const std::uint8_t* data, std::int32_t count) {
    if (!Awaiting()) return;
    awaiting_ = false;
    silent_ = false;
    ++counts_.Answered;
    PollSample sample;
    sample.WallMs = wall_ ? wall_() : 0;
    sample.AnswerMs = static_cast<std::int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Now() - sentAt_).count());
    sample.Values = RegisterValues(startRegister_, data, count);
    observer_.Sampled(sample);
}

void ValuePoller::Refused(std::uint8_t code) {
    if (Awaiting()) End(PollStopReason::Refused, code);
}

void ValuePoller::End(PollStopReason reason, int code) {
    Stop();
    observer_.PollStopped(reason, code);
}

int ValuePoller::Tick(bool portGone) {
    if (!running_) return -1;
    if (portGone) {
        End(PollStopReason::PortGone, 0);
        return -1;
    }
    const TimePoint now = Now();
    const auto waited = now - sentAt_;
    if (awaiting_) {
        if (waited < std::chrono::milliseconds(Timing().PollAnswerTimeoutMs)) {
            return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                                        std::chrono::milliseconds(Timing().PollAnswerTimeoutMs) - waited)
                                        .count());
        }
        if (now - silentSince_ >= std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs)) {
            End(PollStopReason::MeterSilent, 0);
            return -1;
        }
        awaiting_ = false;
        ++counts_.Missed;
        observer_.Missed(counts_);
        if (!running_) return -1;
    }
    if (waited >= std::chrono::milliseconds(intervalMs_)) {
        SendNext();
        return running_ ? std::min(intervalMs_, Timing().PollAnswerTimeoutMs) : -1;
    }
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(std::chrono::milliseconds(intervalMs_) - waited)
            .count());
}
