// What the commands share: the run's streams and how a run ends, the
// messages the core shows, and the serial line opened as the window opens it.
#pragma once
#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "cli/CommandLine.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"
#include "serial/LineDriver.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Every message the core would show in a box, kept in order.
class MessageCollector : public MessagePresenter {
public:
    struct Message {
        std::string text, caption;
    };
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        messages.push_back({text, caption});
    }
    std::vector<Message> messages;
};

struct CliRun {
    std::FILE* out;
    std::FILE* err;
    CliArguments args;
    // OPTIONS.INI as the window reads it, with the arguments' link mode.
    TAppOptions options;
    MessageCollector collector;
    // The decimal separator of numbers in the archive files.
    char decimalSeparator = '.';

    // One line "configurator-cli: text" on err; returns the status.
    int Fail(ExitStatus status, const std::string& text);
    // A line of progress on err.
    void Progress(const std::string& text);
    // The first message the core showed, as "caption: text" (empty: none).
    std::string FirstMessage() const;
};

// Closes the run's port; one that --dial connected hangs up first (a failed
// hang-up is a warning on stderr: the command's own result stands).
struct LineCloser {
    CliRun* run = nullptr;
    bool dialled = false;
    void operator()(Rs232Port* port) const;
};
using LinePort = std::unique_ptr<Rs232Port, LineCloser>;

// The port the arguments (or OPTIONS.INI) name, opened as the window opens
// it, and with --dial connected through the modem. Null after the failure
// has been reported.
LinePort OpenLine(CliRun& run, int& status);

// The absolute form of a UTF-8 file name, as UTF-8 (Windows takes the name
// through its wide-character form, not the ANSI code page).
std::string AbsoluteUtf8(const std::string& name);

// The exchanges with the gateway on `port`, with the run's link settings.
class CliLink : public AdapterLink {
public:
    CliLink(const CliRun& run, Rs232Port* port)
        : AdapterLink([port] { return port; },
                      [&run] {
                          return LinkSettings{run.options.LinkMode, run.options.I2cAddress,
                                              run.options.ZepLanAddress};
                      }) {}
};

// The run's line driver connected: bytes an exchange with the gateway finds
// in its way go to the driver, and with --trace its trace goes to stderr.
void ConnectLine(CliRun& run, LineDriver& driver, AdapterLink& link);

// A scan as it ended.
struct ScanOutcome {
    std::vector<ScanResult> Results;
    ScanEnd End = ScanEnd::Finished;
    int LastAddress = 0;
};
// The scan of `addresses` on an open line, its wait from the arguments or
// the gateway's RS-485 speed; nothing when the gateway does not answer (the
// failure reported, `status` set).
std::optional<ScanOutcome> ScanOnLine(CliRun& run, Rs232Port* line, CliLink& link,
                                      const std::vector<int>& addresses, int& status);
// A scan that ended on a lost port or gateway: reported, and its status; else 0.
int ScanFailure(CliRun& run, const ScanOutcome& scan);

// Called as each read of a batch has ended (after its line on stderr).
using BatchReadEnded = std::function<void(const std::vector<BatchRow>& rows, std::size_t index)>;
// The batch's reads on an open line, each read's end a line on stderr.
std::vector<BatchRow> BatchOnLine(CliRun& run, Rs232Port* line, CliLink& link, std::vector<ArchiveJob> jobs,
                                  const BatchReadEnded& readEnded);

int RunArchive(CliRun& run);
int RunReadSettings(CliRun& run);
int RunWriteSettings(CliRun& run);
int RunCsv(CliRun& run);
int RunScan(CliRun& run);
// day or hour for several meters, one after another.
int RunBatch(CliRun& run);
// One collection pass of a session (Linux).
int RunCollect(CliRun& run);
