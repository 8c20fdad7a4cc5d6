// The archive read through the console's logic against the simulated meter:
// requests and chunking, progress lines and row fields, the files day.txt and
// hour.txt byte for byte, the end of the archive, and the stops for files and
// rows that cannot be handled. Then the session alone: fed the line's bytes
// against the simulator, each outcome with its file; and step by step with
// answers handed over whole.
#include "adapter/Dataio.h"
#include "archive/ArchiveSession.h"
#include "base/Cp1251.h"
#include "base/Paths.h"
#include "base/StrToInt.h"
#include "base/Timing.h"
#include "support/ConsoleArchives.h"
#include "support/InstalledCopy.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/SimConsole.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

using sim::ArchiveKind;

sim::SimOptions FastSim() {
    sim::SimOptions o;
    o.AnswerGapMs = 3;
    return o;
}

class Archive : public ::testing::Test {
protected:
    Archive() : simulator(FastSim()) {
        simulator.Start();
        TheRecorder().Clear();
    }

    // The identification and then the transfer, as the buttons start them.
    void ReadArchive(bool hour) {
        if (hour)
            console.logic.Button4Click();
        else
            console.logic.Button3Click();
        EXPECT_TRUE(console.RunTransfer());
    }
    // The sentence that names the incomplete day file and the kept day.txt.
    std::string Kept() const {
        return " Прочитанные строки сохранены в файле " + dir.Path() + "day.partial.txt, файл " + dir.Path() +
               "day.txt не изменён.";
    }
    std::vector<std::string> Memo1Lines() const {
        std::vector<std::string> lines;
        const std::string& m = console.screen.pane[0];
        std::size_t at = 0;
        while (at < m.size()) {
            std::size_t end = m.find("\r\n", at);
            if (end == std::string::npos) end = m.size();
            // Progress lines only: the dump lines are hexadecimal pairs.
            std::string line = Cp1251ToUtf8(m.substr(at, end - at));
            if (!line.empty() && static_cast<unsigned char>(line[0]) >= 0x80) lines.push_back(line);
            at = end + 2;
        }
        return lines;
    }
    int CountSent(const std::string& hex) const {
        auto s = console.SentHex();
        return static_cast<int>(std::count(s.begin(), s.end(), hex));
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    SimConsole console{simulator};
};

TEST_F(Archive, DayArchiveGoesToDayTxtLineForLine) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    ReadArchive(false);
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    EXPECT_EQ(console.logic.Session.Transfer().ArhivStep, ArchiveState::Finished);
    EXPECT_EQ(console.logic.Session.Transfer().ArhivRowCount, 3);
    EXPECT_EQ(console.screen.rowNumber, "3");
    EXPECT_EQ(console.screen.rowLength, "0");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_TRUE(console.screen.messages.empty());

    // The identification, then one request per answer.
    const auto sent = console.SentHex();
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(sent[0], "06 01 04 00 04 00 04");
    EXPECT_EQ(sent[1], "06 01 06 03 E8 00 01");
    EXPECT_EQ(sent[2], "06 01 04 03 E9 00 01");
    EXPECT_EQ(sent[3], "06 01 04 03 EA 00 13"); // 38 template bytes in 19 registers
    EXPECT_EQ(sent[4], "06 01 06 03 E8 00 02");
    EXPECT_EQ(sent[5], "06 01 04 03 E9 00 01");
    EXPECT_EQ(sent[6], "06 01 04 03 EA 00 09"); // 17-byte rows in 9 registers
    EXPECT_EQ(CountSent("06 01 06 03 E8 00 02"), 4);
    EXPECT_EQ(sent.back(), "06 01 04 03 E9 00 01"); // no finish command after the end

