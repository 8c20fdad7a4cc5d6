// CP1251 and UTF-8 through the C library's iconv.
#include "base/Cp1251.h"

#include <iconv.h>

namespace {

std::string Convert(const char* to, const char* from, std::string_view in, std::size_t skip) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    // Each input byte gives at most three output bytes, so the room never
    // runs out; a sequence that cannot be converted becomes '?'.
    std::string out(in.size() * 3 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
        std::size_t n = 1;
        // Skip one whole UTF-8 character.
        if (skip > 1)
            while (n < srcLeft && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
                ++n;
        src += n;
        srcLeft -= n;
        *dst++ = '?';
        --dstLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
    return Convert("UTF-8", "CP1251", bytes, 1);
}

std::string Utf8ToCp1251(std::string_view text) {
    return Convert("CP1251", "UTF-8", text, 4);
}
