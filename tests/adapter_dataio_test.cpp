// The adapter exchanges against a scripted adapter on a pseudo-terminal:
// bytes on the line in both directions, results, and the messages shown.
#include "adapter/Dataio.h"
#include "base/Options.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "support/PtyMainPort.h"
#include "support/Recorder.h"
#include "support/ScopedProgramState.h"
#include "support/ScriptedPeer.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using Msgs = std::vector<RecordedMessage>;

const char* const Link = "ОШИБКА СВЯЗИ";
const char* const SetExhausted = "SetData (5): ОШИБКА СВЯЗИ";
const char* const GetExhausted = "GetData:(5) ОШИБКА СВЯЗИ";
constexpr auto Info = MessageIcon::Information;
constexpr auto Stop = MessageIcon::Error;

const std::uint8_t Three[3] = {0x11, 0x22, 0x33};

// MainPort as an exchange fetches it, refusing all I/O (Gated) from its nth
// fetch on. The link fetches the port afresh for every write, read and purge,
// so n names the operation that first finds the port refusing.
PortAccessor GatedFromFetch(int n) {
    return [n, fetches = 0]() mutable {
        if (++fetches == n && MainPort) MainPort->Gated = true;
        return MainPort;
    };
}

class Exchange : public ::testing::Test {
protected:
    void SetUp() override { peer.expectTimeoutMs = 3000; }

    // Runs the script while `exchange` runs; returns the transcript.
    template <class F> std::string Run(F exchange) {
        peer.Start();
        exchange();
        std::string transcript = peer.Finish();
        EXPECT_EQ(peer.Errors(), "");
        return transcript;
    }
    const Msgs& Shown() const { return TheRecorder().messages; }
    bool SetThree(AdapterLink& through) { return through.SetData(0x81, 0x58, 4, Three, 3); }
    bool SetThree() { return SetThree(link); }

    ScopedProgramState world;
    AdapterLink& link = world.link;
    PtyPair pty;
    PtyMainPort port{pty};
    ScriptedPeer peer{pty};
    std::uint8_t buf[256] = {};
};

// --- Headers and link modes --------------------------------------------------

TEST_F(Exchange, SetDataInLinkMode1SendsTheFiveByteHeader) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("00");
    peer.Expect("11 22 33").Reply("00");
    bool ok = false;
    EXPECT_EQ(Run([&] { ok = SetThree(); }), "B0 (DD) 5A 50 01 (01) 81 58 00 04 03 (00) 11 22 33 (00)");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Shown(), Msgs{});
}

TEST_F(Exchange, LinkMode2UsesCommand81AndTheSevenByteHeaderForOtherDevices) {
    AppOptions.LinkMode = 2;
    AppOptions.ZepLanAddress = 1;
    AppOptions.I2cAddress = 12;
    peer.Expect("B0").Reply("DD").Expect("5A 50 81").Reply("01").Expect("00 01 D8 81 03 00 04").Reply("00");
    peer.Expect("11 22 33").Reply("00");
    bool ok = false;
    EXPECT_EQ(Run([&] { ok = SetThree(); }), "B0 (DD) 5A 50 81 (01) 00 01 D8 81 03 00 04 (00) 11 22 33 (00)");
    EXPECT_TRUE(ok);
}

TEST_F(Exchange, LinkMode2PutsTheZepLanAddressIntoTheShortHeaderOfTheI2cDevice) {
    AppOptions.LinkMode = 2;
    AppOptions.ZepLanAddress = 0x107; // only the low 8 bits go on the line
    AppOptions.I2cAddress = 0x58;
    peer.Expect("B0").Reply("DD").Expect("5A 50 82").Reply("01").Expect("81 07 12 34 02").Reply("00");
    peer.Reply("AA BB 00");
    bool ok = false;
    EXPECT_EQ(Run([&] { ok = link.GetData(0x81, 0x58, 0x51234, 2, buf); }),
              "B0 (DD) 5A 50 82 (01) 81 07 12 34 02 (00 AA BB 00)");
    EXPECT_TRUE(ok);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(buf[1], 0xBB);
}