    const std::vector<std::string> expected = {
        "Инициализация",
        "считать 04 длину шаблона",
        "считать 04 шаблон",
        "Запрос 06 очередной строки из архива",
        "считать 04 длину строки",
        "считать 04  строку",
        "Запрос 06 очередной строки из архива",
    };
    const auto lines = Memo1Lines();
    ASSERT_GE(lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << i;
    EXPECT_EQ(lines[lines.size() - 2], "архив закончен!!!!!!!!!!!!!!!!!");
    EXPECT_EQ(lines.back(), "Архив записан в файл " + dir.Path() + "day.txt");
}

TEST_F(Archive, HourArchiveGoesToHourTxtWithItsOwnMemoLines) {
    simulator.SetArchive(ArchiveKind::Hour, SmallHourArchive());
    console.screen.startRegister = "100";
    ReadArchive(true);
    EXPECT_EQ(dir.Read("hour.txt"), SmallHourFile);
    EXPECT_FALSE(std::filesystem::exists(dir.File("day.txt")));
    EXPECT_EQ(console.SentHex()[1], "06 01 06 03 E8 00 05");
    EXPECT_EQ(CountSent("06 01 06 03 E8 00 06"), 3);
    const auto lines = Memo1Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "считать 04  строку");
    EXPECT_EQ(lines[1], "считать 04  строку");
    EXPECT_EQ(lines[2], "архив закончен!!!!!!!!!!!!!!!!!");
    EXPECT_EQ(lines[3], "Архив записан в файл " + dir.Path() + "hour.txt");
    // The value decode of each answer starts at Edit1's register.
    EXPECT_EQ(console.logic.ValueAddr, 100);
}

TEST_F(Archive, LongTemplateIsReadInChunksAdvancingByBytes) {
    sim::ArchiveData data = sim::GeneratedArchive(sim::TemplateOfLength(300), ArchiveKind::Day, 1);
    simulator.SetArchive(ArchiveKind::Day, data);
    ReadArchive(false);
    const auto sent = console.SentHex();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[3], "06 01 04 03 EA 00 7D"); // 125 registers from 1002
    EXPECT_EQ(sent[4], "06 01 04 04 E4 00 19"); // 25 registers from 1252
    const std::string file = dir.Read("day.txt");
    EXPECT_EQ(file.substr(0, file.find("\r\n")), data.Template);
    EXPECT_EQ(console.logic.Session.Transfer().ArhivRowCount, 1);
}

TEST_F(Archive, OddLengthsAskForTheLastByteInAWholeRegister) {
    // A 7-byte template as 4 registers; a 15-byte row as 8, of which the
    // formatter uses 15.
    simulator.SetArchiveRaw(ArchiveKind::Day, "DATE Q1",
                            {Bytes("31 12 08 41 20 00 00 23 45 67 89 AB CD EF 01")});
    ReadArchive(false);
    const auto sent = console.SentHex();
    EXPECT_EQ(sent[3], "06 01 04 03 EA 00 04");
    EXPECT_EQ(sent[6], "06 01 04 03 EA 00 08");
    EXPECT_EQ(dir.Read("day.txt"), "DATE Q1\r\n31-12-2008 10 \r\n");
    EXPECT_EQ(console.screen.rowNumber, "1");
}

TEST_F(Archive, FirstRowLengthZeroLeavesOnlyTheTemplateLine) {
    sim::ArchiveData empty = SmallDayArchive();
    empty.Records.clear();
    simulator.SetArchive(ArchiveKind::Day, empty);
    console.screen.rowNumber = "stale";
    ReadArchive(false);
    EXPECT_EQ(dir.Read("day.txt"), "DATE HOUR TNORM sTNORM Q1 M1 ERRORCODE\r\n");
    EXPECT_EQ(console.screen.rowLength, "0");
    EXPECT_EQ(console.screen.rowNumber, "");
    EXPECT_EQ(Memo1Lines().end()[-2], "архив закончен!!!!!!!!!!!!!!!!!");
    EXPECT_EQ(console.logic.Session.Transfer().ArhivStep, ArchiveState::Finished);

    // Finished: a further answer sends nothing.
    const std::size_t before = console.sent.size();
    console.logic.Session.AnswerArrived(nullptr, 0);
    console.logic.TakeArchiveAnswer(nullptr, 0);
    EXPECT_EQ(console.sent.size(), before);
}

