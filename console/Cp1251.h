// Conversions between CP1251 and UTF-8 in the core (the windows convert
// through Qt; the core has no Qt): the program's own texts are UTF-8 in the
// source, screen texts cross to the window as CP1251 bytes.
#pragma once
#include <string>
#include <string_view>

// A byte without a character (0x98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view bytes);
// A character CP1251 does not have becomes '?'.
std::string Utf8ToCp1251(std::string_view text);
