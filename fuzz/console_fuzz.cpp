// The console's logic run by an arbitrary program of received bytes, button
// presses, timer ticks and typed texts, with a stand-in screen and sender:
// the receive loop's indices stay inside the receive buffer and the archive
// transfer's inside its row area after every byte, every request block sent
// agrees with its length byte, and a conversion error ends a handler without
// leaving the logic broken. The seeds reach the end of a day archive and of
// an hour archive (FUZZ_TRACE shows it).
//
// Input: operations, each a byte (taken modulo 11) and its arguments:
//   0 n b...  n bytes arrive on the port        6  "Считать часовой архив"
//   1         the receive tick (Timer1)         7 e n t...  edit e (0 start
//   2         the identification poll                register, 1 count, 2
//   3         "Очистка"                              address, 3 function) gets
//   4         "Отправить пакет"                      the n bytes t as its text
//   5         "Считать суточный архив"          8  the panes switched on/off
//   9 n b...  n bytes handed to the receive loop one by one (checked after each)
//   10        the port goes away / comes back
#include "base/Paths.h"
#include "base/StrToInt.h"
#include "console/ConsoleLogic.h"
#include "support/FuzzCheck.h"
#include "support/ScriptedPort.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

enum Op { Arrive, Tick, Poll, Clear, Send, DayArchive, HourArchive, Edit, Panes, Bytes, PortToggle, OpCount };

class Screen : public ConsoleScreen {
public:
    std::string edits[4]; // start register, count, address, function
    bool panesActive = true;
    int messages = 0;

    std::string DeviceAddressText() override { return edits[2]; }
    std::string FunctionText() override { return edits[3]; }
    std::string StartRegisterText() override { return edits[0]; }
    std::string RegisterCountText() override { return edits[1]; }
    void SetRowNumber(const std::string&) override {}
    void SetRowLength(const std::string&) override {}
    void AppendToPane(ConsolePane, const std::string&) override {}
    void AddProgressLine(const std::string&) override {}
    void ClearPanes() override {}
    bool PanesActive() override { return panesActive; }
    void EnableReceiveTimer(bool) override {}
    void EnableIdentificationPoll(bool) override {}
    void ShowDeviceType(const std::string&) override {}
    void ShowVersion(const std::string&) override {}
    void ShowConfig1(const std::string&) override {}
    void ShowConfig2(const std::string&) override {}
    void ShowMessage(const std::string& text, const std::string& caption) override {
        FUZZ_CHECK(!text.empty() && !caption.empty());
        ++messages;
    }
};

void CheckIndices(const ConsoleLogic& c) {
    FUZZ_CHECK(c.CntByteInLine >= 0 && c.CntByteInLine < 16);
    FUZZ_CHECK(c.AnswerByteCount >= 0 && c.AnswerByteCount <= 255);
    FUZZ_CHECK(c.AnswerDataLen >= 0 && c.AnswerDataLen <= RxBufSize - RxReceiveArea - 1);
    FUZZ_CHECK(c.AnswerPos >= 0);
    if (c.WaitAnswer) FUZZ_CHECK(c.AnswerPos <= c.AnswerByteCount + 4);
    FUZZ_CHECK(c.ValueByteCnt >= 0 && c.ValueByteCnt < 4);

    const ArchiveTransfer& a = c.Session.Transfer();
    FUZZ_CHECK(a.ArhivStep >= ArchiveState::Stopped && a.ArhivStep <= ArchiveState::RowDone);
    FUZZ_CHECK(a.RowLen >= 0 && a.RowLen <= RowAreaSize);
    FUZZ_CHECK(a.ArhivLen >= 0 && a.ArhivLen <= 0xFFFF);
    FUZZ_CHECK(a.ArhivOffset >= 0 && a.ArhivOffset <= 0xFFFF + 1); // never past an odd length rounded up
    FUZZ_CHECK(a.ExpectedDataLen >= 0 && a.ExpectedDataLen <= 2 * 125);
    FUZZ_CHECK(a.Shablon.ShablonColumnCount >= 0 && a.Shablon.ShablonColumnCount <= MaxShablonColumns);
}

// The archive files go to a folder of this process's own, in memory where
// there is one, removed at exit. libFuzzer ends a timed run without running
// exit handlers, so each run first removes the folders of runs whose process
// is gone.
std::filesystem::path ownFolder;

void RemoveOwnFolder() {
    std::error_code error;
    std::filesystem::remove_all(ownFolder, error);
}

void UseOwnFolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    const std::string prefix = "console-fuzz-";
    for (const auto& entry : fs::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && !fs::exists("/proc/" + name.substr(prefix.size())))
            fs::remove_all(entry.path(), error);
    }
    ownFolder = base / (prefix + std::to_string(getpid()));
    fs::create_directories(ownFolder, error);
    FUZZ_CHECK(!error);
    std::atexit(RemoveOwnFolder);
    SetExecutableDir(ownFolder.string());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool once = (UseOwnFolder(), true);
    (void)once;
    static ScriptedPort port;
    port.Reset(nullptr);
    bool portPresent = true;
    int sent = 0;

    Screen screen;
    screen.edits[0] = "0";
    screen.edits[1] = "4";
    screen.edits[2] = "1";
    screen.edits[3] = "4";
    ConsoleLogic console(
        screen, [&]() -> Rs232Port* { return portPresent ? &port : nullptr; },
        [&](const std::uint8_t* block, std::int32_t count) {
            // The length byte L is followed by exactly L bytes.
            FUZZ_CHECK(count >= 2 && count <= 256);
            FUZZ_CHECK(block[0] == count - 1);
            ++sent;
            return true;
        },
        ',');

    FuzzInput in(data, size);
    while (!in.Empty()) {
        const int op = in.Byte() % OpCount;
        try {
            switch (op) {
            case Arrive:
                port.Deliver(in.Bytes(in.Byte()));
                break;
            case Tick:
                console.Timer1Timer();
                break;
            case Poll:
                console.TimerQueryConfTimer();
                break;
            case Clear:
                console.Button1Click();
                break;
            case Send:
                console.Button2Click();
                break;
            case DayArchive:
                console.Button3Click();
                break;
            case HourArchive:
                console.Button4Click();
                break;
            case Edit: {
                const int edit = in.Byte() & 3;
                screen.edits[edit] = in.Bytes(in.Byte());
                break;
            }
            case Panes:
                screen.panesActive = !screen.panesActive;
                break;
            case Bytes:
                for (const char b : in.Bytes(in.Byte())) {
                    console.ReceiveByte(static_cast<std::uint8_t>(b));
                    CheckIndices(console);
                }
                break;
            case PortToggle:
                portPresent = !portPresent;
                break;
            }
        } catch (const EConvertError&) {
            // The window shows it and ends the handler; the logic goes on.
        }
        CheckIndices(console);
    }
    if (FuzzTrace())
        std::printf("archive state %d, %d rows, %s archive, device type %d, %d requests, %d messages\n",
                    static_cast<int>(console.Session.Transfer().ArhivStep),
                    console.Session.Transfer().ArhivRowCount, console.HourArhiv ? "hour" : "day",
                    console.TypeNum, sent, screen.messages);
    return 0;
}
