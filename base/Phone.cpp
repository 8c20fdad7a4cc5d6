// The modem's telephone number and its file.
#include "base/Phone.h"

#include "base/Files.h"
#include "base/TextFile.h"

#include <cstring>

namespace {

bool Skipped(char c) {
    return c == ' ' || c == '-' || c == '(' || c == ')';
}

bool DialCharacter(char c) {
    return (c >= '0' && c <= '9') || std::strchr(",*#!@WwPpTt", c) != nullptr;
}

} // namespace

std::string PhoneFilePathBeside(const std::string& optionsPath) {
    return optionsPath.substr(0, optionsPath.rfind('/') + 1) + PhoneFileName;
}

std::string LoadPhoneNumber(const std::string& path) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f) return {};
    std::string number;
    for (int c = std::fgetc(f); c != EOF && c != '\n' && c != '\r'; c = std::fgetc(f))
        if (number.size() < static_cast<std::size_t>(MaxPhoneLength)) number.push_back(static_cast<char>(c));
    std::fclose(f);
    return number;
}

bool SavePhoneNumber(const std::string& path, const std::string& number) {
    if (number.empty() && !FileExists(path)) return true;
    const std::string temp = path + ".tmp";
    std::FILE* f = OpenFile(temp, "wb");
    if (!f) return false;
    bool ok = WriteAndClose(f, TextModeBytes(number + "\n"));
    if (ok) ok = MoveFileOver(temp, path);
    if (!ok) RemoveFile(temp);
    return ok;
}

std::optional<std::string> PhoneNumberRefusal(const std::string& number) {
    if (static_cast<int>(number.size()) > MaxPhoneLength)
        return "Номер телефона длиннее " + std::to_string(MaxPhoneLength) + " знаков. Сократите его.";
    for (char c : number)
        if (!DialCharacter(c) && !Skipped(c))
            return std::string("В номере телефона допустимы цифры, пробел и знаки - ( ) , * # ! @ W P T. "
                               "Исправьте номер.");
    return std::nullopt;
}

std::string DialString(const std::string& number) {
    std::string out;
    for (char c : number)
        if (!Skipped(c)) out.push_back(c);
    return out;
}
