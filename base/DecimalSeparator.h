// The decimal separator of numbers written as text: the user's regional
// setting, one byte in CP1251.
#pragma once
#include <string_view>

// The separator for a locale's decimal point given in UTF-8: its one CP1251
// byte, or '.' when it is no single character of that code page.
char DecimalSeparatorOf(std::string_view utf8Point);

// The separator of the user's locale by the same rule. Linux: as the C
// library reads it from the environment (LC_ALL, LC_NUMERIC, LANG); Windows:
// the user's LOCALE_SDECIMAL.
char UserDecimalSeparator();
