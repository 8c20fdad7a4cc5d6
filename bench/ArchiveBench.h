// What the benchmarks share: their application around the run, the time a
// simulator's transcript must take on the two lines (sim/LineTiming.h), a
// headless run with messages on stderr, and the archive read by the console
// window's button, timed, against the simulator with real line timing.
#pragma once
#include "sim/Simulator.h"

#include <benchmark/benchmark.h>
#include <optional>
#include <string>
#include <vector>

class Rs232Port;

// The time the transcript's bytes take on the lines: every byte of the PC
// line at `pcSpeed`, and every meter exchange with its end-of-frame silences
// at `meterSpeed`.
double LineLimitSeconds(const std::vector<sim::TraceEntry>& trace, int pcSpeed, double meterSpeed);

// Runs the benchmarks that argv selects in an application on the display Qt
// finds (xvfb, offscreen, a desktop).
void RunBenchmarks(int argc, char** argv);
// Runs the benchmarks that argv selects in a headless application whose
// messages go to stderr: a message box would stop a run, and a read that
// stops says why there.
void RunHeadless(int argc, char** argv);

struct ArchiveButtonRun {
    bool hour = false;      // the hour button, else the day button
    bool onArrival = false; // the receive loop driven by the port's bytes, else by its timer alone
    int rows = 0;           // the simulator's archive and what a complete read ends with
    int pcSpeed = 0;        // MainPort's speed; the simulator paces its line at it
    double meterSpeed = 0;  // the meter line's speed, for the line limit
    std::string dir;        // the program's folder, where the file is written
};
struct ArchiveButtonTimes {
    double seconds = 0, limit = 0; // the last read's time and its line-time limit
};

// The archive read by the button of a new console window, against a
// simulator with MainPort on its line. Made: the simulator (not started yet)
// has the default archive of `run.rows` and runs, the program's folder is
// `run.dir` and MainPort is open on the simulator's line; all as before again
// when it ends.
class ArchiveButtonBench {
public:
    ArchiveButtonBench(sim::Simulator& simulator, const ArchiveButtonRun& run);
    ~ArchiveButtonBench();
    ArchiveButtonBench(const ArchiveButtonBench&) = delete;
    ArchiveButtonBench& operator=(const ArchiveButtonBench&) = delete;

    // One read an iteration of `state`, each timed by hand; an iteration
    // whose read does not end with every row skips with an error.
    ArchiveButtonTimes Time(benchmark::State& state);

private:
    sim::Simulator& simulator_;
    ArchiveButtonRun run_;
    std::optional<std::string> savedDir_;
    Rs232Port* savedPort_ = nullptr;
};
