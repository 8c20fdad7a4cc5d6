// The day archive through configurator-cli.exe under Wine and through the
// Linux configurator-cli, one after the other in one run, each against its
// own simulator with real line timing (115200 bit/s to the gateway, speed
// code 51 on the meter line): each run's time, its line-time limit
// (sim/LineTiming.h) and their ratio, and the ratio of the two times.
// Needs WINDOWS_CLI (the .exe) and WINEPREFIX (a booted prefix); scripts/windows
// --bench sets them.
#include "ArchiveBench.h"
#include "sim/LineTiming.h"
#include "sim/Simulator.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int PcSpeed = 115200;
constexpr std::uint8_t SpeedCode = 51;
constexpr int WineComNumber = 24;

struct Run {
    double seconds = 0, limit = 0;
    bool ok = false;
};

// One day archive: `command` is run with the port given by `port(simulator)`.
// Written into `dir` by a relative name, which both tools take alike.
template <class Port>
Run DayArchive(const std::string& name, Port port, const std::string& dir, const std::string& output) {
    sim::SimOptions options;
    options.PaceBaud = PcSpeed;
    options.PaceRs485 = true;
    options.Settings.SpeedCode = SpeedCode;
    sim::Simulator simulator(options);
    simulator.SetArchive(sim::ArchiveKind::Day, sim::DefaultDayArchive(31));
    simulator.Start();
    const std::string command = "cd '" + dir + "' && " + port(simulator) + " --speed " +
                                std::to_string(PcSpeed) + " --link i2c day --output '" + output +
                                "' 2> /dev/null";
    simulator.ClearTranscript();
    const auto start = std::chrono::steady_clock::now();
    Run run;
    run.ok = std::system(command.c_str()) == 0;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.limit = LineLimitSeconds(simulator.Transcript(), PcSpeed, sim::SpeedOfCode(SpeedCode));
    std::printf("%-28s %7.3f s  limit %6.3f s  ratio %5.2f%s\n", name.c_str(), run.seconds, run.limit,
                run.seconds / run.limit, run.ok ? "" : "  FAILED");
    return run;
}

} // namespace

int main() {
    const char* exe = std::getenv("WINDOWS_CLI");
    const char* prefix = std::getenv("WINEPREFIX");
    const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
    const std::string linuxCli = (here.parent_path() / "configurator-cli").string();
    if (!exe || !prefix) {
        std::fprintf(stderr, "set WINDOWS_CLI (configurator-cli.exe) and WINEPREFIX (a booted prefix)\n");
        return 2;
    }
    TempDir dir;
    const std::string link = std::string(prefix) + "/dosdevices/com" + std::to_string(WineComNumber);
    const Run windows = DayArchive(
        "configurator-cli.exe (Wine)",
        [&](sim::Simulator& s) {
            std::filesystem::remove(link);
            std::filesystem::create_symlink(s.PortPath(), link);
            return "wine '" + std::string(exe) + "' --port " + std::to_string(WineComNumber);
        },
        dir.Path(), "day-windows.txt");
    std::filesystem::remove(link);
    const Run linux = DayArchive(
        "configurator-cli (Linux)", [&](sim::Simulator& s) { return linuxCli + " --port " + s.PortPath(); },
        dir.Path(), "day-linux.txt");
    std::printf("Wine / Linux: %.2f (Wine's start-up included)\n", windows.seconds / linux.seconds);
    return windows.ok && linux.ok ? 0 : 1;
}
