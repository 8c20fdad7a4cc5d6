// The modem's telephone number: a setting of its own in PHONE.TXT beside
// OPTIONS.INI, since OPTIONS.INI keeps its ten lines byte for byte. One line,
// CP1251, ending in CR LF like the program's other files.
#pragma once
#include <optional>
#include <string>

inline constexpr const char* PhoneFileName = "PHONE.TXT";
// The longest number kept (a modem's dial string holds about 40 characters).
inline constexpr int MaxPhoneLength = 40;

// PHONE.TXT in the folder of `optionsPath` (OPTIONS.INI's full name).
std::string PhoneFilePathBeside(const std::string& optionsPath);

// The number kept in the file: its first line without the line end; empty
// when the file is missing or empty.
std::string LoadPhoneNumber(const std::string& path);
// Writes the number as the file's one line (through a temporary file, so a
// failure leaves the old file whole). An empty number with no file there
// creates none. False when the file cannot be written.
bool SavePhoneNumber(const std::string& path, const std::string& number);

// Why a number cannot be dialled as typed (UTF-8, for the settings dialog),
// nothing when it can. Digits, the blanks and - ( ) that modems skip, and the
// dial modifiers , * # ! @ W P T are taken; anything else could end the
// dial command early or pass a command of its own to the modem.
std::optional<std::string> PhoneNumberRefusal(const std::string& number);
// The number as it goes after ATDT or ATDP: without blanks, '-', '(' and ')'.
std::string DialString(const std::string& number);
