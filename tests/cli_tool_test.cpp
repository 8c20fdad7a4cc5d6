// configurator-cli: its command line, and each command against the simulated
// gateway and meter, run in-process: the archive files byte for byte as the
// window writes them, the gateway's settings, and the exit status of every
// failure.
#include "base/Timing.h"
#include "cli/Cli.h"
#include "cli/CommandLine.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/ConsoleArchives.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(CliCommandLine, HelpVersionAndWrongCommandLines) {
    const CliResult help = Cli({"day", "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"read-settings", "--rs485-speed", "--output", "Коды выхода", "OPTIONS.INI"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    EXPECT_EQ(Cli({"--version"}).out, std::string("configurator-cli ") + PROGRAM_VERSION + "\n");

    // Each refused with status 2 and one line naming the fault.
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"month"},
        {"day", "hour"},
        {"day", "--colour", "red"},
        {"read-settings", "--output", "x.txt"},
        {"day", "--address"},
        {"day", "--address", "256"},
        {"day", "--port", "COM100"},
        {"day", "--link", "rs485"},
        {"write-settings", "--rs485-speed", "12345"},
        {"write-settings", "--packet", "yes"},
        {"write-settings"},
    };
    for (const auto& args : wrong) {
        const CliResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("configurator-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

// COM1 to COM99 by name or number; outside them the refusal names the range.
TEST(CliCommandLine, PortIsACom1To99OrADevicePath) {
    std::string error;
    for (const auto& [value, number] : {std::pair{"COM1", 1}, {"com99", 99}, {"99", 99}}) {
        const auto a = ParseCommandLine({"day", "--port", value}, error);
        ASSERT_TRUE(a) << value << ": " << error;
        EXPECT_EQ(a->PortNumber, number) << value;
    }
    for (const char* value : {"COM0", "COM100", "0", "100"}) {
        EXPECT_FALSE(ParseCommandLine({"day", "--port", value}, error)) << value;
        EXPECT_EQ(error, std::string("неверное значение --port '") + value +
                             "': нужен COM1..COM99, номер 1..99 или путь к устройству");
    }
}

// The tool against the simulator, with the window's settings beside a
// scratch executable.
class CliTool : public ::testing::Test {
protected:
    CliTool() : simulator(FastSim()) {
        TimingConstants fast;
        fast.FinishWritePauseMs = 10;
        SetTimingForTests(fast);
        simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
        simulator.SetArchive(sim::ArchiveKind::Hour, SmallHourArchive());
        simulator.Start();
    }
    ~CliTool() override { SetTimingForTests(TimingConstants{}); }
    static sim::SimOptions FastSim() {
        sim::SimOptions o;
        o.AnswerGapMs = 3;
        return o;
    }
    // The simulator's line unless the arguments name another port.
    CliResult Run(std::vector<std::string> args) {
        if (std::find(args.begin(), args.end(), "--port") == args.end())
            args.insert(args.end(), {"--port", simulator.PortPath()});
        args.insert(args.end(), {"--link", "i2c"});
        return Cli(args);
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
};

TEST_F(CliTool, ReadsBothArchivesIntoTheWindowsBytes) {
    const CliResult day = Run({"day", "--output", dir.File("meter1-day.txt")});
    EXPECT_EQ(day.status, 0) << day.err;
    EXPECT_EQ(dir.Read("meter1-day.txt"), SmallDayFile);
    EXPECT_NE(day.err.find("Архив записан в файл " + dir.File("meter1-day.txt")), std::string::npos)
        << day.err;

    // Without --output: hour.txt where the window writes it.
    const CliResult hour = Run({"hour"});
    EXPECT_EQ(hour.status, 0) << hour.err;
    EXPECT_EQ(dir.Read("hour.txt"), SmallHourFile);
}

TEST_F(CliTool, ReadsAndWritesTheGatewaysSettings) {
    const CliResult read = Run({"read-settings"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "address=1\nrs485-speed=57600\npacket=on\nmodem=off\ninit-line=ATZ\n");

    const CliResult write =
        Run({"write-settings", "--address", "$11", "--modem", "on", "--rs485-speed", "9600"});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "address=$11\nrs485-speed=9600\npacket=on\nmodem=on\ninit-line=ATZ\n");
    EXPECT_EQ(simulator.AppliedSettings(), (sim::GatewaySettings{17, 0x06, 103, "ATZ\r"}));
}

TEST_F(CliTool, SettingsTheWindowRefusesAreNotSent) {
    for (const char* option :
         {"--address=256", "--address=x", "--init-line=ATDT0123456789012345678901234567"}) {
        const CliResult r = Run({"write-settings", option});
        EXPECT_EQ(r.status, 7) << option;
        EXPECT_EQ(r.err.rfind("configurator-cli: ОШИБКА ДАННЫХ: ", 0), 0u) << r.err;
    }
    EXPECT_EQ(simulator.PcTranscript(), "");
}

TEST_F(CliTool, EachFailureHasItsStatus) {
    TimingConstants fast; // the gateway's and the meter's silence in milliseconds
    fast.ReadTimeoutBaseMs = 300;
    fast.PurgePauseMs = 20;
    fast.ArchiveAnswerTimeoutMs = 300;
    SetTimingForTests(fast);
    EXPECT_EQ(Run({"day", "--port", dir.File("no-such-port")}).status, 3);

    dir.Write("file", "");
    const CliResult unwritable = Run({"day", "--output", dir.File("file/day.txt")});
    EXPECT_EQ(unwritable.status, 6);
    EXPECT_NE(unwritable.err.find("Невозможно создать Файл с именем " + dir.File("file/day.txt")),
              std::string::npos)
        << unwritable.err;

    simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Exception, .value = 2});
    const CliResult exception = Run({"hour"});
    EXPECT_EQ(exception.status, 5);
    EXPECT_NE(exception.err.find("прибор ответил ошибкой 2"), std::string::npos) << exception.err;

    const CliResult silent = Run({"day", "--address", "7"}); // no meter there
    EXPECT_EQ(silent.status, 5);
    EXPECT_NE(
        silent.err.find("счётчик 7: ОШИБКА СВЯЗИ: Чтение суточного архива остановлено: прибор не отвечает"),
        std::string::npos)
        << silent.err;

    // A read that stalls after its first row keeps the previous output.
    dir.Write("out.txt", "previous\r\n");
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1, .after = 9});
    const CliResult stalled = Run({"day", "--output", dir.File("out.txt")});
    EXPECT_EQ(stalled.status, 5);
    EXPECT_EQ(dir.Read("out.txt"), "previous\r\n");
    EXPECT_EQ(dir.Read("out.partial.txt").rfind("DATE HOUR", 0), 0u);
    EXPECT_NE(stalled.err.find("Прочитанные строки сохранены в файле " + dir.File("out.partial.txt")),
              std::string::npos)
        << stalled.err;
    simulator.ClearFaults();

    simulator.AddFault({.step = sim::Step::PacketReady, .kind = sim::FaultKind::NoAnswer, .times = -1});
    EXPECT_EQ(Run({"day"}).status, 4);
    simulator.AddFault({.step = sim::Step::Ready, .kind = sim::FaultKind::NoAnswer, .times = -1});
    const CliResult gateway = Run({"read-settings"});
    EXPECT_EQ(gateway.status, 4);
    EXPECT_NE(gateway.err.find("Адаптер не отвечает"), std::string::npos) << gateway.err;
}

