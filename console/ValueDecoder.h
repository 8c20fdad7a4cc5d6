// Texts of the register value decoder: the label map of Memo3's value lines
// and the byte notation of its configuration lines.
#pragma once
#include <cstdint>
#include <string>

// Label of the 4-byte value at a register address; the first matching range
// wins, k = (address - base) div 2 + 1. 100 gives "G1  ", 418 "SM10",
// 1004 "10012 ", an unmapped address "--  ".
std::string ValueLabel(std::int32_t address);

// A byte in lower-case hexadecimal without leading zeros (0x05: "5").
std::string HexByte(std::uint8_t b);

// A value line of Memo3: label, "(", address, "): ", the number, "\r\n".
std::string ValueLine(std::int32_t address, float value, char decimalSeparator);
