// The simulator's transcript: every byte on both of its lines, with its
// direction and time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Direction {
    FromPc,    // PC -> gateway
    ToPc,      // gateway -> PC
    ToMeter,   // gateway -> meter (RS-485)
    FromMeter, // meter -> gateway (RS-485)
};

struct TraceEntry {
    std::int64_t Micros = 0; // since the simulator was created
    Direction Dir = Direction::FromPc;
    std::uint8_t Byte = 0;
};

// "B0 (DD) 5A 50 01 (01)": the bytes of one line in order, the far side's
// bytes in parentheses. PC line: PC bytes plain, gateway bytes in
// parentheses. RS-485 line: gateway bytes plain, meter bytes in parentheses.
std::string FormatPcLine(const std::vector<TraceEntry>& entries);
std::string FormatMeterLine(const std::vector<TraceEntry>& entries);

// One text line per run of bytes in one direction: seconds with
// microseconds, the direction, the bytes in hex ("   0.012345 PC>GW  B0").
std::string FormatTrace(const std::vector<TraceEntry>& entries);

const char* DirectionName(Direction dir);

} // namespace sim
