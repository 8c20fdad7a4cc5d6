// CSV of an archive table.
#include "archive/ArchiveCsv.h"

#include "archive/Shablon.h"
#include "base/Cp1251.h"
#include "base/Files.h"

#include <algorithm>
#include <cstdio>

// RFC 4180: a field holding the separator, a quote, a line end or an outer
// blank is quoted, its quotes doubled.
void AppendCsvField(std::string& out, const std::string& field, char separator) {
    const bool quote = field.find_first_of(std::string("\"\r\n") + separator) != std::string::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

char CsvFieldSeparator(char decimalSeparator) {
    return decimalSeparator == ',' ? ';' : ',';
}

std::string ArchiveCsv(const ArchiveTable& table, char decimalSeparator, std::size_t first,
                       std::size_t last) {
    const char separator = CsvFieldSeparator(decimalSeparator);
    std::string out = CsvByteOrderMark;
    out += CsvTimeHeader;
    for (const auto& c : table.Columns) {
        out += separator;
        AppendCsvField(out, Cp1251ToUtf8(c.Keyword), separator);
    }
    out += "\r\n";
    last = std::min(last, table.Rows.size());
    for (std::size_t r = first; r < last; ++r) {
        const ArchiveRow& row = table.Rows[r];
        if (row.Time) out += IsoTimeText(*row.Time);
        for (std::size_t i = 0; i < row.Texts.size(); ++i) {
            out += separator;
            const std::string& text = row.Texts[i];
            const std::int32_t kind = table.Columns[i].Kind;
            if (kind == ColHour && text.size() == 2 && text[0] == ' ')
                AppendCsvField(out, text.substr(1), separator); // " 5" is the number 5
            else if (table.Columns[i].Numeric())
                AppendCsvField(out, PlainNumberText(text, decimalSeparator), separator);
            else
                AppendCsvField(out, Cp1251ToUtf8(text), separator);
        }
        out += "\r\n";
    }
    return out;
}

bool WriteArchiveCsv(const std::string& path, const std::string& csv) {
    std::FILE* file = OpenFile(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(csv.data(), 1, csv.size(), file) == csv.size();
    return std::fclose(file) == 0 && written;
}
