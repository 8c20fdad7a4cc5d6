// Integer conversion of typed text, as the toolkit's StrToInt does it: the
// whole text must be one integer, otherwise EConvertError.
#pragma once
#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Accepts leading blanks, then an optional sign and decimal digits, or "$",
// "x" or "0x" (either case) and hexadecimal digits. A value outside 32 bits
// (hexadecimal: outside 0..0xFFFFFFFF, taken as a signed 32-bit pattern) is an
// error too. Throws EConvertError("'<text>' is not a valid integer value").
int StrToInt(const std::string& text);

// As StrToInt, but returns false instead of throwing.
bool TryStrToInt(const std::string& text, int& value);