TEST_F(Archive, MemoSwitchedOffTheTransferRunsTheSame) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    console.screen.panesActive = false;
    ReadArchive(false);
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    EXPECT_EQ(console.screen.pane[0] + console.screen.pane[1] + console.screen.pane[2], "");
}

TEST_F(Archive, ASecondTransferReplacesTheFile) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    dir.Write("day.txt", "old contents\r\n");
    ReadArchive(false);
    ReadArchive(false);
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
}

TEST_F(Archive, AnInstalledCopyWritesIntoTheDocumentsFolderAndNamesTheFile) {
    InstalledCopy copy;
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    ReadArchive(false);
    EXPECT_EQ(copy.root.Read("docs/gateway-configurator/day.txt"), SmallDayFile);
    EXPECT_EQ(Memo1Lines().back(), "Архив записан в файл " + copy.ArchiveFolder() + "day.txt");
}

TEST_F(Archive, AFileThatCannotBeCreatedStopsTheTransfer) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    dir.Write("file", "");
    ScopedExecutableDir underAFile{dir.Path() + "file/"}; // no folder can be made there, not even by root
    ReadArchive(false);
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Невозможно создать Файл с именем " + dir.Path() + "file/day.txt !");
    EXPECT_EQ(console.screen.messages[0].caption, "ОШИБКА ЗАПИСИ");
    EXPECT_EQ(console.SentHex().back(), "06 01 04 03 EA 00 13"); // nothing after the template
    EXPECT_EQ(simulator.LastArchiveCommand(), 1);
    const ArchiveOutcome& outcome = console.logic.Session.Outcome();
    EXPECT_EQ(outcome.kind, ArchiveOutcome::Kind::FileError);
    EXPECT_EQ(outcome.fileFault, ArchiveFault::CannotCreate);
    EXPECT_EQ(outcome.systemError, ENOTDIR);
    EXPECT_FALSE(console.logic.Session.Active());
}

TEST_F(Archive, AFileThatVanishesIsReportedAndTheTransferStops) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    console.logic.Button3Click();
    ASSERT_TRUE(console.RunUntil(
        [&] { return console.logic.Session.Transfer().ArhivStep >= ArchiveState::NextRowCommand; }));
    std::filesystem::remove(dir.File("day.partial.txt")); // the file being written
    EXPECT_TRUE(console.RunTransfer());
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Невозможно открыть Файл с именем " + dir.Path() + "day.txt !");
    EXPECT_EQ(console.screen.messages[0].caption, "ОШИБКА ЗАПИСИ");
    EXPECT_EQ(console.logic.Session.Outcome().fileFault, ArchiveFault::CannotOpen);
    EXPECT_EQ(console.logic.Session.Outcome().rows, 0);
    EXPECT_EQ(console.screen.rowNumber, "1");        // the row was read
    EXPECT_EQ(CountSent("06 01 06 03 E8 00 02"), 1); // no second row asked for
    EXPECT_FALSE(std::filesystem::exists(dir.File("day.txt")));
}

TEST_F(Archive, AFailedWriteIsReportedAndTheTransferStops) {
    // A file on a full device opens but cannot take the line.
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    std::filesystem::create_symlink("/dev/full", dir.File("day.partial.txt"));
    ReadArchive(false);
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text, "Ошибка записи в Файл с именем " + dir.Path() + "day.txt !");
    EXPECT_EQ(console.screen.messages[0].caption, "ОШИБКА ЗАПИСИ");
    EXPECT_EQ(CountSent("06 01 06 03 E8 00 02"), 0); // no row asked for
}

