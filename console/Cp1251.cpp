// CP1251 to UTF-8 through the C library's iconv.
#include "console/Cp1251.h"

#include <iconv.h>

std::string Cp1251ToUtf8(std::string_view bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(bytes);
    std::string out(bytes.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
        // A byte without a character (0x98) becomes '?'; each byte yields at
        // most three output bytes, so the room never runs out.
        ++in;
        --inLeft;
        *dst++ = '?';
        --outLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}
