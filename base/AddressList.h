// Meter addresses written as a list with ranges, as the command line and the
// session files take them: "1,5,7-9".
#pragma once
#include <string>
#include <vector>

// Addresses from text such as "1,5,7-9" (0..255, each once, in the order
// given); empty with `error` set when the text does not fit.
std::vector<int> ParseAddressList(const std::string& text, std::string& error);
