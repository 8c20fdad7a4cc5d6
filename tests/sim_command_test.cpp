// The gateway-sim command: its help, its link as ports/COMn, a real exchange
// through the link, and the link's removal on SIGTERM.
#include "support/LineClient.h"
#include "support/Pty.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The command is built beside the configurator, one folder above the tests.
std::string CommandPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "gateway-sim")
        .string();
}

std::string RunCommand(const std::string& args) {
    std::string out;
    FILE* p = popen((CommandPath() + " " + args + " 2>&1").c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    pclose(p);
    return out;
}

TEST(SimCommand, HelpListsEveryOptionWithItsDefault) {
    std::string help = RunCommand("--help");
    for (const char* option :
         {"--link",          "--trace",         "--pace ",         "--pace-rs485",      "--zeplan",
          "--address",       "--switches",      "--speed-code",    "--init-line",       "--exchange-timeout",
          "--answer-gap",    "--apply-busy",    "--meter-address", "--meter-delay",     "--meter-silent",
          "--device-type",   "--ident",         "--day-rows",      "--hour-rows",       "--day-template",
          "--hour-template", "--long-template", "--packets",       "--packet-interval", "--packet-pattern",
          "--packet-count",  "--fault",         "--no-pace",       "--no-pace-rs485",   "--meter ",
          "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_EQ(RunCommand("--bogus"), "gateway-sim: unknown option --bogus (see --help)\n");
    EXPECT_EQ(RunCommand("--fault nowhere:none"), "gateway-sim: --fault: unknown step 'nowhere'\n");
    EXPECT_EQ(RunCommand("--meter 5:loud"), "gateway-sim: --meter: 'loud' is not a meter key (see --help)\n");
    EXPECT_EQ(RunCommand("--meter 1:type=8"), "gateway-sim: two meters at address 1\n");
}

TEST(SimCommand, LinksRunsAndCleansUpOnTerm) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("ports"));
    std::string link = dir.File("ports/COM2");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(CommandPath().c_str(), "gateway-sim", "--link", link.c_str(), "--address", "9", "--meter",
              "5:type=8", static_cast<char*>(nullptr));
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::is_symlink(link) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    {
        LineClient pc(link);
        pc.Send("B0");
        EXPECT_EQ(pc.ReceiveHex(1, 5000), "DD");
        pc.Send("5A 50 02 81 58 00 00 01");
        EXPECT_EQ(pc.ReceiveHex(4, 5000), "01 00 09 00");
        // The meter of --meter answers at its address.
        pc.Send("11");
        EXPECT_EQ(pc.ReceiveHex(1, 5000), "22");
        pc.Send("06 05 04 00 04 00 04");
        EXPECT_EQ(pc.ReceiveHex(12, 5000), "00 05 04 08 12 03 04 08 00 A1 00 01");
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

} // namespace
