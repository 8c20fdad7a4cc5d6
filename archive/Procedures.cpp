// Number notations on one exact rounding core, BCD texts and values by data type.
#include "archive/Procedures.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

// A digit count or position, never negative where it is used, as the string's
// size type.
std::size_t Size(int n) {
    return static_cast<std::size_t>(n);
}

// Exact decimal digits of a finite positive double: |a| = 0.d1d2... x 10^E.
// A double is M x 2^e; its decimal expansion ends at the 10^e place when e < 0
// (and at the units when e >= 0), so asking for that many significant digits
// makes the conversion print the exact value with nothing left to round.
void ExactDigits(double a, std::string& digits, int& exponent) {
    int exp2 = 0;
    const double mantissa = std::frexp(a, &exp2);
    auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    int e = exp2 - 53;
    while ((bits & 1) == 0) {
        bits >>= 1;
        ++e;
    }
    // floor(log10(a)) + 1 is the decimal exponent; log10 may be one off near a
    // power of ten, so one more digit is asked for (it is then a zero).
    const int integerDigits = static_cast<int>(std::floor(std::log10(a))) + 2;
    int significant = e < 0 ? integerDigits - e : integerDigits;
    significant = std::clamp(significant, 1, 800);

    char buffer[832];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific, significant - 1);
    const char* p = buffer;
    digits.clear();
    for (; p != result.ptr && *p != 'e'; ++p)
        if (*p != '.') digits.push_back(*p);
    int exp10 = 0;
    if (p != result.ptr) {
        ++p;
        if (*p == '+') ++p;
        std::from_chars(p, result.ptr, exp10);
    }
    exponent = exp10 + 1;
}

void AppendExponent(std::string& text, int exponent, int minDigits) {
    if (exponent < 0) text.push_back('-');
    std::string number = std::to_string(std::abs(exponent));
    if (static_cast<int>(number.size()) < minDigits) text.append(Size(minDigits) - number.size(), '0');
    text += number;
}

bool SpecialText(const DecimalDigits& r, std::string& text) {
    if (r.NotANumber) {
        text = "NAN";
        return true;
    }
    if (r.Infinite) {
        text = r.Negative ? "-INF" : "INF";
        return true;
    }
    return false;
}

} // namespace

