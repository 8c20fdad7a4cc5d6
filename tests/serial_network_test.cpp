// Network ports: addresses, the telnet side of RFC 2217, and the port against
// real servers on loopback: ser2net (raw TCP and RFC 2217) in front of the
// simulated gateway, and small servers of the test's own that never
// acknowledge or that drop the connection.
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "serial/Telnet.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/ConsoleArchives.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

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

// A free loopback port: bound once, then let go for a server to take.
int FreePort() {
    Listener l;
    return l.port;
}

TEST(NetworkPort, RefusedAndNeverAcknowledgedAndDropped) {
    TimingConstants fast;
    fast.NetSettingsWaitMs = 100;
    fast.ReadTimeoutBaseMs = 300;
    SetTimingForTests(fast);
    {
        const std::string address = "tcp://127.0.0.1:" + std::to_string(FreePort());
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

// ser2net between the simulated gateway's pseudo-terminal and the program,
// one raw and one RFC 2217 port; character delays off so that it forwards at once.
class Ser2net : public ::testing::Test {
protected:
    Ser2net() {
        simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
        simulator.Start();
        raw = FreePort();
        rfc = FreePort();
        char device[512];
        const ssize_t n = readlink(simulator.PortPath().c_str(), device, sizeof device - 1);
        const std::string path =
            n > 0 ? std::string(device, static_cast<std::size_t>(n)) : simulator.PortPath();
        auto connection = [&](const char* name, const std::string& accepter) {
            return std::string("connection: &") + name + "\n  accepter: " + accepter +
                   "\n  connector: serialdev," + path +
                   ",115200n81,local\n  options:\n    kickolduser: true\n    chardelay: false\n";
        };
        dir.Write("ser2net.yaml",
                  connection("raw", "tcp,127.0.0.1," + std::to_string(raw)) +
                      connection("rfc", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(rfc)));
        server = fork();
        if (server == 0) {
            execlp("ser2net", "ser2net", "-n", "-u", "-c", dir.File("ser2net.yaml").c_str(), "-P",
                   dir.File("ser2net.pid").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Listening once a connection is taken.
        for (int i = 0; i < 300 && !Listening(raw); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Ser2net() override {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
    static bool Listening(int port) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok;
    }
    int Day(const std::string& port, const std::string& file) {
        const CliResult r = Cli({"day", "--port", port, "--link", "i2c", "-o", dir.File(file)});
        lastErr = r.err;
        return r.status;
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    int raw = 0, rfc = 0;
    pid_t server = -1;
    std::string lastErr;
};

TEST_F(Ser2net, TheDayArchiveByteForByteOverRawTcpAndRfc2217) {
    ASSERT_TRUE(Listening(raw)) << "ser2net did not start (is it installed?)";
    EXPECT_EQ(Day("tcp://127.0.0.1:" + std::to_string(raw), "raw.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("raw.txt"), SmallDayFile);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // ser2net lets the device go
    const std::string address = "rfc2217://127.0.0.1:" + std::to_string(rfc);
    EXPECT_EQ(Day(address, "rfc.txt"), 0) << lastErr;
    EXPECT_EQ(dir.Read("rfc.txt"), SmallDayFile);
    // ser2net acknowledges every setting.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Rs232Port port(address, 115200);
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.SettingsAcknowledged);
}

} // namespace
