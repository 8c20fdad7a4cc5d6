// Texts of the register value decoder: the label map of Memo3's value lines
// and the byte notation of its configuration lines.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Label of the 4-byte value at a register address; the first matching range
// wins, k = (address - base) div 2 + 1. 100 gives "G1  ", 418 "SM10",
// 1004 "10012 ", an unmapped address "--  ".
std::string ValueLabel(std::int32_t address);

// A byte in lower-case hexadecimal without leading zeros (0x05: "5").
std::string HexByte(std::uint8_t b);

// A value line of Memo3: label, "(", address, "): ", the number, "\r\n".
std::string ValueLine(std::int32_t address, float value, char decimalSeparator);

// One register value of an answer as the values pane decodes it: the
// version (4) and configuration word (5) are 16-bit, the configuration at 6
// is a 32-bit word, every other address a 4-byte float.
struct RegisterValue {
    std::int32_t Address = 0;
    std::string Name; // the pane's label and address, e.g. "G1(100)", "Adr_Vers(4)"
    double Value = 0;
};
// The values of an answer's data bytes read from `startRegister` on, grouped
// as the values pane groups them; bytes that complete no value are left out.
std::vector<RegisterValue> RegisterValues(std::int32_t startRegister, const std::uint8_t* data,
                                          std::int32_t count);
