// Any bytes as an archive file through the reader and the CSV writer: every
// row kept has one text and one value per column and is its file line cut at
// single blanks; values only where a number was written, and the same value
// again after the CSV's rewriting without exponent; problems in line order
// and never more than the reader keeps.
//
// Input: the file's bytes.
#include "archive/ArchiveCsv.h"
#include "archive/ArchiveFile.h"
#include "support/FuzzCheck.h"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string_view> Lines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

double Parse(std::string text) {
    for (char& c : text)
        if (c == ',') c = '.';
    double v = std::nan("");
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ArchiveTable t = ReadArchiveText(bytes);
    const auto lines = Lines(bytes);

    FUZZ_CHECK(t.Problems.size() <= static_cast<std::size_t>(MaxArchiveProblems));
    FUZZ_CHECK(t.MoreProblems == 0 || t.Problems.size() == static_cast<std::size_t>(MaxArchiveProblems));
    for (std::size_t i = 1; i < t.Problems.size(); ++i)
        FUZZ_CHECK(t.Problems[i - 1].Line <= t.Problems[i].Line);
    int previous = 1;
    for (const ArchiveRow& row : t.Rows) {
        FUZZ_CHECK(row.Line > previous && static_cast<std::size_t>(row.Line) <= lines.size());
        previous = row.Line;
        FUZZ_CHECK(row.Texts.size() == t.Columns.size() && row.Values.size() == t.Columns.size());
        std::string joined;
        bool incomplete = false;
        for (std::size_t c = 0; c < row.Texts.size(); ++c) {
            const std::string& text = row.Texts[c];
            joined += text + " ";
            incomplete = incomplete || text == "?";
            if (!std::isnan(row.Values[c])) {
                FUZZ_CHECK(t.Columns[c].Numeric() && ArchiveNumberText(text));
                // The CSV's text of the number is the same number.
                const std::string plain = PlainNumberText(text, ',');
                FUZZ_CHECK(plain.find_first_of("Ee") == std::string::npos);
                const double again = Parse(plain);
                FUZZ_CHECK(again == row.Values[c] || (std::isinf(again) && std::isinf(row.Values[c])));
            }
        }
        FUZZ_CHECK(row.Incomplete == incomplete);
        const std::string_view line = lines[static_cast<std::size_t>(row.Line - 1)];
        FUZZ_CHECK(line == joined || line == std::string_view(joined).substr(0, joined.size() - 1));
    }

    const std::string csv = ArchiveCsv(t, ',');
    FUZZ_CHECK(csv.compare(0, 3, "\xEF\xBB\xBF") == 0 && csv.size() >= 5 &&
               csv.compare(csv.size() - 2, 2, "\r\n") == 0);
    if (FuzzTrace())
        std::fprintf(stderr, "columns %zu, rows %zu, problems %zu\n", t.Columns.size(), t.Rows.size(),
                     t.Problems.size());
    return 0;
}
