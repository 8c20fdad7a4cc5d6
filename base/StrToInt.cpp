// StrToInt: strict whole-text integer conversion.
#include "base/StrToInt.h"

#include <cstdint>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The length of a hexadecimal prefix at `i` ("$", "x", "0x"), 0 when none.
std::size_t HexPrefix(const std::string& text, std::size_t i) {
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') return 1;
    if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) return 2;
    return 0;
}

// Hexadecimal digits from `i` to the end: up to 32 bits, taken as their two's
// complement.
bool TryHex(const std::string& text, std::size_t i, int& value) {
    if (i == text.size()) return false;
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<int>(static_cast<std::uint32_t>(v));
    return true;
}

// An optional sign and decimal digits from `i` to the end, within int's range.
bool TryDecimal(const std::string& text, std::size_t i, int& value) {
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

bool TryStrToInt(const std::string& text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size()) return false;
    if (const std::size_t prefix = HexPrefix(text, i)) return TryHex(text, i + prefix, value);
    return TryDecimal(text, i, value);
}

int StrToInt(const std::string& text) {
    int value = 0;
    if (!TryStrToInt(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}
