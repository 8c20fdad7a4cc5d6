// Text forms of the simulator's transcript.
#include "sim/Transcript.h"

#include <cstdio>

namespace sim {
namespace {

// Bytes of one line in order; `far` marks the bytes to put in parentheses.
std::string FormatLine(const std::vector<TraceEntry>& entries, Direction near, Direction far) {
    std::string out;
    char b[4];
    bool inGroup = false;
    for (const auto& e : entries) {
        if (e.Dir != near && e.Dir != far) continue;
        bool isFar = e.Dir == far;
        if (inGroup && !isFar) {
            out += ')';
            inGroup = false;
        }
        if (!out.empty()) out += ' ';
        if (isFar && !inGroup) {
            out += '(';
            inGroup = true;
        }
        std::snprintf(b, sizeof b, "%02X", e.Byte);
        out += b;
    }
    if (inGroup) out += ')';
    return out;
}

} // namespace

const char* DirectionName(Direction dir) {
    switch (dir) {
    case Direction::FromPc:
        return "PC>GW ";
    case Direction::ToPc:
        return "GW>PC ";
    case Direction::ToMeter:
        return "GW>MTR";
    case Direction::FromMeter:
        return "MTR>GW";
    }
    return "?";
}

std::string FormatPcLine(const std::vector<TraceEntry>& entries) {
    return FormatLine(entries, Direction::FromPc, Direction::ToPc);
}

std::string FormatMeterLine(const std::vector<TraceEntry>& entries) {
    return FormatLine(entries, Direction::ToMeter, Direction::FromMeter);
}

std::string FormatTrace(const std::vector<TraceEntry>& entries) {
    std::string out;
    char b[64];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        bool start = i == 0 || entries[i - 1].Dir != e.Dir;
        if (start) {
            if (i) out += '\n';
            std::snprintf(b, sizeof b, "%4lld.%06lld %s", static_cast<long long>(e.Micros / 1000000),
                          static_cast<long long>(e.Micros % 1000000), DirectionName(e.Dir));
            out += b;
        }
        std::snprintf(b, sizeof b, " %02X", e.Byte);
        out += b;
    }
    if (!out.empty()) out += '\n';
    return out;
}

} // namespace sim
