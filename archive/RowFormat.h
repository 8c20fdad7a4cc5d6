// Archive row formatting: one row's bytes cut by the column descriptor into
// the text line written to day.txt or hour.txt.
#pragma once
#include "archive/Shablon.h"

#include <cstdint>
#include <string>

// Bytes of the row area in which the transfer assembles a row.
inline constexpr int RowAreaSize = 800;

// Appends the row's text to `line`: every column's text followed by one space,
// in descriptor order (an empty descriptor appends nothing). Reverses each
// float column's 4 bytes in place in `row`. Reads only row[0 .. rowLength),
// rowLength clamped to 0 .. RowAreaSize: a column whose bytes are not all
// inside is written as "?" (as is a column of an unknown kind code), so that
// bytes of an earlier row never show as this row's values.
void FormatStrArhivToStrFile(const ShablonDescriptor& descriptor, std::uint8_t* row, int rowLength,
                             char decimalSeparator, std::string& line);
