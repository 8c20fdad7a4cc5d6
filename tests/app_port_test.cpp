// The program's port when its device goes away and comes back under the same
// link name: the status line's texts, no reopening while it is gone, the
// adapter's failures blaming the port, and the console's next request
// answered once it is back, without the settings dialog.
#include "app/MainForm.h"
#include "app/ProgramPort.h"
#include "base/Timing.h"
#include "console/ConsoleLogic.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "support/FakeConsoleScreen.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/ScopedProgramState.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class PortReturn : public ::testing::Test {
protected:
    void SetUp() override {
        TimingConstants fast;
        fast.ReadTimeoutBaseMs = 200;
        fast.PurgePauseMs = 10;
        fast.ClosePauseMs = 0;
        SetTimingForTests(fast);
        fs::create_directories(dir.File("by-id"));
        Relink(first->SlavePath());
        dir.LinkCom(2, adapter);
        AppOptions.PortNumber = 2;
        AppOptions.BaudRate = 57600;
    }
    void TearDown() override { SetTimingForTests(TimingConstants{}); }
    // The by-id-like name now leads to `device`.
    void Relink(const std::string& device) {
        std::error_code ec;
        fs::remove(adapter, ec);
        fs::create_symlink(device, adapter);
    }
    std::string Status() const { return PortStatusText(MainPort, 2, 57600); }

    ScopedProgramState world;
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    std::string adapter = dir.File("by-id/usb-Neutral_Bridge_B0002-if00-port0");
    std::unique_ptr<PtyPair> first = std::make_unique<PtyPair>();
};