// Noise on one answer of each step (identification, length, template, a
// row): asked again, the file byte for byte as on a clean line. Noise that
// persists, or on the answer to a write (never sent twice: "next row" twice
// would skip a row), ends the read: the previous file kept.
TEST_F(CliTool, NoisyAnswersAreAskedAgainAndNeverWritten) {
    for (int pass : {0, 2, 3, 6}) {
        simulator.AddFault(
            {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Burst, .value = 3, .after = pass});
        const CliResult day = Run({"day", "--output", dir.File("day.txt")});
        EXPECT_EQ(day.status, 0) << pass << day.err;
        EXPECT_EQ(dir.Read("day.txt"), SmallDayFile) << pass;
        EXPECT_NE(day.err.find("Искажённых ответов запрошено повторно: 1."), std::string::npos) << day.err;
    }
    dir.Write("day.txt", "previous\r\n");
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Corrupt, .index = 4, .after = 4});
    const CliResult write = Run({"day", "--output", dir.File("day.txt")});
    EXPECT_EQ(write.status, 5);
    EXPECT_EQ(dir.Read("day.txt"), "previous\r\n");
    EXPECT_NE(write.err.find("ответ пришёл искажённым (контрольная сумма не совпала)"), std::string::npos)
        << write.err;
    simulator.AddFault({.step = sim::Step::MeterAnswer,
                        .kind = sim::FaultKind::Corrupt,
                        .index = 4,
                        .times = -1,
                        .after = 5});
    const CliResult noisy = Run({"day", "--output", dir.File("day.txt")});
    EXPECT_EQ(noisy.status, 5);
    EXPECT_EQ(dir.Read("day.txt"), "previous\r\n");
    EXPECT_EQ(dir.Read("day.partial.txt").rfind("DATE HOUR", 0), 0u);
    EXPECT_NE(noisy.err.find("ответы приходят искажёнными (контрольная сумма не совпала 3 раза подряд)"),
              std::string::npos)
        << noisy.err;
}

