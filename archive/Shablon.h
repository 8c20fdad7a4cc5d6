// Archive template: the keyword line a device sends before its rows, parsed
// into the column descriptor that cuts every row into values.
#pragma once
#include <cstdint>
#include <string_view>

enum ColumnKind : std::int32_t {
    ColDate = 1,      // 3 BCD bytes: day, month, year in century
    ColHour = 2,      // 1 BCD byte
    ColMinutes8 = 3,  // 1-byte minute count (duration keywords, hour archive)
    ColMinutes16 = 4, // 2-byte minute count, least significant first (duration keywords, day archive)
    ColFloat32 = 5,   // IEEE single, most significant byte first; also every unknown token
    ColCount24 = 6,   // 3-byte count, least significant first
    ColByte = 7       // 1-byte code
};

inline constexpr int MaxShablonColumns = 300;

struct ShablonDescriptor {
    std::int32_t ShablonColumns[MaxShablonColumns] = {};
    std::int32_t ShablonColumnCount = 0;
};

// Parses the template: its characters up to its end, tokens separated by a
// space or a line feed (carriage return and tab are token characters); every
// separator ends a token, an empty one included; a token not ended by a
// separator is dropped. Tokens are matched whole and case-sensitively; a
// token that is no keyword is a ColFloat32 column. mode 1 = day archive
// (duration keywords -> ColMinutes16), any other value the hour archive
// (ColMinutes8). Returns false, leaving ShablonColumnCount 0, for a template
// of more than MaxShablonColumns columns; never writes past the table.
bool AnalizShablonStrArhiva(std::string_view shablon, int mode, ShablonDescriptor& descriptor);

// Whether `token` is one of the template keywords (whole, case-sensitive).
bool ShablonKeyword(std::string_view token);

// Row bytes of one column: 3, 1, 1, 2, 4, 3, 1 for kinds 1..7; 0 for any other code.
int ColumnByteCount(std::int32_t kind);

// Total row bytes the descriptor's columns take.
int DescriptorWidth(const ShablonDescriptor& descriptor);
