// Column conversions of an archive row.
#include "archive/RowFormat.h"

#include "archive/Procedures.h"
#include "base/Bytes.h"

#include <algorithm>

void FormatStrArhivToStrFile(const ShablonDescriptor& descriptor, std::uint8_t* row, int rowLength,
                             char decimalSeparator, std::string& line) {
    const int available = std::clamp(rowLength, 0, RowAreaSize);
    const int count = std::clamp(descriptor.ShablonColumnCount, 0, MaxShablonColumns);
    int position = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t kind = descriptor.ShablonColumns[i];
        const int width = ColumnByteCount(kind);
        if (width == 0 || position + width > available) {
            line += "? ";
            position += width;
            continue;
        }
        std::uint8_t* b = row + position;
        switch (kind) {
        case ColDate:
            line += BcdDateToText(b);
            break;
        case ColHour:
            line += BcdHourToText(b[0]);
            break;
        case ColMinutes8:
            line += FormatFixed2(b[0] / 60.0, decimalSeparator);
            break;
        case ColMinutes16: // least significant byte first, as the device stores it
            line += FormatFixed2((b[0] | b[1] << 8) / 60.0, decimalSeparator);
            break;
        case ColFloat32: {
            // Most significant byte first on the line; reversed in place to the
            // in-memory order, then read least significant first.
            ConvertNaoborot(4, b);
            const std::uint32_t bits =
                static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
            line += ValueToText(bits, DataFlo32, decimalSeparator);
            break;
        }
        case ColCount24: // least significant byte first, written undivided
            line += FormatFixed2(b[0] | b[1] << 8 | b[2] << 16, decimalSeparator);
            break;
        case ColByte:
            line += std::to_string(b[0]);
            break;
        }
        line += ' ';
        position += width;
    }
}