TEST_F(Archive, ARowLongerThanTheRowAreaIsRefused) {
    simulator.SetArchiveRaw(ArchiveKind::Day, "DATE Q1",
                            {Bytes("31 12 08 41 20 00 00"), std::vector<std::uint8_t>(801, 0x41)});
    ReadArchive(false);
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Строка архива длиной 801 байт не помещается в буфер (800 байт). Чтение архива остановлено." +
                  Kept());
    EXPECT_EQ(dir.Read("day.partial.txt"), "DATE Q1\r\n31-12-2008 10 \r\n");
    EXPECT_EQ(console.SentHex().back(), "06 01 04 03 E9 00 01");
    EXPECT_EQ(console.screen.rowLength, "801");

    // 800 bytes fit.
    console.screen.messages.clear();
    simulator.SetArchiveRaw(ArchiveKind::Day, "DATE Q1", {std::vector<std::uint8_t>(800, 0x41)});
    ReadArchive(false);
    EXPECT_TRUE(console.screen.messages.empty());
    EXPECT_EQ(console.logic.Session.Transfer().ArhivRowCount, 1);
    EXPECT_EQ(console.logic.Session.Transfer().ArhivStep, ArchiveState::Finished);
}

TEST_F(Archive, ATemplateOfMoreColumnsThanTheDescriptorHoldsIsRefused) {
    std::string tooWide;
    for (int i = 0; i < 301; ++i)
        tooWide += i ? " Q1" : "Q1";
    simulator.SetArchiveRaw(ArchiveKind::Day, tooWide, {std::vector<std::uint8_t>(4, 0)});
    ReadArchive(false);
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Шаблон архива содержит больше 300 столбцов. Чтение архива остановлено." + Kept());
    EXPECT_EQ(dir.Read("day.partial.txt"), tooWide + "\r\n");
    EXPECT_EQ(CountSent("06 01 06 03 E8 00 02"), 0);
}

// Requests of SmallDayArchive: 0 identification, 1..3 template, 4..6 the
// first row, 7 and 8 the second row's command and length, 9 its bytes.
constexpr int SecondRowBytesRequest = 9;
const std::string FirstRowOnly =
    std::string(SmallDayFile).substr(0, std::string(SmallDayFile).find(" \r\n") + 3);

TEST_F(Archive, AMeterFallenSilentStopsTheReadAfterTheTimeOutLeavingCompleteRows) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    simulator.AddFault({.step = sim::Step::MeterAnswer,
                        .kind = sim::FaultKind::NoAnswer,
                        .times = -1,
                        .after = SecondRowBytesRequest});
    console.logic.Button3Click();
    ASSERT_TRUE(console.RunUntil([&] { return console.sent.size() == SecondRowBytesRequest + 1; }));
    console.now += std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs);
    console.logic.Timer1Timer();
    EXPECT_TRUE(console.screen.messages.empty());
    console.now += std::chrono::milliseconds(1);
    console.logic.Timer1Timer();
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Чтение суточного архива остановлено: прибор не отвечает. Последняя записанная строка: 1. "
              "Проверьте связь с прибором и прочтите архив заново." +
                  Kept());
    EXPECT_EQ(console.screen.messages[0].caption, "ОШИБКА СВЯЗИ");
    EXPECT_EQ(Memo1Lines().back(), "чтение остановлено: прибор не отвечает; прочитанные строки — в файле " +
                                       dir.Path() + "day.partial.txt");
    EXPECT_EQ(dir.Read("day.partial.txt"), FirstRowOnly);
    EXPECT_EQ(console.screen.progress, Utf8ToCp1251("1 стр. за 3,0 с (0,3 стр./с)"));
    EXPECT_EQ(console.logic.Session.Transfer().ArhivStep, ArchiveState::Stopped);
    EXPECT_EQ(console.logic.Session.Outcome().reason, ArchiveStopReason::MeterSilent);
    EXPECT_EQ(console.logic.Session.Outcome().rows, 1);
    EXPECT_FALSE(console.logic.WaitAnswer);
}

