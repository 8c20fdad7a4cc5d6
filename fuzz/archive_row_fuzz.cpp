// An archive template and a row through the template parser and the row
// formatter: at most MaxShablonColumns columns or a refusal; one text per
// column, each followed by one blank; only the row's own bytes read, each
// float column's four bytes reversed in place and nothing else touched.
//
// Input: a mode byte (1 = day archive, anything else the hour archive), two
// bytes template length (least significant first), the template, then the
// row: every byte left.
#include "archive/RowFormat.h"
#include "archive/Shablon.h"
#include "support/FuzzCheck.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool OnlyOf(std::string_view text, std::string_view characters) {
    return !text.empty() && text.find_first_not_of(characters) == std::string_view::npos;
}

// The shape of one column's text: what the formatter may write for its kind.
void CheckColumnText(std::int32_t kind, std::string_view text) {
    switch (kind) {
    case ColDate: // "dd-mm-yyyy"; nibbles above 9 show as ':' to '?'
        FUZZ_CHECK(text.size() == 10 && text[2] == '-' && text[5] == '-');
        FUZZ_CHECK(OnlyOf(text, "0123456789:;<=>?-"));
        break;
    case ColHour:
        FUZZ_CHECK(text.size() == 2 && text[1] != ' ');
        break;
    case ColByte:
        FUZZ_CHECK(text.size() <= 3 && OnlyOf(text, "0123456789"));
        break;
    default: // numbers with the separator ',', or INF, -INF, NAN
        FUZZ_CHECK(OnlyOf(text, "0123456789,-E") || text == "INF" || text == "-INF" || text == "NAN");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const int mode = in.Byte();
    const std::string shablonBytes = in.Bytes(in.Word());
    const std::string rowBytes = in.Rest();

    const auto shablonBlock = ExactCopy(shablonBytes.data(), shablonBytes.size());
    const std::string_view shablon(reinterpret_cast<const char*>(shablonBlock.get()), shablonBytes.size());
    ShablonDescriptor descriptor;
    descriptor.ShablonColumnCount = 77; // the parser starts afresh
    const bool parsed = AnalizShablonStrArhiva(shablon, mode, descriptor);

    // Every separator (blank or line feed) ends one column.
    const auto separators =
        std::count_if(shablon.begin(), shablon.end(), [](char c) { return c == ' ' || c == '\n'; });
    if (separators > MaxShablonColumns) {
        FUZZ_CHECK(!parsed && descriptor.ShablonColumnCount == 0);
        FUZZ_CHECK(DescriptorWidth(descriptor) == 0);
        return 0;
    }
    FUZZ_CHECK(parsed && descriptor.ShablonColumnCount == separators);
    int width = 0;
    for (int i = 0; i < descriptor.ShablonColumnCount; ++i) {
        const std::int32_t kind = descriptor.ShablonColumns[i];
        FUZZ_CHECK(kind >= ColDate && kind <= ColByte);
        // Duration columns take the width of their archive.
        FUZZ_CHECK(kind != (mode == 1 ? ColMinutes8 : ColMinutes16));
        width += ColumnByteCount(kind);
    }
    FUZZ_CHECK(DescriptorWidth(descriptor) == width);

    const auto row = ExactCopy(rowBytes.data(), rowBytes.size());
    const int rowLength = static_cast<int>(rowBytes.size());
    std::string line = "x"; // the formatter appends
    FormatStrArhivToStrFile(descriptor, row.get(), rowLength, ',', line);
    FUZZ_CHECK(line.front() == 'x');

    // Walk the line column by column, and the row beside it.
    const int available = std::min(rowLength, RowAreaSize);
    std::string expectedRow = rowBytes;
    std::size_t at = 1;
    int position = 0;
    for (int i = 0; i < descriptor.ShablonColumnCount; ++i) {
        const std::int32_t kind = descriptor.ShablonColumns[i];
        const int bytes = ColumnByteCount(kind);
        // An hour text may start with a blank; every other text has none.
        const std::size_t end =
            kind == ColHour && position + bytes <= available ? at + 2 : line.find(' ', at);
        FUZZ_CHECK(end != std::string::npos && end < line.size() && line[end] == ' ');
        const std::string_view text = std::string_view(line).substr(at, end - at);
        if (position + bytes > available) {
            FUZZ_CHECK(text == "?"); // not all of the column's bytes came
        } else {
            CheckColumnText(kind, text);
            if (kind == ColFloat32)
                std::reverse(expectedRow.begin() + position, expectedRow.begin() + position + 4);
        }
        at = end + 1;
        position += bytes;
    }
    FUZZ_CHECK(at == line.size());
    FUZZ_CHECK(expectedRow.empty() || std::memcmp(expectedRow.data(), row.get(), expectedRow.size()) == 0);
    return 0;
}
