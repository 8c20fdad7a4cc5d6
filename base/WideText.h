// UTF-8 <-> UTF-16 for the Windows calls, which take and give wide strings
// (file names, system texts, the command line). Windows only.
#pragma once
#include <string>
#include <string_view>

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