TEST_F(Archive, AnExceptionAnswerStopsTheReadAtOnce) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    simulator.AddFault({.step = sim::Step::MeterAnswer,
                        .kind = sim::FaultKind::Exception,
                        .value = 2,
                        .after = SecondRowBytesRequest});
    console.logic.Button3Click();
    EXPECT_TRUE(console.RunTransfer());
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(
        console.screen.messages[0].text,
        "Чтение суточного архива остановлено: прибор ответил ошибкой 2. Последняя записанная строка: 1. "
        "Прочтите архив заново." +
            Kept());
    EXPECT_EQ(console.sent.size(), SecondRowBytesRequest + 1u);
    EXPECT_EQ(dir.Read("day.partial.txt"), FirstRowOnly);
    // The refusal closes its dump line; the stop line follows it.
    const std::string& memo1 = console.screen.pane[0];
    const auto refusal = memo1.rfind("01 84 02 ");
    ASSERT_NE(refusal, std::string::npos);
    EXPECT_EQ(memo1.substr(refusal + 15),
              Utf8ToCp1251("\r\nчтение остановлено: прибор ответил ошибкой 2; прочитанные строки — в файле " +
                           dir.Path() + "day.partial.txt\r\n"));
}

TEST_F(Archive, TheAddressIsTheOneTheReadStartedWith) {
    simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
    console.logic.Button3Click();
    ASSERT_TRUE(console.RunUntil(
        [&] { return console.logic.Session.Transfer().ArhivStep >= ArchiveState::NextRowCommand; }));
    console.screen.deviceAddress = "z"; // an edit changed during the read is not read again
    EXPECT_TRUE(console.RunTransfer());
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    for (const std::string& block : console.SentHex())
        EXPECT_EQ(block.substr(0, 5), "06 01");
}

// What a session reports, in order, as text.
class RecordingObserver : public ArchiveSessionObserver {
public:
    void Identified(const DeviceIdentity& d) override { Note("type " + std::to_string(d.TypeNum)); }
    void DecodeFromStartRegister() override { ++decodeStarts; }
    void StepLine(const std::string& text) override { Note(text); }
    void RowLength(std::int32_t length) override { rowLength = std::to_string(length); }
    void RowRead(std::int32_t rows) override { Note("row " + std::to_string(rows)); }
    void Ended(const ArchiveOutcome& o) override {
        const ArchiveMessage m = OutcomeMessage(o, MeterArchive::Day);
        Note(m.text.empty() ? "finished " + std::to_string(o.rows) : m.text);
    }
    void Note(const std::string& text) { notes.push_back(text); }

    int decodeStarts = 0;
    std::string rowLength;
    std::vector<std::string> notes;
};

// The session on the line's driver, as the command-line tool runs it, with
// the real SendPacket to the simulator and a clock that moves when the test
// moves it.
class SessionOnLine : public ::testing::Test {
protected:
    SessionOnLine() : simulator(FastSim()) {
        simulator.SetArchive(ArchiveKind::Day, SmallDayArchive());
        simulator.Start();
        driver.Attach(&conversation);
    }
    void Start(std::uint8_t address = 1) {
        session.Start({address, MeterArchive::Day, dir.File("meter.txt")});
    }
    // Pumps the line until `done` holds (false after ten seconds).
    bool FeedUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            driver.Pump(1);
        }
        return true;
    }
    // Until the request numbered `n` (0: the identification) has gone, then
    // past the time-out.
    void SilentAfter(std::size_t n) {
        ASSERT_TRUE(FeedUntil([&] { return sent > n; }));
        now += std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs);
        EXPECT_FALSE(session.CheckAnswerTime(port.HungUp()));
        now += std::chrono::milliseconds(1);
    }
    const ArchiveOutcome& Outcome() const { return session.Outcome(); }

    TempDir dir;
    sim::Simulator simulator;
    Rs232Port port{simulator.PortPath(), 115200};
    AdapterLink link{[this] { return &port; }, [] { return LinkSettings{}; }};
    RecordingObserver observer;
    std::size_t sent = 0;
    std::chrono::steady_clock::time_point now{};
    LineDriver driver{[this] { return &port; },
                      [this](const std::uint8_t* b, std::int32_t n) { return link.SendPacket(b, n); }};
    ArchiveSession session{observer,
                           [this](const RequestBlock& b) {
                               ++sent;
                               driver.Request(b.data(), static_cast<std::int32_t>(b.size()),
                                              {.Function = b[2]});
                           },
                           ',', [this] { return now; }};
    SessionConversation conversation{session};
};

