// The window operations the console's logic needs, and no others. The
// console window implements them; tests use a fake. Texts are CP1251 bytes,
// except message texts, which are UTF-8 like every ShowMessage text.
#pragma once
#include "archive/ArchiveSession.h"
#include "console/ValuePoller.h"

#include <string>

// The three text panes: every byte received in hexadecimal (with the archive
// progress lines), the same bytes as characters, the decoded register values.
enum class ConsolePane { HexDump, CharDump, Values };

class ConsoleScreen {
public:
    virtual ~ConsoleScreen() = default;

    // The request as the user typed it.
    virtual std::string DeviceAddressText() = 0;
    virtual std::string FunctionText() = 0;
    virtual std::string StartRegisterText() = 0;
    // The register count; for function 16 the text to send.
    virtual std::string RegisterCountText() = 0;
    // Archive progress: the number of rows read, the length of the current row.
    virtual void SetRowNumber(const std::string& text) = 0;
    virtual void SetRowLength(const std::string& text) = 0;
    // How an archive read goes: rows, rate and time so far; at its end the
    // total. A screen without a place for it shows nothing.
    virtual void ShowArchiveProgress(const std::string& text) { (void)text; }
    // Appends text at the end of a pane ("\r\n" ends a line).
    virtual void AppendToPane(ConsolePane pane, const std::string& text) = 0;
    // Adds a progress line of its own to the hexadecimal pane.
    virtual void AddProgressLine(const std::string& text) = 0;
    // Empties all three panes.
    virtual void ClearPanes() = 0;
    // Whether the user lets the panes show anything.
    virtual bool PanesActive() = 0;
    // The receive loop's timer and the identification's polling timer.
    virtual void EnableReceiveTimer(bool enabled) = 0;
    virtual void EnableIdentificationPoll(bool enabled) = 0;
    // The identified device's parameters.
    virtual void ShowDeviceType(const std::string& text) = 0;
    virtual void ShowVersion(const std::string& text) = 0;
    virtual void ShowConfig1(const std::string& text) = 0;
    virtual void ShowConfig2(const std::string& text) = 0;
    // Polling: an answer's values with the counters, the counters after a
    // request left without answer, a poll or its CSV log ended by itself,
    // and when the logic's PollTimer() is due next. A screen without a
    // place for them shows nothing.
    virtual void ShowPollSample(const PollSample& sample, const PollCounts& counts) {
        (void)sample;
        (void)counts;
    }
    virtual void ShowPollCounts(const PollCounts& counts) { (void)counts; }
    virtual void PollingEnded() {}
    virtual void PollLogEnded() {}
    virtual void WakePollAfter(int ms) { (void)ms; }
    // A modal box with an OK button and the information icon (UTF-8 texts).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // The console's line of what just happened (UTF-8): a refused command, a
    // request nobody answered, a refusal explained, how a read ended. Empty
    // clears it.
    virtual void ShowNotice(const std::string& text) { (void)text; }
    // A read of `archive` runs (its button stops it) or has ended.
    virtual void ShowArchiveRun(bool running, MeterArchive archive) {
        (void)running;
        (void)archive;
    }
    // The archive just written completely into `path` may be shown; an empty
    // path withdraws the offer.
    virtual void OfferArchive(const std::string& path) { (void)path; }
};
