// CP1251 bytes to UTF-8 for the core's message texts (the windows convert
// through Qt; the core has no Qt).
#pragma once
#include <string>
#include <string_view>

std::string Cp1251ToUtf8(std::string_view bytes);
