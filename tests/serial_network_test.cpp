// Network ports: addresses, the telnet side of RFC 2217, and the port against
// real servers on loopback: ser2net (raw TCP and RFC 2217) in front of the
// simulated gateway, and small servers of the test's own that never
// acknowledge or that drop the connection.
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "serial/Telnet.h"
#include "sim/NetListen.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/ConsoleArchives.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"
#include "support/Ser2net.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(PortAddress, SchemesHostsAndPorts) {
    const auto raw = ParsePortAddress("tcp://10.0.0.7:4001");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->Kind, NetPortKind::RawTcp);
    EXPECT_EQ(raw->Host, "10.0.0.7");
    EXPECT_EQ(raw->Port, 4001);
    const auto v6 = ParsePortAddress("rfc2217://[::1]:2217");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Kind, NetPortKind::Rfc2217);
    EXPECT_EQ(PortAddressText(*v6), "rfc2217://[::1]:2217");
    std::string error;
    for (const char* bad : {"tcp://host", "tcp://:5", "tcp://host:0", "tcp://host:65536", "tcp://ho st:5",
                            "tcp://[::1:5", "rfc2217://host:5x"})
        EXPECT_FALSE(ParsePortAddress(bad, &error)) << bad;
    EXPECT_FALSE(IsNetworkAddress("/dev/ttyUSB0"));
}

TEST(Telnet, DataBytesAndCommandsAreApart) {
    // 0xFF in data is doubled on the wire and single again after decoding,
    // also when a chunk ends between the two.
    const std::vector<std::uint8_t> data{0x01, 0xFF, 0xFF, 0x02};
    std::vector<std::uint8_t> wire;
    telnet::Escape(data.data(), data.size(), wire);
    EXPECT_EQ(wire, (std::vector<std::uint8_t>{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
    telnet::Decoder d;
    std::vector<std::uint8_t> out;
    for (std::uint8_t b : wire)
        d.Take(&b, 1, out);
    EXPECT_EQ(out, data);

    // The server's acknowledgement of the speed, an option it offers that
    // the client refuses, and data around them.
    const std::vector<std::uint8_t> server{0x07, 0xFF, 0xFA, 44,   101,  0x00, 0x01, 0xC2, 0x00,
                                           0xFF, 0xF0, 0xFF, 0xFB, 0x05, 0x08, 0xFF, 0xFA, 44,
                                           105,  3,    0xFF, 0xF0, 0xFF, 0xFD, 44};
    out.clear();
    d.Take(server.data(), server.size(), out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x07, 0x08}));
    EXPECT_EQ(d.ServerBaudRate(), 115200);
    EXPECT_TRUE(d.Acknowledged(telnet::SetBaudRate));
    EXPECT_TRUE(d.Acknowledged(telnet::SetControl));
    EXPECT_FALSE(d.Acknowledged(telnet::SetParity));
    EXPECT_TRUE(d.ComPortAgreed());
    EXPECT_EQ(d.TakeReplies(), (std::vector<std::uint8_t>{0xFF, 0xFE, 0x05}));
    // A speed whose bytes hold 0xFF goes out with them doubled.
    const std::vector<std::uint8_t> odd = telnet::ComPortCommand(telnet::SetBaudRate, {0, 0, 0xFF, 0x10});
    EXPECT_EQ(odd, (std::vector<std::uint8_t>{0xFF, 0xFA, 44, 1, 0, 0, 0xFF, 0xFF, 0x10, 0xFF, 0xF0}));
}

// A listening socket on a free loopback port.
struct Listener {
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 4);
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    int fd = -1;
    int port = 0;
};

TEST(NetworkPort, RefusedAndNeverAcknowledgedAndDropped) {
    TimingConstants fast;
    fast.NetSettingsWaitMs = 100;
    fast.ReadTimeoutBaseMs = 300;
    SetTimingForTests(fast);
    {
        const std::string address = "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
        Rs232Port refused(address, 115200);
        EXPECT_FALSE(refused.IsOpen());
        EXPECT_EQ(PortNotOpenText(refused).find("Порт не открыт: соединение отвергнуто (" + address), 0u)
            << PortNotOpenText(refused);
    }
    {
        // A server that takes the connection and says nothing: the port works
        // on, and the status line says the settings were not acknowledged.
        Listener server;
        Rs232Port quiet("rfc2217://127.0.0.1:" + std::to_string(server.port), 115200);
        ASSERT_TRUE(quiet.IsOpen());
        EXPECT_FALSE(quiet.SettingsAcknowledged);
        EXPECT_NE(PortStatusText(&quiet, 2, 115200).find("подключён, круговая задержка"), std::string::npos);
        EXPECT_NE(PortStatusText(&quiet, 2, 115200).find("сервер не подтвердил настройки"),
                  std::string::npos);
        // The far end goes away mid-read: the port is disconnected, not spinning.
        const int peer = accept(server.fd, nullptr, nullptr);
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            close(peer);
        });
        std::uint8_t b[4];
        std::uint32_t got = 0;
        quiet.ReadBlock(b, 4, got);
        closer.join();
        EXPECT_TRUE(quiet.Disconnected);
        EXPECT_NE(PortDisconnectedText(quiet).find("разорвано. Порт подключится сам"), std::string::npos);
    }
    SetTimingForTests(TimingConstants{});
}

