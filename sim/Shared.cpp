// The transcript and the fault passes every part of the simulator shares.
#include "sim/Shared.h"

namespace sim {

namespace {
constexpr std::size_t TranscriptLimit = 1u << 20; // entries; the older half goes when it is reached
}

void Shared::Record(Direction dir, const std::uint8_t* bytes, std::size_t count) {
    std::vector<Arriving> run;
    auto now = Clock::now();
    for (std::size_t i = 0; i < count; ++i)
        run.push_back({bytes[i], now});
    Record(dir, run);
}

void Shared::Record(Direction dir, const std::vector<Arriving>& run) {
    if (run.empty()) return;
    std::lock_guard lock(m);
    std::size_t count = run.size();
    if (trace.size() + count > TranscriptLimit) // a command left running for days
        trace.erase(trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(trace.size() / 2));
    std::size_t first = trace.size();
    for (const Arriving& a : run)
        trace.push_back(
            {std::chrono::duration_cast<std::chrono::microseconds>(a.at - created).count(), dir, a.byte});
    if (opt.TraceStream) {
        std::vector<TraceEntry> added(trace.begin() + static_cast<std::ptrdiff_t>(first), trace.end());
        std::fputs(FormatTrace(added).c_str(), opt.TraceStream);
        std::fflush(opt.TraceStream);
    }
    changed.notify_all();
}

std::optional<Fault> Shared::Pass(Step step, const std::vector<FaultKind>& kinds) {
    std::lock_guard lock(m);
    return faults.Pass(step, kinds);
}

} // namespace sim
