// Which stored request values are taken back: a number field takes what the
// send itself reads as a number in the field's range, the text of function
// 16 what fits one packet; anything else is a file edited by hand or left by
// another version, and the field keeps its default.
#include "console/RequestMemory.h"

#include "base/Cp1251.h"
#include "base/StrToInt.h"
#include "base/Timing.h"
#include "console/Framing.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

constexpr std::size_t LongestField = 64;

std::optional<std::string> Stored(const std::map<std::string, std::string>& stored, const char* key) {
    const auto at = stored.find(key);
    if (at == stored.end() || at->second.size() > LongestField + MaxWriteDataBytes) return std::nullopt;
    const std::string& text = at->second;
    if (std::any_of(text.begin(), text.end(), [](char c) { return c >= 0 && c < ' '; })) return std::nullopt;
    return text;
}

void TakeNumber(const std::map<std::string, std::string>& stored, const char* key, int low, int high,
                std::string& field) {
    const auto text = Stored(stored, key);
    int value = 0;
    if (text && text->size() <= LongestField && TryStrToInt(*text, value) && value >= low && value <= high)
        field = *text;
}

} // namespace

std::map<std::string, std::string> StoredRequestFields(const RequestFields& f) {
    return {{"address", f.Address},   {"function", f.Function},
            {"register", f.Register}, {"count", f.Count},
            {"device", f.DeviceType}, {"poll-interval", std::to_string(f.PollIntervalMs)}};
}

RequestFields RestoredRequestFields(const std::map<std::string, std::string>& stored) {
    RequestFields f;
    TakeNumber(stored, "address", 0, 255, f.Address);
    TakeNumber(stored, "function", 0, 255, f.Function);
    TakeNumber(stored, "register", 0, 65535, f.Register);
    int function = 0;
    TryStrToInt(f.Function, function);
    if (function == 16) {
        // The text goes into the packet as CP1251 bytes.
        if (const auto text = Stored(stored, "count");
            text && static_cast<int>(Utf8ToCp1251(*text).size()) <= MaxWriteDataBytes)
            f.Count = *text;
    } else {
        // The send takes the low 16 bits of any whole number.
        TakeNumber(stored, "count", INT32_MIN, INT32_MAX, f.Count);
    }
    if (const auto text = Stored(stored, "device"); text && text->size() <= LongestField)
        f.DeviceType = *text;
    std::string interval;
    TakeNumber(stored, "poll-interval", MinPollIntervalMs, MaxPollIntervalMs, interval);
    if (!interval.empty()) f.PollIntervalMs = StrToInt(interval);
    return f;
}