TEST_F(SessionOnLine, FinishedWithEveryRowInTheFileItWasGiven) {
    simulator.SetDeviceType(9);
    now += std::chrono::seconds(2);
    Start();
    ASSERT_TRUE(FeedUntil([&] { return session.HasOutcome(); }));
    EXPECT_EQ(Outcome().kind, ArchiveOutcome::Kind::Finished);
    EXPECT_EQ(Outcome().rows, 3);
    EXPECT_EQ(Outcome().file, dir.File("meter.txt"));
    EXPECT_EQ(dir.Read("meter.txt"), SmallDayFile);
    EXPECT_FALSE(std::filesystem::exists(dir.File("meter.partial.txt")));
    EXPECT_EQ(observer.notes.front(), "type 9");
    EXPECT_EQ(observer.notes.back(), "finished 3");
    EXPECT_EQ(observer.rowLength, "0");
    EXPECT_EQ(observer.decodeStarts, 2 + 4 * 2); // start command and template length, then per row
    now += std::chrono::seconds(4);
    const ArchiveProgress p = session.Progress(); // the clock stopped with the read
    EXPECT_EQ(p.Rows, 3);
    EXPECT_EQ(p.Seconds, 0.0);
    EXPECT_FALSE(session.Active());
}

TEST_F(SessionOnLine, StoppedWithTheLastRowWrittenAndItsReason) {
    // Silent after the second row's bytes were asked for (request 9).
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1, .after = 9});
    dir.Write("meter.txt", "the last good archive\r\n");
    Start();
    SilentAfter(9);
    EXPECT_TRUE(session.CheckAnswerTime(port.HungUp()));
    EXPECT_EQ(Outcome().kind, ArchiveOutcome::Kind::Stopped);
    EXPECT_EQ(Outcome().reason, ArchiveStopReason::MeterSilent);
    EXPECT_EQ(Outcome().rows, 1);
    // The file asked for keeps its contents; the rows read are beside it.
    EXPECT_EQ(dir.Read("meter.txt"), "the last good archive\r\n");
    EXPECT_EQ(dir.Read("meter.partial.txt"), FirstRowOnly);
    EXPECT_EQ(Outcome().partialFile, dir.File("meter.partial.txt"));
    EXPECT_EQ(observer.notes.back(),
              "Чтение суточного архива остановлено: прибор не отвечает. Последняя записанная строка: 1. "
              "Проверьте связь с прибором и прочтите архив заново. Прочитанные строки сохранены в файле " +
                  dir.File("meter.partial.txt") + ", файл " + dir.File("meter.txt") + " не изменён.");
    EXPECT_EQ(StopLine(Outcome()), "чтение остановлено: прибор не отвечает; прочитанные строки — в файле " +
                                       dir.File("meter.partial.txt"));
}

TEST_F(SessionOnLine, AReadStoppedWhileIdentifyingHasNoRowsOrFileOfTheReadBefore) {
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1, .after = 9});
    Start();
    SilentAfter(9);
    ASSERT_TRUE(session.CheckAnswerTime(false));
    ASSERT_EQ(Outcome().partialFile, dir.File("meter.partial.txt"));

    session.Start({1, MeterArchive::Hour, dir.File("hour.txt")});
    EXPECT_EQ(session.Progress().Rows, 0);
    session.Stop(ArchiveStopReason::UserStopped);
    EXPECT_EQ(Outcome().rows, 0);
    EXPECT_EQ(Outcome().partialFile, "");
    EXPECT_EQ(OutcomeMessage(Outcome(), MeterArchive::Hour).text,
              "Чтение часового архива остановлено: нажата кнопка «Стоп». Последняя записанная строка: нет.");
    EXPECT_EQ(StopLine(Outcome()), "чтение остановлено: нажата кнопка «Стоп»");
    EXPECT_EQ(session.Progress().Rows, 0);
}