TEST_F(PortReturn, GoneThenBackUnderTheSameNameWithoutTheDialog) {
    ReopenMainPort(AppOptions);
    ASSERT_TRUE(MainPort->IsOpen());
    EXPECT_EQ(Status(), "COM2, " + first->SlavePath() + ", 57600 бит/с: открыт");
    EXPECT_FALSE(WatchMainPort(AppOptions));

    first.reset(); // the adapter is pulled out: the master goes, the node with it
    EXPECT_TRUE(WatchMainPort(AppOptions));
    EXPECT_TRUE(MainPort->Disconnected);
    EXPECT_PRED2(Contains, Status(), "57600 бит/с: отключён");
    // Looks while it is gone change nothing and open nothing.
    const Rs232Port* gone = MainPort;
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(WatchMainPort(AppOptions));
    EXPECT_EQ(MainPort, gone);

    // An exchange meanwhile blames the port, not the adapter.
    std::uint8_t cells[4];
    EXPECT_FALSE(world.link.ReadData(0x81, 0x58, 0, 4, cells));
    ASSERT_FALSE(TheRecorder().messages.empty());
    EXPECT_PRED2(Contains, TheRecorder().messages.back().text, "Порт COM2 отключён");
    TheRecorder().Clear();

    // Plugged in again: a new node behind the same name.
    PtyPair second;
    Relink(second.SlavePath());
    EXPECT_TRUE(WatchMainPort(AppOptions));
    ASSERT_TRUE(MainPort->IsOpen());
    EXPECT_EQ(MainPort->BaudRate, 57600);
    EXPECT_EQ(Status(), "COM2, " + second.SlavePath() + ", 57600 бит/с: открыт");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_TRUE(second.Receive(-1, 50).empty()); // nothing went out meanwhile

    // The console's next request goes out and its answer is read on the new port.
    FakeConsoleScreen screen;
    ConsoleLogic console(
        screen, [] { return MainPort; },
        [](const std::uint8_t* block, std::int32_t count) {
            std::int32_t written = 0;
            MainPort->WriteBlock(block, static_cast<std::uint32_t>(count), written);
            return written == count;
        },
        ',');
    console.Button2Click();
    EXPECT_EQ(Hex(second.Receive(7, 2000)), "06 01 04 00 00 00 04");
    second.Send(Bytes("01 04 04 00 01 00 02 C1 C2"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (MainPort->InQueue() < 9 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    console.Timer1Timer();
    EXPECT_TRUE(console.AnswerReady);
}

TEST_F(PortReturn, ALinkRemovedAndMadeAgainReopensThePort) {
    ReopenMainPort(AppOptions);
    ASSERT_TRUE(MainPort->IsOpen());
    fs::remove(dir.File("ports/COM2"));
    EXPECT_TRUE(WatchMainPort(AppOptions));
    EXPECT_TRUE(MainPort->Disconnected);
    EXPECT_FALSE(WatchMainPort(AppOptions));
    dir.LinkCom(2, adapter); // the same device as before
    EXPECT_TRUE(WatchMainPort(AppOptions));
    EXPECT_TRUE(MainPort->IsOpen());
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(PortReturn, TheMainWindowShowsThePortStateAndWatchesIt) {
    TMainForm form;
    EXPECT_EQ(form.PortState->text().toStdString(), Status());
    EXPECT_PRED2(Contains, Status(), "открыт");
    ASSERT_NE(form.PortWatch, nullptr);
    EXPECT_TRUE(form.PortWatch->isActive());
    first->CloseMaster();
    form.WatchPort();
    EXPECT_PRED2(Contains, form.PortState->text().toStdString(), "отключён");
}

TEST_F(PortReturn, AFailedOpeningShowsItsCauseInTheStatusLine) {
    dir.LinkCom(2, dir.File("by-id/none"));
    ReopenMainPort(AppOptions);
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_PRED2(Contains, TheRecorder().messages[0].text, "Не удалось открыть порт COM2");
    EXPECT_PRED2(Contains, Status(), "не открыт: нет устройства");
    EXPECT_FALSE(WatchMainPort(AppOptions)); // no device there yet: opens nothing
}

// Started before the adapter: the port is watched like one that went away.
// Meanwhile every exchange says why nothing is sent, and the status line keeps
// the opening's cause; once COM5 leads to a device, it is opened.
TEST_F(PortReturn, APortMissingAtStartIsOpenedWhenItsDeviceAppears) {
    AppOptions.PortNumber = 5; // no ports/COM5 yet
    TMainForm form;
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    TheRecorder().Clear();
    const std::string reason = "не открыт: " + PortFailureReason(MainPort->OpenError);
    EXPECT_PRED2(Contains, form.PortState->text().toStdString(), reason);

    const std::string refusal = "Порт COM5 " + reason + " (";
    std::uint8_t cells[4];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(world.link.ReadData(0x81, 0x58, 0, 4, cells));                   // the gateway window's read
    world.link.SendPacket(cells, 4);                                              // the console's request
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)); // no attempts
    ASSERT_EQ(TheRecorder().messages.size(), 2u);
    for (const RecordedMessage& m : TheRecorder().messages) {
        EXPECT_EQ(m.text.rfind(refusal, 0), 0u) << m.text;
        EXPECT_PRED2(Contains, m.text, "\nSetData:(1) Адаптер не принимает.");
        EXPECT_EQ(m.caption, "ОШИБКА СВЯЗИ");
    }
    TheRecorder().Clear();
    // A read or write tried on the unopened port leaves the cause shown.
    std::int32_t written = 0;
    MainPort->WriteBlock(cells, 4, written);
    form.WatchPort();
    EXPECT_PRED2(Contains, form.PortState->text().toStdString(), reason);

    PtyPair adapterNow;
    dir.LinkCom(5, adapterNow.SlavePath());
    form.WatchPort();
    ASSERT_TRUE(MainPort->IsOpen());
    EXPECT_EQ(form.PortState->text().toStdString(),
              "COM5, " + adapterNow.SlavePath() + ", 57600 бит/с: открыт");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

// A device held by another program is tried again at every look, quietly,
// and opened once it is let go.
TEST_F(PortReturn, ABusyPortOpensWhenTheOtherProgramLetsItGo) {
    auto other = std::make_unique<Rs232Port>(adapter, 9600);
    ASSERT_TRUE(other->Ok);
    ReopenMainPort(AppOptions);
    ASSERT_EQ(MainPort->OpenError, EBUSY);
    TheRecorder().Clear();
    EXPECT_FALSE(WatchMainPort(AppOptions));
    EXPECT_PRED2(Contains, Status(), "не открыт: занят другой программой");
    other.reset();
    EXPECT_TRUE(WatchMainPort(AppOptions));
    EXPECT_TRUE(MainPort->IsOpen());
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

} // namespace
