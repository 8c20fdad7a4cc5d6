// The command-line text form of a meter on the line.
#include "sim/Meter.h"

#include "sim/TextParts.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace sim {

namespace {

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool ParseIdent(const std::string& text, Identification& id) {
    auto parts = Split(text, ',');
    if (parts.size() != 3) return false;
    int version = 0, config1 = 0;
    if (!ParseNumber(parts[0], version) || !ParseNumber(parts[1], config1)) return false;
    char* end = nullptr;
    unsigned long config2 = std::strtoul(parts[2].c_str(), &end, 0);
    if (parts[2].empty() || *end || version < 0 || version > 0xFFFF || config1 < 0 || config1 > 0xFFFF ||
        config2 > 0xFFFFFFFFul)
        return false;
    id = {static_cast<std::uint16_t>(version), static_cast<std::uint16_t>(config1),
          static_cast<std::uint32_t>(config2)};
    return true;
}

// One KEY or KEY=VALUE of a meter's text.
bool ParseKey(const std::string& part, MeterSetup& setup, std::string* error) {
    auto eq = part.find('=');
    std::string key = part.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : part.substr(eq + 1);
    if (key == "silent" && eq == std::string::npos) {
        setup.Silent = true;
        return true;
    }
    if (key == "ident") return ParseIdent(value, setup.Ident) || Fail(error, "ident needs V,C1,C2");
    static const char* const NumberKeys[] = {"type", "slow", "exception", "seed", "day-rows", "hour-rows"};
    if (std::find(std::begin(NumberKeys), std::end(NumberKeys), key) == std::end(NumberKeys))
        return Fail(error, "'" + key + "' is not a meter key (see --help)");
    int n = 0;
    if (eq == std::string::npos || !ParseNumber(value, n)) return Fail(error, key + " needs a number");
    bool good = true;
    if (key == "type") {
        try {
            setup.Ident = IdentificationForType(n);
        } catch (const std::invalid_argument& e) {
            return Fail(error, e.what());
        }
    } else if (key == "slow") {
        good = n >= 0;
        setup.DelayMs = n;
    } else if (key == "exception") {
        good = n >= 1 && n <= LastExceptionCode;
        setup.ExceptionCode = n;
    } else if (key == "seed") {
        setup.Seed = n;
    } else {
        good = n >= 0;
        (key == "day-rows" ? setup.DayRows : setup.HourRows) = n;
    }
    if (!good) return Fail(error, "'" + part + "' is out of range (see --help)");
    return true;
}

} // namespace

std::optional<MeterSetup> ParseMeterOption(const std::string& text, std::string* error) {
    auto parts = Split(text, ':');
    MeterSetup setup;
    if (!ParseNumber(parts[0], setup.Address) || setup.Address < 1 || setup.Address > LastMeterAddress) {
        Fail(error, "a meter's address is 1..247, not '" + parts[0] + "'");
        return std::nullopt;
    }
    setup.Seed = setup.Address;
    for (std::size_t i = 1; i < parts.size(); ++i)
        if (!ParseKey(parts[i], setup, error)) return std::nullopt;
    return setup;
}

} // namespace sim
