// The decimal separator from a locale's decimal point, and the user's one
// through each system's locale call.
#include "base/DecimalSeparator.h"

#include "base/Cp1251.h"

#include <string>

#ifdef _WIN32
#include "base/WideText.h"

#include <windows.h>
#else
#include <clocale>
#include <langinfo.h>
#endif

char DecimalSeparatorOf(std::string_view utf8Point) {
    // A point the code page lacks converts to '?', which no number may show.
    const std::string point = Utf8ToCp1251(utf8Point);
    return point.size() == 1 && point[0] != '?' && point[0] != '\0' ? point[0] : '.';
}

#ifdef _WIN32
char UserDecimalSeparator() {
    wchar_t text[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) <= 0) return '.';
    return DecimalSeparatorOf(Narrow(text));
}
#else
char UserDecimalSeparator() {
    // A locale the environment names but the system lacks: the C locale's point.
    locale_t locale = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) return '.';
    const std::string point = nl_langinfo_l(RADIXCHAR, locale);
    const std::string charset = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    // The C library gives the point in the locale's own character set: an
    // ASCII point is the same in all of them.
    const bool ascii = point.size() == 1 && static_cast<unsigned char>(point[0]) < 0x80;
    return ascii || charset == "UTF-8" ? DecimalSeparatorOf(point) : '.';
}
#endif
