// Shared text and value helpers: the number notations of the register decoder
// and the archive files, BCD date and hour texts, and values by data type code.
#pragma once
#include <cstdint>
#include <string>

// A value rounded to decimal digits: |value| = 0.d1d2... x 10^Exponent, with
// no trailing zeros in Digits. Zero has no digits.
struct DecimalDigits {
    std::string Digits;
    int Exponent = 0;
    bool Negative = false;
    bool Infinite = false;
    bool NotANumber = false;
};

// The one rounding core of both notations: rounds the exact binary value of
// `value` half away from zero to at most `maxSignificant` digits and, when
// `lastDecimalPlace` >= 0, to that many digits after the point.
DecimalDigits RoundDecimal(double value, int maxSignificant, int lastDecimalPlace = -1);

// value = 0.d1d2... x 10^E after rounding to 7 significant digits
struct GeneralFormat {
    int minPositionalExponent;
    int maxPositionalExponent;
    int minExponentDigits;
};
// Positional for 0.0001 <= |v| < 1e7; "1E-5", "1,234568E7".
inline constexpr GeneralFormat ArchiveGeneral{-3, 7, 1};
// Positional for 0.00001 <= |v| < 1e7; "1E-06", "1,234568E07".
inline constexpr GeneralFormat DecoderGeneral{-4, 7, 2};

// General notation with 7 significant digits; zero is "0", INF, -INF, NAN.
std::string FormatGeneral(double value, char decimalSeparator, const GeneralFormat& format);

// Fixed notation with two decimals, rounded to two decimals and to at most 7
// significant digits; general (ArchiveGeneral) when E > 7.
std::string FormatFixed2(double value, char decimalSeparator);

// 3 BCD bytes (day, month, year in century) -> "31-12-2008"; year 0x99 is 1999.
std::string BcdDateToText(const std::uint8_t* bytes);
// One BCD byte -> two characters, a leading 0 shown as a space: 0x05 -> " 5".
std::string BcdHourToText(std::uint8_t byte);

enum DataTypeCode { DataByte = 0, DataInt16 = 1, DataInt24 = 2, DataInt32 = 3, DataFlo24 = 4, DataFlo32 = 5 };

// The 32 bits taken as an IEEE 754 single.
float Float32FromBits(std::uint32_t bits);

// The low bytes of `value` as the data type says: BYTE unsigned decimal; INT16,
// INT24 and INT32 signed (two's complement) decimal; FLO32 the bits as an IEEE
// single and FLO24 the 24 bits as the upper three bytes of one, both in general
// notation (ArchiveGeneral). An unknown code gives the unsigned 32-bit decimal.
std::string ValueToText(std::uint32_t value, int dataType, char decimalSeparator);