TEST_F(CliTool, APortAnotherProgramHoldsNamesIt) {
    Rs232Port holder(simulator.PortPath(), 115200);
    ASSERT_TRUE(holder.Ok);
    const CliResult r = Run({"day"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("устройство занято другой программой: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(pid " + std::to_string(getpid()) + ")"), std::string::npos) << r.err;
}

// --dial: the modem on the line connects before the command and hangs up
// after it, also after a command that failed; a dial that fails runs no command.
struct ModemSimLine {
    explicit ModemSimLine(sim::ModemFault fault) : simulator(Options(fault)) { simulator.Start(); }
    static sim::SimOptions Options(sim::ModemFault fault) {
        sim::SimOptions o;
        o.AnswerGapMs = 3;
        o.Modem = {.Present = true, .Fault = fault, .ConnectDelayMs = 20, .GuardMs = 100};
        return o;
    }
    CliResult Run(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", simulator.PortPath(), "--link", "i2c", "--dial", "555-12-34"});
        return Cli(args);
    }
    sim::Simulator simulator;
};

class CliDial : public ::testing::Test {
protected:
    CliDial() {
        TimingConstants fast;
        fast.ModemAnswerMs = 1000;
        fast.ModemGuardMs = 150;
        fast.DtrDropMs = 20;
        fast.ModemSettleMs = 30;
        fast.ArchiveAnswerTimeoutMs = 300;
        SetTimingForTests(fast);
    }
    ~CliDial() override { SetTimingForTests(TimingConstants{}); }
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
};

TEST_F(CliDial, ACommandThroughTheModemAndTheHangUpAfterIt) {
    ModemSimLine line(sim::ModemFault::None);
    const CliResult read = line.Run({"read-settings"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "address=1\nrs485-speed=57600\npacket=on\nmodem=off\ninit-line=ATZ\n");
    EXPECT_EQ(read.err, "модем: набор номера 555-12-34\nмодем: CONNECT 9600\nмодем: трубка положена\n");
    EXPECT_EQ(line.simulator.ModemDialled(), "P5551234"); // OPTIONS.INI's default: pulse
    EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Command);

    // A command that fails still hangs up.
    const CliResult silent = line.Run({"day", "--address", "9", "--output", dir.File("day.txt")});
    EXPECT_EQ(silent.status, 5) << silent.err;
    EXPECT_NE(silent.err.find("модем: трубка положена\n"), std::string::npos) << silent.err;
    EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Command);
}

TEST_F(CliDial, ABusyNumberEndsWithItsStatusAndRunsNoCommand) {
    ModemSimLine line(sim::ModemFault::Busy);
    const CliResult r = line.Run({"read-settings"});
    EXPECT_EQ(r.status, 12);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "модем: набор номера 555-12-34\n"
                     "configurator-cli: Модем: занято (BUSY). Наберите номер позже.\n");
    EXPECT_EQ(line.simulator.Exchanges(), 0);
    EXPECT_EQ(Cli({"csv", "x.txt", "--dial", "1"}).status, 2); // no line, nothing to dial for
    EXPECT_EQ(Cli({"scan", "--dial", "12;ATH"}).status, 2);    // no commands in the number
}

} // namespace

// A line of meters: the scan's table on stdout, a batch's files equal to
// single reads byte for byte, and the status when some meters were not read.
TEST_F(CliTool, ScansTheLineAndReadsSeveralMeters) {
    sim::MeterSetup five;
    five.Address = 5;
    five.Ident = sim::IdentificationForType(8);
    five.DayRows = 3;
    simulator.AddMeter(five);

    const CliResult scan = Run({"scan", "--address", "1-6", "--wait", "60"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out.substr(0, scan.out.find("\r\n")), "\xEF\xBB\xBF"
                                                         "Адрес;Результат;Тип;Версия;Конфигурация 1;"
                                                         "Конфигурация 2;Ответ, мс");
    EXPECT_NE(scan.out.find("\r\n5;опознан;8;4611;1032;10551297;"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("\r\n6;нет ответа;;;;;\r\n"), std::string::npos) << scan.out;
    EXPECT_NE(scan.err.find("Поиск закончен. Ответили адресов: 2."), std::string::npos) << scan.err;

    const CliResult batch = Run({"day", "--address", "1,5", "-o", dir.File("day-{address}.txt")});
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(dir.Read("day-001.txt"), SmallDayFile);
    ASSERT_EQ(Run({"day", "--address", "5", "-o", dir.File("single.txt")}).status, 0);
    EXPECT_EQ(dir.Read("day-005.txt"), dir.Read("single.txt"));
    EXPECT_NE(batch.err.find("счётчик 5, суточный архив: прочитан, строк 3, "), std::string::npos)
        << batch.err;

    TimingConstants fast;
    fast.ArchiveAnswerTimeoutMs = 100;
    SetTimingForTests(fast);
    const CliResult some = Run({"hour", "--address", "1,9", "-o", dir.File("hour-{address}.txt")});
    EXPECT_EQ(some.status, 8) << some.err;
    EXPECT_NE(some.err.find("счётчик 9, часовой архив: не прочитан: прибор не отвечает, строк 0, "),
              std::string::npos)
        << some.err;
    EXPECT_NE(some.err.find(" с, файл не записан\n"), std::string::npos) << some.err; // it names no file
    EXPECT_EQ(dir.Read("hour-001.txt"), SmallHourFile);
    EXPECT_EQ(Run({"day", "--address", "1,5", "-o", dir.File("day.txt")}).status, 2); // no {address}
}