DecimalDigits RoundDecimal(double value, int maxSignificant, int lastDecimalPlace) {
    DecimalDigits r;
    if (std::isnan(value)) {
        r.NotANumber = true;
        return r;
    }
    r.Negative = std::signbit(value);
    if (std::isinf(value)) {
        r.Infinite = true;
        return r;
    }
    if (value == 0) {
        r.Negative = false;
        return r;
    }

    std::string exact;
    int exponent = 0;
    ExactDigits(std::fabs(value), exact, exponent);

    int keep = maxSignificant;
    if (lastDecimalPlace >= 0) keep = std::min(keep, exponent + lastDecimalPlace);
    if (keep < 0) { // below a tenth of the last place: rounds to zero
        r.Negative = false;
        return r;
    }
    std::string digits = exact.substr(0, std::min(Size(keep), exact.size()));
    // The exact digits make half away from zero a look at the next digit alone.
    if (Size(keep) < exact.size() && exact[Size(keep)] >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        for (; i >= 0 && digits[Size(i)] == '9'; --i)
            digits[Size(i)] = '0';
        if (i >= 0) {
            ++digits[Size(i)];
        } else {
            digits.insert(digits.begin(), '1');
            digits.pop_back(); // all nines: one digit more in front, one less behind
            if (digits.empty()) digits = "1";
            ++exponent;
        }
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (digits.empty()) {
        r.Negative = false;
        return r;
    }
    r.Digits = std::move(digits);
    r.Exponent = exponent;
    return r;
}

std::string FormatGeneral(double value, char decimalSeparator, const GeneralFormat& format) {
    const DecimalDigits r = RoundDecimal(value, 7);
    std::string text;
    if (SpecialText(r, text)) return text;
    if (r.Digits.empty()) return "0";
    if (r.Negative) text.push_back('-');

    const std::string& d = r.Digits;
    const int count = static_cast<int>(d.size());
    const int e = r.Exponent;
    if (e >= format.minPositionalExponent && e <= format.maxPositionalExponent) {
        if (e > 0) {
            text.append(d, 0, Size(std::min(e, count)));
            if (count < e) text.append(Size(e - count), '0');
            if (count > e) {
                text.push_back(decimalSeparator);
                text.append(d, Size(e));
            }
        } else {
            text.push_back('0');
            text.push_back(decimalSeparator);
            text.append(Size(-e), '0');
            text += d;
        }
        return text;
    }
    text.push_back(d[0]);
    if (count > 1) {
        text.push_back(decimalSeparator);
        text.append(d, 1);
    }
    text.push_back('E');
    AppendExponent(text, e - 1, format.minExponentDigits);
    return text;
}

std::string FormatFixed2(double value, char decimalSeparator) {
    const DecimalDigits r = RoundDecimal(value, 7, 2);
    std::string text;
    if (SpecialText(r, text)) return text;
    if (!r.Digits.empty() && r.Exponent > 7) return FormatGeneral(value, decimalSeparator, ArchiveGeneral);
    if (r.Negative) text.push_back('-');

    const std::string& d = r.Digits;
    const int count = static_cast<int>(d.size());
    const int e = r.Digits.empty() ? 0 : r.Exponent;
    if (e > 0) {
        text.append(d, 0, Size(std::min(e, count)));
        if (count < e) text.append(Size(e - count), '0');
    } else {
        text.push_back('0');
    }
    text.push_back(decimalSeparator);
    // The decimals: zeros up to d1 when E < 0, the digits after the point, zeros to fill.
    std::string decimals(Size(e < 0 ? -e : 0), '0');
    if (count > std::max(e, 0)) decimals.append(d, Size(std::max(e, 0)));
    decimals.resize(2, '0');
    text += decimals;
    return text;
}

std::string BcdDateToText(const std::uint8_t* bytes) {
    // Nibbles above 9 give the characters after '9' (':' to '?'), unchecked.
    auto pair = [](std::string& text, std::uint8_t b) {
        text.push_back(static_cast<char>('0' + (b >> 4)));
        text.push_back(static_cast<char>('0' + (b & 0x0F)));
    };
    std::string text;
    text.reserve(10);
    pair(text, bytes[0]);
    text.push_back('-');
    pair(text, bytes[1]);
    text.push_back('-');
    text += bytes[2] == 0x99 ? "19" : "20";
    pair(text, bytes[2]);
    return text;
}

std::string BcdHourToText(std::uint8_t byte) {
    std::string text(2, ' ');
    if (byte >> 4) text[0] = static_cast<char>('0' + (byte >> 4));
    text[1] = static_cast<char>('0' + (byte & 0x0F));
    return text;
}

float Float32FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

std::string ValueToText(std::uint32_t value, int dataType, char decimalSeparator) {
    switch (dataType) {
    case DataByte:
        return std::to_string(value & 0xFFu);
    case DataInt16:
        return std::to_string(static_cast<std::int16_t>(value & 0xFFFFu));
    case DataInt24: {
        const std::uint32_t low = value & 0xFFFFFFu;
        const std::int32_t signedValue =
            (low & 0x800000u) ? static_cast<std::int32_t>(low) - 0x1000000 : static_cast<std::int32_t>(low);
        return std::to_string(signedValue);
    }
    case DataInt32:
        return std::to_string(static_cast<std::int32_t>(value));
    case DataFlo24:
        return FormatGeneral(Float32FromBits((value & 0xFFFFFFu) << 8), decimalSeparator, ArchiveGeneral);
    case DataFlo32:
        return FormatGeneral(Float32FromBits(value), decimalSeparator, ArchiveGeneral);
    default:
        return std::to_string(value);
    }
}
