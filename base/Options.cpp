// Reading and writing OPTIONS.INI.
#include "base/Options.h"

#include "base/ComNumber.h"
#include "base/Files.h"
#include "base/Paths.h"
#include "base/TextFile.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

TAppOptions AppOptions;

namespace {

// Reads one line the way a text-mode fgets with a limit does: CR before LF is
// dropped, at most `limit` characters including the "\n". A longer line is cut
// there and the rest of it skipped, so the next value comes from its own line.
// Returns false when the file had ended before anything was read.
bool ReadLine(std::FILE* f, int limit, std::string& line, bool& cut) {
    line.clear();
    cut = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\r') {
            int next = std::fgetc(f);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, f);
            }
        }
        if (static_cast<int>(line.size()) + 1 == limit && c != '\n') {
            // No room left for anything but the line end: skip the rest.
            cut = true;
            while (c != EOF && c != '\n')
                c = std::fgetc(f);
            break;
        }
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return any;
}

// atoi: leading white space, optional sign, digits up to the first non-digit.
long long AtoiLike(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (v < 10000000000LL) v = v * 10 + (s[i] - '0'); // saturate far outside every range
    }
    return negative ? -v : v;
}

} // namespace

std::string OptionsFilePath() {
    const std::string dir = ConfigDir();
    return dir.empty() ? std::string() : dir + "OPTIONS.INI";
}

bool LoadOptions(const std::string& path, TAppOptions& o) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f) return false;

    struct NumberLine {
        int* field;
        long long low, high;
        bool multipleOf2400;
    };
    const NumberLine before[] = {
        {&o.PortNumber, FirstComNumber, LastComNumber, false},
        {&o.BaudRate, 0, 0, true},
        {&o.LinkMode, 1, 2, false},
        {&o.I2cAddress, 1, 127, false},
        {&o.ZepLanAddress, 0, 255, false},
        {&o.Reserved6, 1, 2, false},
        {&o.Reserved7, 1, 3, false},
    };
    const NumberLine after[] = {{&o.DialMode, 1, 2, false}, {&o.ConnectWaitSeconds, 1, 200, false}};

    std::string line;
    bool cut = false;
    auto readNumber = [&](const NumberLine& n) {
        if (!ReadLine(f, 18, line, cut)) return false;
        long long v = AtoiLike(line);
        bool accepted = n.multipleOf2400 ? (v % 2400 == 0 && v >= INT32_MIN && v <= INT32_MAX)
                                         : (v >= n.low && v <= n.high);
        if (accepted) *n.field = static_cast<int>(v);
        return true;
    };

    bool more = true;
    for (const auto& n : before)
        if (more) more = readNumber(n);
    if (more) {
        more = ReadLine(f, MaxModemInitLength + 1, line, cut);
        if (more) {
            // A cut line keeps its first characters and its line end, so the
            // string still writes back as one line.
            if (cut) line += '\n';
            o.ModemInitString = line;
        }
    }
    for (const auto& n : after)
        if (more) more = readNumber(n);
    std::fclose(f);
    return true;
}

std::string FormatOptions(const TAppOptions& o) {
    std::string text;
    auto number = [&](int v) { text += std::to_string(v) + "\n"; };
    number(o.PortNumber);
    number(o.BaudRate);
    number(o.LinkMode);
    number(o.I2cAddress);
    number(o.ZepLanAddress);
    number(o.Reserved6);
    number(o.Reserved7);
    // Line 8 always ends with its line end, also for a string read from a last
    // line that had none: otherwise line 9 would be glued to it.
    text += o.ModemInitString;
    if (o.ModemInitString.empty() || o.ModemInitString.back() != '\n') text += '\n';
    number(o.DialMode);
    number(o.ConnectWaitSeconds);
    return TextModeBytes(text);
}

bool SaveOptions(const std::string& path, const TAppOptions& o) {
    const std::string bytes = FormatOptions(o);
    const std::string temp = path + ".tmp";
    if (std::FILE* f = OpenFile(temp, "wb")) {
        bool ok = WriteAndClose(f, bytes);
        if (ok) ok = MoveFileOver(temp, path);
        if (!ok) RemoveFile(temp);
        return ok;
    }
    // A folder that takes no new file but holds a writable OPTIONS.INI: write
    // the file in place, as a plain overwrite would.
    std::FILE* f = OpenFile(path, "r+b");
    if (!f) return false;
    if (!TruncateFile(f)) {
        std::fclose(f);
        return false;
    }
    return WriteAndClose(f, bytes);
}