TEST(PartialFile, SitsBesideTheFileAndKeepsItsExtension) {
    EXPECT_EQ(PartialFileOf("/a/day.txt"), "/a/day.partial.txt");
    EXPECT_EQ(PartialFileOf("/a.b/out"), "/a.b/out.partial");
    EXPECT_EQ(PartialFileOf("/a/.hidden"), "/a/.hidden.partial");
}

TEST_F(SessionOnLine, ARefusalStopsTheReadAtOnceWithItsCode) {
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Exception, .value = 2, .after = 3});
    Start();
    ASSERT_TRUE(FeedUntil([&] { return session.HasOutcome(); }));
    EXPECT_EQ(Outcome().reason, ArchiveStopReason::Refused);
    EXPECT_EQ(Outcome().code, 2);
    EXPECT_EQ(sent, 4u);
    EXPECT_EQ(StopLine(Outcome()), "чтение остановлено: прибор ответил ошибкой 2");
    EXPECT_FALSE(std::filesystem::exists(dir.File("meter.partial.txt"))); // stopped before the template
}

TEST_F(SessionOnLine, APortGoneIsNamedAsTheReason) {
    // No meter at 7: the identification goes unanswered, and the owner finds
    // the port gone.
    Start(7);
    SilentAfter(0);
    EXPECT_TRUE(session.CheckAnswerTime(true));
    EXPECT_EQ(Outcome().reason, ArchiveStopReason::PortGone);
    EXPECT_EQ(Outcome().rows, 0);
    EXPECT_EQ(observer.notes.back(),
              "Чтение суточного архива остановлено: порт отключён. Последняя записанная строка: нет. "
              "Проверьте порт в настройках и прочтите архив заново.");
}

TEST_F(SessionOnLine, AFileThatCannotBeCreatedNamesItsPathAndError) {
    dir.Write("file", "");
    session.Start({1, MeterArchive::Day, dir.File("file/day.txt")});
    ASSERT_TRUE(FeedUntil([&] { return session.HasOutcome(); }));
    EXPECT_EQ(Outcome().kind, ArchiveOutcome::Kind::FileError);
    EXPECT_EQ(Outcome().file, dir.File("file/day.txt"));
    EXPECT_EQ(Outcome().systemError, ENOTDIR);
    EXPECT_EQ(observer.notes.back(), "Невозможно создать Файл с именем " + dir.File("file/day.txt") + " !");
    EXPECT_EQ(sent, 4u); // identification, start, template length, template
}

// The session alone, answers handed over whole as the console hands them.
class ArchiveSteps : public ::testing::Test {
protected:
    ArchiveSteps() { Begin(false); }

    void Begin(bool hour) {
        session.Start(
            {1, hour ? MeterArchive::Hour : MeterArchive::Day, dir.File(hour ? "hour.txt" : "day.txt")});
        session.Identified(0x1200, 0x0408, 0x04);
    }
    void Answer(const std::vector<std::uint8_t>& data) {
        session.AnswerArrived(data.data(), static_cast<std::int32_t>(data.size()));
    }
    std::string Last() const { return sent.empty() ? "" : Hex(sent.back()); }
    const ArchiveTransfer& T() const { return session.Transfer(); }

    TempDir dir;
    RecordingObserver host;
    std::vector<std::vector<std::uint8_t>> sent;
    ArchiveSession session{host, [this](const RequestBlock& b) { sent.emplace_back(b.begin(), b.end()); },
                           ','};
};

