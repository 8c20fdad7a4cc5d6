// Small pieces of the command-line text forms (faults, meters).
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

namespace sim {

// A whole number, decimal or 0x-hexadecimal, within +-10^9.
inline bool ParseNumber(const std::string& text, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    long v = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    value = static_cast<int>(v);
    return true;
}

// The parts of `text` between the separators (an empty text gives one empty part).
inline std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        auto pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string::npos) break;
        start = pos + 1;
    }
    return parts;
}

} // namespace sim
