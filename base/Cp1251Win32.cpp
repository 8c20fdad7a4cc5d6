// CP1251 and UTF-8 through the system's code page 1251 (Windows has no
// iconv), with the same results as the iconv conversion: a byte without a
// character and a character without a byte become '?'.
#include "base/Cp1251.h"

#include "base/WideText.h"

#include <windows.h>

namespace {

constexpr UINT CodePage1251 = 1251;
constexpr unsigned char UnassignedByte = 0x98;

} // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    // A single-byte code page: one UTF-16 unit for every byte.
    std::wstring wide(bytes.size(), L'\0');
    MultiByteToWideChar(CodePage1251, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        static_cast<int>(wide.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) == UnassignedByte) wide[i] = L'?';
    return Narrow(wide);
}

std::string Utf8ToCp1251(std::string_view text) {
    if (text.empty()) return {};
    // Decoded here rather than by the system, so that a malformed sequence
    // and a character beyond the first plane each become one '?'.
    std::wstring wide;
    wide.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                             : (lead & 0xF8) == 0xF0 ? 4
                                                     : 0;
        unsigned long code = length == 1   ? lead
                             : length == 2 ? (lead & 0x1Fu)
                             : length == 3 ? (lead & 0x0Fu)
                                           : (lead & 0x07u);
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (!valid) {
            // Skip one whole UTF-8 character, as the iconv conversion does.
            std::size_t n = 1;
            while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
                ++n;
            wide += L'?';
            i += n;
            continue;
        }
        wide += code < 0x10000 && (code < 0xD800 || code > 0xDFFF) ? static_cast<wchar_t>(code) : L'?';
        i += length;
    }
    const int size = static_cast<int>(wide.size());
    std::string out(wide.size(), '\0');
    char unknown = '?';
    const int n = WideCharToMultiByte(CodePage1251, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), size,
                                      &unknown, nullptr);
    out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return out;
}