TEST_F(Exchange, AnUnknownLinkModeStopsAfterTheSignOnWithoutAWord) {
    AppOptions.LinkMode = 0;
    peer.Expect("B0").Reply("DD").Expect("5A 50");
    bool set = true;
    EXPECT_EQ(Run([&] { set = SetThree(); }), "B0 (DD) 5A 50");
    EXPECT_FALSE(set);
    EXPECT_EQ(Shown(), Msgs{});
}

// --- GetData ----------------------------------------------------------------

TEST_F(Exchange, GetDataTakesReady08AsReadyWithoutSignOnAndIgnoresTheTrailingValue) {
    peer.Expect("B0").Reply("08").Expect("02").Reply("01").Expect("81 58 00 00 04").Reply("00");
    peer.Reply("0A 01 33 05").Reply("05");
    bool ok = false;
    EXPECT_EQ(Run([&] { ok = link.GetData(0x81, 0x58, 0, 4, buf); }),
              "B0 (08) 02 (01) 81 58 00 00 04 (00 0A 01 33 05 05)");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Hex({buf, buf + 4}), "0A 01 33 05");
    EXPECT_EQ(Shown(), Msgs{});
}

TEST_F(Exchange, GetDataDataPhaseFailuresAreNamedByWhatArrived) {
    struct Case {
        const char* data;
        const char* text;
    } cases[] = {
        {"05 06 01", "GetData:(7) Устройство не ответило на повторный адрес."},
        {"05 06 00", "GetData:(8) Адаптер не передал все данные."},
        {"", "GetData:(6) Адаптер не передал данные."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TheRecorder().Clear();
        ScriptedPeer p(pty);
        p.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 0A").Reply("00");
        if (*c.data) p.Reply(c.data);
        p.Start();
        EXPECT_FALSE(link.GetData(0x81, 0x58, 0, 10, buf));
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(Shown(), (Msgs{{c.text, Link, Info}}));
    }
}

TEST_F(Exchange, GetDataWithoutTrailingByteFails) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 02").Reply("00");
    peer.Reply("01 02");
    bool ok = true;
    Run([&] { ok = link.GetData(0x81, 0x58, 0, 2, buf); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(Shown(), (Msgs{{"GetData:(9) Адаптер не отвечает.", Link, Info}}));
}

// --- SetData data phase --------------------------------------------------------

TEST_F(Exchange, SetDataFinalStatusDecidesTheMessage) {
    struct Case {
        const char* status;
        Msgs shown;
    } cases[] = {
        {"", {{"SetData:(7) Адаптер не отвечает.", Link, Info}}},
        {"02", {{"SetData:(8) Ошибка передачи устройству.", Link, Info}}},
        {"01", {{"SetData:(9) Адаптер не смог принять байт.", Link, Info}}},
        {"03", {}},
        {"FF", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        TheRecorder().Clear();
        ScriptedPeer p(pty);
        p.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("00");
        p.Expect("11 22 33");
        if (*c.status) p.Reply(c.status);
        p.Start();
        EXPECT_FALSE(SetThree());
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(Shown(), c.shown);
    }
}

// --- Attempts: soft failures -------------------------------------------------

TEST_F(Exchange, WrongReadyByteThreeTimesReportsTheLastByteOnce) {
    // 0x08 is a soft failure in SetData; 0x07 in both.
    struct Case {
        bool get;
        const char* ready;
        const char* text;
        const char* caption;
    } cases[] = {
        {false, "08", "Устройство не ответило.", SetExhausted},
        {false, "07", "Линия занята.", SetExhausted},
        {true, "07", "Линия занята.", GetExhausted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ready);
        TheRecorder().Clear();
        ScriptedPeer p(pty);
        for (int i = 0; i < 3; ++i)
            p.Expect("B0").Reply(c.ready);
        p.Start();
        EXPECT_FALSE(c.get ? link.GetData(0x81, 0x58, 0, 4, buf) : SetThree());
        std::string r = std::string("(") + c.ready + ")";
        EXPECT_EQ(p.Finish(), "B0 " + r + " B0 " + r + " B0 " + r); // the marker is never sent
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(Shown(), (Msgs{{c.text, c.caption, Info}}));
    }
}

TEST_F(Exchange, ErrorCodeAfterTheHeaderThreeTimesReportsItsText) {
    struct Case {
        bool get;
        const char* code;
        const char* text;
        const char* caption;
    } cases[] = {
        {false, "07", "Линия занята.", SetExhausted},
        {true, "07", "Линия занята.", GetExhausted},
        {false, "09", "", SetExhausted}, // a code without a text
        {true, "0B", "Ошибка в приеме адаптером Младшего адреса ячейки удаленного устройства.", GetExhausted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TheRecorder().Clear();
        ScriptedPeer p(pty);
        const char* cmd = c.get ? "5A 50 02" : "5A 50 01";
        const char* header = c.get ? "81 58 00 00 04" : "81 58 00 04 03";
        for (int i = 0; i < 3; ++i)
            p.Expect("B0").Reply("DD").Expect(cmd).Reply("01").Expect(header).Reply(c.code);
        p.Start();
        EXPECT_FALSE(c.get ? link.GetData(0x81, 0x58, 0, 4, buf) : SetThree());
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(p.Sent().size(), 3u * 9u); // no data after a refused header
        EXPECT_EQ(Shown(), (Msgs{{c.text, c.caption, Info}}));
    }
}

TEST_F(Exchange, SoftFailuresInTwoAttemptsAreSilentWhenTheThirdSucceeds) {
    peer.Expect("B0").Reply("07");
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("07");
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("00");
    peer.Expect("11 22 33").Reply("00");
    bool ok = false;
    Run([&] { ok = SetThree(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(Shown(), Msgs{});
}

// --- Purges ----------------------------------------------------------------------

// A purge discards what the adapter has already sent. Each script queues a
// stray byte right behind the answer that ends a step: where the port must
// not be purged the program finds that byte still waiting; where it must be,
// the byte is gone and the adapter answers afresh.
TEST_F(Exchange, PurgesDiscardWaitingBytesOnlyWhereTheyShould) {
    auto run = [&](ScriptedPeer& p, auto exchange) {
        p.expectTimeoutMs = 3000;
        p.Start();
        const bool ok = exchange();
        const std::string transcript = p.Finish();
        EXPECT_EQ(p.Errors(), "");
        return std::pair{ok, transcript};
    };
    {
        SCOPED_TRACE("SetData: an error code after the header is retried at once");
        ScriptedPeer p(pty);
        p.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("07 DD");
        p.Expect("B0 5A 50 01").Reply("01").Expect("81 58 00 04 03").Reply("00");
        p.Expect("11 22 33").Reply("00 AA");
        EXPECT_TRUE(run(p, [&] { return SetThree(); }).first);
        EXPECT_EQ(MainPort->InQueue(), 1); // nor is a success followed by a purge
        MainPort->Purge();
    }
    {
        SCOPED_TRACE("GetData: an error code after the header is purged");
        ScriptedPeer p(pty);
        p.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 04").Reply("07 DD");
        p.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 04").Reply("00");
        p.Reply("01 02 03 04 00");
        EXPECT_TRUE(run(p, [&] { return link.GetData(0x81, 0x58, 0, 4, buf); }).first);
    }
    {
        SCOPED_TRACE("SendPacket: a non-zero status is retried at once");
        ScriptedPeer p(pty);
        p.Expect("11").Reply("22").Expect("11 22 33").Reply("05 22").Expect("11 11 22 33").Reply("00");
        EXPECT_TRUE(run(p, [&] { return link.SendPacketExchange(Three, 3); }).first);
    }
    {
        SCOPED_TRACE("an unknown link mode stops without a purge");
        AppOptions.LinkMode = 3;
        ScriptedPeer p(pty);
        p.Expect("B0").Reply("DD AA").Expect("5A 50");
        const auto [ok, transcript] = run(p, [&] { return SetThree(); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(transcript, "B0 (DD AA) 5A 50");
        EXPECT_EQ(MainPort->InQueue(), 1);
    }
    EXPECT_EQ(Shown(), Msgs{});
}

// --- Attempts: hard failures ---------------------------------------------------

TEST_F(Exchange, HardFailuresAreRetriedSilentlyAndReportedInTheThirdAttempt) {
    struct Case {
        bool get;
        const char* answers; // the adapter's answers within one attempt
        Msgs shown;
    } cases[] = {
        {false, "", {{"SetData:(2) Адаптер не отвечает.", Link, Info}}},
        {true, "", {{"SetData:(2) Адаптер не отвечает.", Link, Info}}},
        {false, "DD 00", {{"SetData:(2) Адаптер не отвечает.", Link, Info}}}, // command refused
        {true, "DD 00", {{"GetData:(2) Адаптер не отвечает.", Link, Info}}},
        {false, "DD 01", {{"SetData:(4) Адаптер не отвечает.", Link, Info}}}, // silent after header
        {true, "DD 01", {{"GetData:(4) Адаптер не отвечает.", Link, Info}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.get ? "GetData " : "SetData ") + c.answers);
        TheRecorder().Clear();
        std::vector<std::uint8_t> answers = Bytes(c.answers);
        ScriptedPeer p(pty);
        for (int i = 0; i < 3; ++i) {
            p.Expect("B0");
            if (answers.size() > 0) p.Reply("DD").Expect(c.get ? "5A 50 02" : "5A 50 01");
            if (answers.size() > 1) p.Reply(Hex({answers[1]}));
            if (answers.size() > 1 && answers[1] == 0x01)
                p.Expect(c.get ? "81 58 00 00 04" : "81 58 00 04 03");
        }
        p.Start();
        EXPECT_FALSE(c.get ? link.GetData(0x81, 0x58, 0, 4, buf) : SetThree());
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(Shown(), c.shown);
    }
}

TEST_F(Exchange, WithoutAPortEveryExchangeEndsWithNotTaking) {
    delete MainPort;
    MainPort = nullptr;
    const Msgs notTaking{{"SetData:(1) Адаптер не принимает.", Link, Stop}};
    EXPECT_FALSE(SetThree());
    EXPECT_EQ(Shown(), notTaking);
    TheRecorder().Clear();
    EXPECT_FALSE(link.GetData(0x81, 0x58, 0, 4, buf));
    EXPECT_EQ(Shown(), notTaking);
    TheRecorder().Clear();
    link.SendPacket(Three, 3);
    EXPECT_EQ(Shown(), notTaking);
}

TEST_F(Exchange, AFarEndThatWentAwayCannotBeWrittenAndThePortIsBlamed) {
    pty.CloseMaster();
    EXPECT_FALSE(link.GetData(0x81, 0x58, 0, 4, buf));
    ASSERT_TRUE(MainPort->Disconnected);
    EXPECT_EQ(Shown(),
              (Msgs{{PortDisconnectedText(*MainPort) + "\nSetData:(1) Адаптер не принимает.", Link, Stop}}));
    EXPECT_EQ(PortDisconnectedText(*MainPort).rfind("Порт отключён: устройство ", 0), 0u);
}

TEST_F(Exchange, SilencedMessagesStillFail) {
    link.LinkMessages = false;
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    bool ok = true;
    Run([&] { ok = link.GetData(0x81, 0x58, 0, 4, buf); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(Shown(), Msgs{});
    link.EnableLinkMessages();
    EXPECT_TRUE(link.LinkMessages);
}

// The port reports a failure although every byte went through: the system's
// own text for the port's error replaces the step's message. The port refuses
// I/O from the data phase's read on (the eighth operation), so that this
// zero-byte read fails with all of its (zero) bytes counted.
TEST_F(Exchange, PortFailureWithAllBytesCountedShowsTheSystemError) {
    AdapterLink gated(GatedFromFetch(8), ProgramLinkSettings);
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 00").Reply("00");
    bool ok = true;
    Run([&] { ok = gated.GetData(0x81, 0x58, 0, 0, buf); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(Shown(), (Msgs{{SystemErrorText(EPERM), "ОШИБКА СИСТЕМЫ", Info}}));
}

// Two soft failures, then in attempt 3 the port starts refusing I/O right
// after an answer: the write after that answer fails, and only its step's own
// message is shown (no "(5)" report).
TEST_F(Exchange, AWriteRefusedInTheThirdAttemptIsReportedByItsStep) {
    struct Case {
        bool get;
        std::vector<std::string> answers; // attempt 3: the program's bytes, each followed by an answer
        int refused; // the operation that finds the port refusing; attempts 1 and 2 take three each
                     // (write, read, purge)
        RecordedMessage shown;
    } cases[] = {
        {false, {"B0", "DD"}, 9, {"SetData:(1) Адаптер не принимает.", Link, Stop}}, // the marker
        {true, {"B0", "08"}, 9, {"GetData:(1) Адаптер не принимает.", Link, Stop}},  // the command
        // the header
        {false, {"B0", "DD", "5A 50 01", "01"}, 12, {"SetData:(3) Адаптер не принимает.", Link, Info}},
        {true, {"B0", "DD", "5A 50 02", "01"}, 12, {"GetData:(3) Адаптер не принимает.", Link, Info}},
        {false,
         {"B0", "DD", "5A 50 01", "01", "81 58 00 04 03", "00"}, // the data
         14,
         {"SetData:(6) Адаптер не принимает.", Link, Stop}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.text);
        TheRecorder().Clear();
        MainPort->Gated = false;
        AdapterLink gated(GatedFromFetch(c.refused), ProgramLinkSettings);
        ScriptedPeer p(pty);
        p.expectTimeoutMs = 3000;
        p.Expect("B0").Reply("07").Expect("B0").Reply("07");
        for (size_t i = 0; i + 1 < c.answers.size(); i += 2)
            p.Expect(c.answers[i]).Reply(c.answers[i + 1]);
        p.Start();
        EXPECT_FALSE(c.get ? gated.GetData(0x81, 0x58, 0, 4, buf) : SetThree(gated));
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(Shown(), Msgs{c.shown});
    }
}

// --- SendPacket -------------------------------------------------------------------

TEST_F(Exchange, SendPacketSilenceAfterTheBlockIsTakenAtOnce) {
    peer.Expect("11").Reply("22").Expect("11 22 33");
    EXPECT_EQ(Run([&] { EXPECT_TRUE(link.SendPacketExchange(Three, 3)); }), "11 (22) 11 22 33");
    EXPECT_EQ(Shown(), Msgs{});
}

TEST_F(Exchange, SendPacketNonZeroStatusSendsEverythingAgainUpToThreeTimes) {
    for (int i = 0; i < 3; ++i)
        peer.Expect("11").Reply("22").Expect("11 22 33").Reply("05");
    EXPECT_EQ(Run([&] { EXPECT_FALSE(link.SendPacketExchange(Three, 3)); }),
              "11 (22) 11 22 33 (05) 11 (22) 11 22 33 (05) 11 (22) 11 22 33 (05)");
    EXPECT_EQ(Shown(), Msgs{});
}

TEST_F(Exchange, SendPacketReadyFailures) {
    // A wrong ready byte three times ends silently; no ready byte at all is
    // reported once, in the third attempt.
    for (int i = 0; i < 3; ++i)
        peer.Expect("11").Reply("07");
    EXPECT_EQ(Run([&] { link.SendPacket(Three, 3); }), "11 (07) 11 (07) 11 (07)");
    EXPECT_EQ(Shown(), Msgs{});

    ScriptedPeer silent(pty);
    silent.expectTimeoutMs = 3000;
    silent.Expect("11").Expect("11").Expect("11");
    silent.Start();
    link.SendPacket(Three, 3);
    EXPECT_EQ(silent.Finish(), "11 11 11");
    EXPECT_EQ(Shown(), (Msgs{{"SetData:(2) Адаптер не отвечает.", Link, Info}}));
    EXPECT_FALSE(link.LinkBusy);
}

// With a stray sink (a scan), a late answer in front of the ready byte goes to
// the sink in one piece and the exchange goes on; without one it is a wrong
// ready byte as always.
TEST_F(Exchange, SendPacketHandsALateAnswerInFrontOfTheReadyByteToTheStraySink) {
    std::vector<std::string> stray;
    link.SetStraySink([&](const std::uint8_t* b, std::size_t n) { stray.push_back(Hex({b, b + n})); });
    peer.Expect("11").Reply("03 84 02 C2 C1 22").Expect("11 22 33").Reply("00");
    EXPECT_EQ(Run([&] { EXPECT_TRUE(link.SendPacketExchange(Three, 3)); }),
              "11 (03 84 02 C2 C1 22) 11 22 33 (00)");
    EXPECT_EQ(stray, std::vector<std::string>{"03 84 02 C2 C1"});
    EXPECT_EQ(Shown(), Msgs{});
}

// --- Cell addresses and the public operations ------------------------------------

TEST(CellAddress, OrdinaryDevicesAreMappedHigh) {
    EXPECT_EQ(MapCellAddress(0x81, 0x58, 0), 0);
    EXPECT_EQ(MapCellAddress(0xEF, 0x0C, 0x4000), 0x4000);
    EXPECT_EQ(MapCellAddress(0x01, 0x20, 0x0010), 0x8010);
    EXPECT_EQ(MapCellAddress(0x21, 0x20, 0x0010), 0x0010); // bit 5
    EXPECT_EQ(MapCellAddress(0x41, 0x20, 0x0010), 0x0010); // bit 6
    EXPECT_EQ(MapCellAddress(0x01, 0x5F, 0x0010), 0x0010);
    EXPECT_EQ(MapCellAddress(0x01, 0x60, 0x0010), 0x8010);
}

TEST(AdapterErrors, CodesWithoutARowHaveNoText) {
    EXPECT_STREQ(AdapterErrorText(1), "Ошибка в передаче кода ОК.");
    EXPECT_STREQ(AdapterErrorText(8), "Устройство не ответило.");
    EXPECT_EQ(AdapterErrorText(0), nullptr);
    EXPECT_EQ(AdapterErrorText(9), nullptr);
    EXPECT_EQ(AdapterErrorText(12), nullptr);
}

TEST_F(Exchange, ReadDataSplitsIntoBlocksOf64AtMappedCells) {
    std::string block64, block2 = "FE FF";
    for (int i = 0; i < 64; ++i)
        block64 += (i ? " " : "") + Hex({static_cast<std::uint8_t>(i)});
    const char* headers[] = {"01 20 80 10 40", "01 20 80 50 40", "01 20 80 90 02"};
    for (int i = 0; i < 3; ++i) {
        peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect(headers[i]).Reply("00");
        peer.Reply(i < 2 ? block64 : block2).Reply("00");
    }
    bool ok = false;
    Run([&] { ok = link.ReadData(0x01, 0x20, 0x10, 130, buf); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(buf[63], 63);
    EXPECT_EQ(buf[64], 0);
    EXPECT_EQ(buf[127], 63);
    EXPECT_EQ(buf[128], 0xFE);
    EXPECT_EQ(buf[129], 0xFF);
    EXPECT_FALSE(link.LinkBusy);
}

TEST_F(Exchange, ReadDataOfWholeBlocksOrNothing) {
    std::string block64;
    for (int i = 0; i < 64; ++i)
        block64 += (i ? " " : "") + std::string("5A");
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 40").Reply("00");
    peer.Reply(block64).Reply("00");
    bool ok = false;
    Run([&] { ok = link.ReadData(0x81, 0x58, 0, 64, buf) && link.ReadData(0x81, 0x58, 0, 0, buf); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(peer.Sent().size(), 1u + 3u + 5u); // one exchange for both calls
}

TEST_F(Exchange, ReadDataStopsAtTheFirstFailingBlock) {
    link.LinkMessages = false;
    std::string block64;
    for (int i = 0; i < 64; ++i)
        block64 += (i ? " " : "") + std::string("00");
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect("81 58 00 00 40").Reply("00");
    peer.Reply(block64).Reply("00");
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    bool ok = true;
    Run([&] { ok = link.ReadData(0x81, 0x58, 0, 200, buf); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(peer.Sent().size(), 9u + 3u); // no third block
}

TEST_F(Exchange, WriteValueSendsTheLowBytesFirstAtTheMappedCell) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("01 20 80 02 02").Reply("00");
    peer.Expect("34 12").Reply("00");
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("EF 0C 00 02 01").Reply("00");
    peer.Expect("00").Reply("00");
    bool ok = false;
    Run([&] { ok = link.WriteValue(0x01, 0x20, 2, 0x5678'1234, 2) && link.WriteValue(0xEF, 0x0C, 2, 0, 1); });
    EXPECT_TRUE(ok);
    // More bytes than a value holds: refused, nothing sent.
    EXPECT_FALSE(link.WriteValue(0xEF, 0x0C, 2, 0, 5));
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
}

TEST_F(Exchange, WriteDataKeepsTheCellAddress) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect("01 20 00 02 03").Reply("00");
    peer.Expect("11 22 33").Reply("00");
    bool ok = false;
    Run([&] { ok = link.WriteData(0x01, 0x20, 2, Three, 3); });
    EXPECT_TRUE(ok);
}

TEST_F(Exchange, ABusyLinkDeclinesAtOnce) {
    // Every exchange starts with a write: nothing on the line means none ran.
    link.LinkBusy = true;
    EXPECT_FALSE(link.ReadData(0x81, 0x58, 0, 4, buf));
    EXPECT_FALSE(link.WriteData(0x81, 0x58, 0, Three, 3));
    EXPECT_FALSE(link.WriteValue(0xEF, 0x0C, 2, 0, 1));
    link.SendPacket(Three, 3);
    EXPECT_TRUE(link.LinkBusy); // still the other operation's
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
    EXPECT_EQ(Shown(), Msgs{});
}

TEST_F(Exchange, AnOperationStartedInsideAFailureMessageDeclines) {
    // The message box is a nested loop: another window's handler may run in it.
    bool nested = true;
    TheRecorder().onShow = [&](const RecordedMessage&) {
        EXPECT_TRUE(link.LinkBusy);
        nested = link.ReadData(0x81, 0x58, 0, 4, buf);
    };
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    bool ok = true;
    EXPECT_EQ(Run([&] { ok = link.ReadData(0x81, 0x58, 0, 4, buf); }), "B0 (07) B0 (07) B0 (07)");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(nested);
    EXPECT_EQ(Shown().size(), 1u);
    EXPECT_FALSE(link.LinkBusy);
}

// --- Real time constants -------------------------------------------------------------

// A silent adapter: three read time-outs of 5.01 s and three purges of 0.5 s
// before the single message. The upper bound leaves room for a loaded machine
// and still tells a fourth attempt or a longer pause.
TEST(ExchangeRealTime, ASilentAdapterCostsAboutSixteenAndAHalfSeconds) {
    ScopedProgramState world;
    PtyPair pty;
    PtyMainPort port(pty, TimingConstants{});
    ScriptedPeer silent(pty);
    silent.Expect("B0").Expect("B0").Expect("B0");
    silent.Start();
    std::uint8_t b[4];
    auto start = Clock::now();
    EXPECT_FALSE(world.link.GetData(0x81, 0x58, 0, 4, b));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 16500);
    EXPECT_LT(ms, 18000);
    EXPECT_EQ(TheRecorder().messages, (Msgs{{"SetData:(2) Адаптер не отвечает.", Link, Info}}));
    EXPECT_EQ(silent.Finish(), "B0 B0 B0");
}

} // namespace
