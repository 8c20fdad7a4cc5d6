// What the parts of one simulator share: the lock over every piece of
// simulated state (cells, meters, faults, transcript), the condition that
// wakes whoever waits on a change, the stop flag and the transcript.
#pragma once
#include "sim/Faults.h"
#include "sim/PtyLine.h"
#include "sim/SimOptions.h"
#include "sim/Transcript.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace sim {

struct Shared {
    explicit Shared(const SimOptions& options) : opt(options) {}

    const SimOptions opt;
    const Clock::time_point created = Clock::now();
    mutable std::mutex m;
    mutable std::condition_variable changed;
    std::atomic<bool> stop{false};
    FaultTable faults;             // guarded by m
    std::vector<TraceEntry> trace; // guarded by m

    // Adds bytes to the transcript, stamped now.
    void Record(Direction dir, const std::uint8_t* bytes, std::size_t count);
    // Adds bytes with the times their last bits were through.
    void Record(Direction dir, const std::vector<Arriving>& run);
    // A recorder for SendPaced.
    RecordRun Recorder(Direction dir) {
        return [this, dir](const std::uint8_t* bytes, std::size_t count) { Record(dir, bytes, count); };
    }
    // One pass of a fault step (see FaultTable::Pass).
    std::optional<Fault> Pass(Step step, const std::vector<FaultKind>& kinds = {});
    bool SleepUntil(Clock::time_point until) { return sim::SleepUntil(until, stop); }
    void SleepMs(int ms) { SleepUntil(Clock::now() + std::chrono::milliseconds(ms)); }
};

} // namespace sim