TEST_F(ArchiveSteps, OnlyTheDayReaderDecodesFromTheStartRegisterWhenItStarts) {
    for (bool hour : {false, true}) {
        host.decodeStarts = 0;
        Begin(hour);
        EXPECT_EQ(Last(), hour ? "06 01 06 03 E8 00 05" : "06 01 06 03 E8 00 01");
        EXPECT_EQ(host.decodeStarts, hour ? 0 : 1) << hour;
        EXPECT_EQ(T().ExpectedDataLen, 8);
        EXPECT_EQ(host.notes[0], "type 9");
        Answer(Bytes("03 E8"));
        EXPECT_EQ(Last(), "06 01 04 03 E9 00 01");
        EXPECT_EQ(host.decodeStarts, hour ? 1 : 2) << hour;
    }
}

TEST_F(ArchiveSteps, AnAnswerShorterThanAskedNeverShowsOlderBytesAsValues) {
    Answer(Bytes("03 E8")); // the start command's echo: ask the template length
    Answer(Bytes("00 07")); // 7 bytes: 4 registers
    Answer({'D', 'A', 'T', 'E', ' ', 'Q', '1', 0});
    Answer(Bytes("03 E8")); // next row's echo
    Answer(Bytes("00 07"));
    Answer(Bytes("31 12 08 41 20 00 00 00"));
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 07"));
    Answer(Bytes("01 01 09")); // 3 of the 8 bytes asked for
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 00")); // end of the archive
    EXPECT_EQ(T().ArhivStep, ArchiveState::Finished);
    EXPECT_EQ(dir.Read("day.txt"), "DATE Q1\r\n31-12-2008 10 \r\n01-01-2009 ? \r\n");
    EXPECT_EQ(host.notes.back(), "finished 2");
}

TEST_F(ArchiveSteps, ExactlyTwoHundredFiftyBytesAreOneChunk) {
    const std::string shablon = sim::TemplateOfLength(250);
    ASSERT_EQ(shablon.size(), 250u);
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 FA"));
    EXPECT_EQ(Last(), "06 01 04 03 EA 00 7D");
    EXPECT_EQ(T().ArhivStep, ArchiveState::TemplateDone);
    Answer({shablon.begin(), shablon.end()});
    EXPECT_EQ(Last(), "06 01 06 03 E8 00 02");                // straight on to the first row
    EXPECT_EQ(dir.Read("day.partial.txt"), shablon + "\r\n"); // the read's file until it ends

    // A 250-byte row likewise.
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 FA"));
    EXPECT_EQ(Last(), "06 01 04 03 EA 00 7D");
    EXPECT_EQ(T().ArhivStep, ArchiveState::RowDone);
    Answer(std::vector<std::uint8_t>(250, 0x00));
    EXPECT_EQ(Last(), "06 01 06 03 E8 00 02");
    EXPECT_EQ(T().RowLen, 250);
    EXPECT_EQ(T().ArhivRowCount, 1);
}

TEST_F(ArchiveSteps, TemplateLengthZeroTakesTheNextAnswerAsTemplate) {
    Begin(true);
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 00"));
    EXPECT_EQ(Last(), "06 01 04 03 EA 00 00");
    EXPECT_EQ(T().ExpectedDataLen, 0);
    Answer({'D', 'A', 'T', 'E'});
    EXPECT_EQ(dir.Read("hour.partial.txt"), "DATE\r\n");
    EXPECT_EQ(Last(), "06 01 06 03 E8 00 06");

    // The end: a further answer sends nothing.
    Answer(Bytes("03 E8"));
    Answer(Bytes("00 00"));
    EXPECT_EQ(T().ArhivStep, ArchiveState::Finished);
    EXPECT_EQ(dir.Read("hour.txt"), "DATE\r\n");
    const std::size_t before = sent.size();
    Answer(Bytes("00 01"));
    EXPECT_EQ(sent.size(), before);
    EXPECT_EQ(host.rowLength, "0");
}

} // namespace
