// The program's one CP1251 <-> UTF-8 conversion, through the C library's
// iconv. Bytes on the line and in files are CP1251; the program's own texts
// are UTF-8 in the source. The windows' QString conversions (ui/TextCodec.h)
// are built on these.
#pragma once
#include <string>
#include <string_view>

// A byte without a character (0x98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view bytes);
// A character CP1251 does not have becomes '?'.
std::string Utf8ToCp1251(std::string_view text);