// ser2net between the simulated gateway's pseudo-terminal and the program.
class Ser2net : public ::testing::Test {
protected:
    Ser2net() { simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive()); }
    int Day(const std::string& port, const std::string& file) {
        const CliResult r = Cli({"day", "--port", port, "--link", "i2c", "-o", dir.File(file)});
        lastErr = r.err;
        return r.status;
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    std::string lastErr;
};

TEST_F(Ser2net, TheDayArchiveByteForByteOverRawTcpAndRfc2217) {
    simulator.Start();
    Ser2netServer server(simulator.PortPath(), dir);
    ASSERT_TRUE(server.Started()) << "ser2net did not start (is it installed?)";
    EXPECT_EQ(Day(server.RawAddress(), "raw.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("raw.txt"), SmallDayFile);
    Ser2netServer::LetGo();
    EXPECT_EQ(Day(server.RfcAddress(), "rfc.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("rfc.txt"), SmallDayFile);
    // ser2net acknowledges every setting.
    Ser2netServer::LetGo();
    Rs232Port port(server.RfcAddress(), 115200);
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.SettingsAcknowledged);
}

// Rows whose bytes are mostly 0xFF (full counters, byte codes of 255, floats
// just under 256) come through RFC 2217, where 0xFF is telnet's escape, as
// they come through the pseudo-terminal.
TEST_F(Ser2net, RowsFullOf0xFFAsOnThePseudoTerminal) {
    sim::ArchiveData data;
    data.Template = "DATE TIME Q1 M1 ERRORCODE MODES";
    for (int d = 1; d <= 6; ++d) {
        sim::ArchiveRecord r;
        r.Day = d;
        r.Values = {
            {"TIME", 65535}, {"Q1", 255.99998474121094}, {"M1", -1.0}, {"ERRORCODE", 255}, {"MODES", 255}};
        data.Records.push_back(r);
    }
    simulator.SetArchive(sim::ArchiveKind::Day, data);
    int ff = 0;
    for (const auto& row : sim::ArchiveRowBytes(data, sim::ArchiveKind::Day))
        for (std::uint8_t b : row)
            ff += b == 0xFF;
    ASSERT_GE(ff, 4 * 6);
    simulator.Start();
    EXPECT_EQ(Day(simulator.PortPath(), "pty.txt"), 0) << lastErr;
    Ser2netServer server(simulator.PortPath(), dir);
    ASSERT_TRUE(server.Started()) << "ser2net did not start (is it installed?)";
    EXPECT_EQ(Day(server.RfcAddress(), "rfc.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("rfc.txt"), dir.Read("pty.txt"));
    EXPECT_NE(dir.Read("rfc.txt").find(" 256 -1 255 255"), std::string::npos) << dir.Read("rfc.txt");
}

// The simulator's own listener, holding every run 20 ms each way: late
// answers cost their lateness and the file is whole; a server that drops an
// idle client leaves the port disconnected, as a pulled adapter does.
TEST_F(Ser2net, TheSimulatorsListenerDelayedAndIdleDropped) {
    simulator.Start();
    sim::NetListener listener(simulator.PortPath(), {.delayMs = 20, .idleCloseMs = 300});
    listener.Start();
    EXPECT_EQ(Day(listener.Address(), "day.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    // A scan over the same link finds the meters a local line has.
    sim::MeterSetup second;
    second.Address = 5;
    simulator.AddMeter(second);
    const CliResult scan = Cli({"scan", "--port", listener.Address(), "--link", "i2c", "--address", "1-6"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("\n1;опознан;"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("\n5;опознан;"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("\n6;нет ответа"), std::string::npos) << scan.out;
    Rs232Port port(listener.Address(), 115200);
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.CheckLine());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(port.CheckLine());
    EXPECT_TRUE(port.Disconnected);
}

} // namespace
