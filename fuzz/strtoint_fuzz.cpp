// StrToInt against a small model of the integer rule written separately from
// it: leading blanks, then either an optional sign and decimal digits within
// 32 bits, or "$", "x" or "0x" (either case) and hexadecimal digits within
// 0..0xFFFFFFFF taken as a 32-bit pattern. Nothing else, nothing after.
#include "base/StrToInt.h"
#include "support/FuzzCheck.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Non-empty and made only of digits of the base.
bool AllDigits(std::string_view s, bool hex) {
    if (s.empty()) return false;
    const std::string_view digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
    return s.find_first_not_of(digits) == std::string_view::npos;
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
}

std::optional<std::int32_t> Model(std::string_view text) {
    const auto start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(start);

    std::string_view hex;
    bool isHex = true;
    if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X'))
        hex = rest.substr(1);
    else if (rest.starts_with("0x") || rest.starts_with("0X"))
        hex = rest.substr(2);
    else
        isHex = false;
    if (isHex) {
        if (!AllDigits(hex, true)) return std::nullopt;
        const std::string_view digits = WithoutLeadingZeros(hex);
        if (digits.size() > 8) return std::nullopt;
        const auto pattern = static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16));
        return static_cast<std::int32_t>(pattern);
    }

    bool negative = false;
    if (rest.starts_with('+') || rest.starts_with('-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (!AllDigits(rest, false)) return std::nullopt;
    const std::string_view digits = WithoutLeadingZeros(rest);
    if (digits.size() > 10) return std::nullopt;
    long long value = std::stoll(std::string(digits));
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> expected = Model(text);

    int value = 12345;
    const bool ok = TryStrToInt(text, value);
    FUZZ_CHECK(ok == expected.has_value());
    if (ok) FUZZ_CHECK(value == *expected);

    try {
        const int thrown = StrToInt(text);
        FUZZ_CHECK(expected.has_value() && thrown == *expected);
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!expected.has_value());
        // what() is a C string: it ends at a zero byte of the text.
        const std::string message = "'" + text + "' is not a valid integer value";
        FUZZ_CHECK(e.what() == message.substr(0, message.find('\0')));
    }
    return 0;
}
