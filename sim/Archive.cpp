// The meter's archives: keyword kinds, row encoding and the default data.
#include "sim/Archive.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {
namespace {

const char* const DurationKeywords[] = {"TNORM",   "TNORM2",  "TNORM3",   "TMIN",    "TMIN2",    "TMIN3",
                                        "TMAX",    "TMAX2",   "TMAX3",    "TDELTAT", "TDELTAT2", "TDELTAT3",
                                        "TSUHOST", "TAVARIA", "TAVARIA2", "TNKP"};
const char* const ByteKeywords[] = {"ERRORCODE", "ERRORCODE2", "ERRORCODE3", "MODES"};
const char* const Count24Keywords[] = {"sTNORM", "sTNORM2", "sTNORM3"};
const char* const FloatKeywords[] = {
    "Q1",   "Q2",   "Q3",   "Q11",  "Q21",  "Q31",  "Q12",  "Q22", "Q32", "M1",   "M2",   "M3",   "M4",
    "M5",   "M6",   "M11",  "M21",  "M31",  "M41",  "M51",  "M61", "M12", "M22",  "M32",  "M42",  "M52",
    "M62",  "T1",   "T2",   "T3",   "T4",   "T5",   "T6",   "T7",  "P1",  "P2",   "P3",   "P4",   "P5",
    "P6",   "uM1",  "uM2",  "uM3",  "pM1",  "pM2",  "pM3",  "sQ1", "sQ2", "sQ3",  "sQ11", "sQ21", "sQ31",
    "sQ12", "sQ22", "sQ32", "sM1",  "sM2",  "sM3",  "sM4",  "sM5", "sM6", "sM11", "sM21", "sM31", "sM41",
    "sM51", "sM61", "sM12", "sM22", "sM32", "sM42", "sM52", "sM62"};

template <std::size_t N> bool In(const char* const (&table)[N], const std::string& word) {
    for (const char* k : table)
        if (word == k) return true;
    return false;
}

std::vector<std::string> Tokens(const std::string& templateText) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : templateText + "\n") {
        if (c == ' ' || c == '\n') {
            tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    return tokens;
}

std::uint8_t Bcd(int value) {
    value = std::clamp(value, 0, 99);
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

std::uint32_t Counter(double value, std::uint32_t max) {
    if (!(value > 0)) return 0;
    double r = std::round(value);
    return r >= max ? max : static_cast<std::uint32_t>(r);
}

bool IsLeap(int year) {
    return year % 4 == 0;
} // years 2000..2099

int DaysIn(int month, int year) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(2000 + year) ? 29 : days[month - 1];
}

void NextDay(ArchiveRecord& r) {
    if (++r.Day > DaysIn(r.Month, r.Year)) {
        r.Day = 1;
        if (++r.Month > 12) {
            r.Month = 1;
            r.Year = (r.Year + 1) % 100;
        }
    }
}

// Record i of a day archive from 01-01-2024 or of an hour archive from 25-01-2024 00h.
ArchiveRecord Dated(ArchiveKind kind, int i) {
    ArchiveRecord r;
    r.Day = kind == ArchiveKind::Day ? 1 : 25;
    r.Month = 1;
    r.Year = 24;
    int days = kind == ArchiveKind::Day ? i : i / 24;
    for (int d = 0; d < days; ++d)
        NextDay(r);
    r.Hour = kind == ArchiveKind::Day ? 0 : i % 24;
    return r;
}

} // namespace

const char* const DefaultDayTemplate =
    "DATE TIME TNORM TMIN TMAX TDELTAT TSUHOST TAVARIA sTNORM Q1 M1 M2 T1 T2 P1 P2 ERRORCODE MODES";
const char* const DefaultHourTemplate =
    "DATE HOUR TNORM TMIN TMAX TDELTAT TAVARIA Q1 M1 M2 T1 T2 P1 P2 ERRORCODE";

int ColumnWidth(int kind) {
    switch (kind) {
    case KindDate:
        return 3;
    case KindMinutes16:
        return 2;
    case KindFloat:
        return 4;
    case KindCount24:
        return 3;
    default:
        return 1;
    }
}

int KeywordKind(const std::string& keyword, ArchiveKind archive) {
    if (keyword == "DATE") return KindDate;
    if (keyword == "HOUR" || keyword == "TIME") return KindHour;
    if (In(ByteKeywords, keyword)) return KindByte;
    if (In(DurationKeywords, keyword)) return archive == ArchiveKind::Day ? KindMinutes16 : KindMinutes8;
    if (In(Count24Keywords, keyword)) return KindCount24;
    return KindFloat;
}

std::vector<int> TemplateColumnKinds(const std::string& templateText, ArchiveKind archive) {
    std::vector<int> kinds;
    for (const auto& t : Tokens(templateText))
        kinds.push_back(KeywordKind(t, archive));
    return kinds;
}

int TemplateRowWidth(const std::string& templateText, ArchiveKind archive) {
    int width = 0;
    for (int k : TemplateColumnKinds(templateText, archive))
        width += ColumnWidth(k);
    return width;
}

std::vector<std::uint8_t> EncodeArchiveRow(const std::string& templateText, ArchiveKind archive,
                                           const ArchiveRecord& record) {
    std::vector<std::uint8_t> row;
    for (const auto& token : Tokens(templateText)) {
        auto it = record.Values.find(token);
        double value = it == record.Values.end() ? 0.0 : it->second;
        switch (KeywordKind(token, archive)) {
        case KindDate:
            row.push_back(Bcd(record.Day));
            row.push_back(Bcd(record.Month));
            row.push_back(Bcd(record.Year % 100));
            break;
        case KindHour:
            row.push_back(Bcd(record.Hour));
            break;
        case KindMinutes8:
        case KindByte:
            row.push_back(static_cast<std::uint8_t>(Counter(value, 0xFF)));
            break;
        case KindMinutes16: {
            std::uint32_t v = Counter(value, 0xFFFF);
            row.push_back(static_cast<std::uint8_t>(v & 0xFF));
            row.push_back(static_cast<std::uint8_t>(v >> 8));
            break;
        }
        case KindCount24: {
            std::uint32_t v = Counter(value, 0xFFFFFF);
            row.push_back(static_cast<std::uint8_t>(v & 0xFF));
            row.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
            row.push_back(static_cast<std::uint8_t>(v >> 16));
            break;
        }
        default: {
            float f = static_cast<float>(value);
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            for (int shift = 24; shift >= 0; shift -= 8)
                row.push_back(static_cast<std::uint8_t>(bits >> shift));
            break;
        }
        }
    }
    return row;
}

std::vector<std::vector<std::uint8_t>> ArchiveRowBytes(const ArchiveData& data, ArchiveKind archive) {
    std::vector<std::vector<std::uint8_t>> rows;
    rows.reserve(data.Records.size());
    for (const auto& r : data.Records)
        rows.push_back(EncodeArchiveRow(data.Template, archive, r));
    return rows;
}

ArchiveData DefaultDayArchive(int rows) {
    ArchiveData data;
    data.Template = DefaultDayTemplate;
    for (int i = 0; i < rows; ++i) {
        ArchiveRecord r = Dated(ArchiveKind::Day, i);
        auto& v = r.Values;
        int d = i % 31;
        // Off-normal minutes on a few days of the month; normal the rest of the day.
        v["TMIN"] = d == 4 ? 30 : 0;
        v["TAVARIA"] = d == 9 ? 95 : 0;
        v["TDELTAT"] = d == 14 ? 45 : 0;
        v["TMAX"] = d == 19 ? 15 : 0;
        v["TSUHOST"] = d == 24 ? 60 : 0;
        v["TNORM"] = 1440 - v["TMIN"] - v["TAVARIA"] - v["TDELTAT"] - v["TMAX"] - v["TSUHOST"];
        v["sTNORM"] = 12345 + 24 * (i + 1);
        // Dyadic values: exact in single precision, so their texts are predictable.
        v["Q1"] = 2.5 + 0.125 * ((i * 7) % 9);
        v["M1"] = 48.25 + 0.5 * (i % 5);
        v["M2"] = v["M1"] - 0.75;
        v["T1"] = 70.5 + 0.25 * (i % 8);
        v["T2"] = v["T1"] - 20.25;
        v["P1"] = 6.5 + 0.125 * (i % 3);
        v["P2"] = 4.25;
        v["ERRORCODE"] = d == 9 ? 4 : d == 24 ? 2 : 0;
        v["MODES"] = 1;
        data.Records.push_back(r);
    }
    return data;
}

ArchiveData DefaultHourArchive(int rows) {
    ArchiveData data;
    data.Template = DefaultHourTemplate;
    for (int i = 0; i < rows; ++i) {
        ArchiveRecord r = Dated(ArchiveKind::Hour, i);
        auto& v = r.Values;
        v["TMIN"] = i % 24 == 3 ? 10 : 0; // low flow in the small hours
        v["TAVARIA"] = i == 30 ? 25 : 0;
        v["TDELTAT"] = i == 60 ? 20 : 0;
        v["TMAX"] = i == 100 ? 5 : 0;
        v["TNORM"] = 60 - v["TMIN"] - v["TAVARIA"] - v["TDELTAT"] - v["TMAX"];
        v["Q1"] = 0.125 + 0.015625 * (i % 6);
        v["M1"] = 2.0 + 0.0625 * (i % 4);
        v["M2"] = v["M1"] - 0.03125;
        v["T1"] = 70.0 + 0.5 * (i % 3);
        v["T2"] = 50.25 + 0.25 * (i % 2);
        v["P1"] = 6.5;
        v["P2"] = 4.25;
        v["ERRORCODE"] = i == 30 ? 4 : 0;
        data.Records.push_back(r);
    }
    return data;
}

std::string TemplateOfLength(int bytes) {
    if (bytes < 2) bytes = 2;
    std::string out;
    const std::size_t count = std::size(FloatKeywords);
    // Whole keywords while at least 6 bytes stay free, then an exact tail.
    for (std::size_t i = 0;; ++i) {
        std::string kw = FloatKeywords[i % count];
        int need = static_cast<int>(kw.size() + (out.empty() ? 0 : 1));
        int left = bytes - static_cast<int>(out.size()) - need;
        if (left != 0 && left < 6) break;
        if (!out.empty()) out += ' ';
        out += kw;
        if (left == 0) return out;
    }
    // Tails[n] is n bytes long.
    static const char* const Tails[] = {"",       "",        "Q1",       "Q11",       "sQ11",      "Q1 Q2",
                                        "Q1 Q11", "Q11 Q21", "sQ1 sQ11", "sQ11 sQ21", "Q1 Q2 sQ11"};
    int left = bytes - static_cast<int>(out.size());
    if (!out.empty()) {
        out += ' ';
        --left;
    }
    if (left >= 2 && left < static_cast<int>(std::size(Tails)))
        out += Tails[left];
    else
        out += std::string(static_cast<std::size_t>(std::max(left, 0)), 'X');
    return out;
}

ArchiveData GeneratedArchive(const std::string& templateText, ArchiveKind archive, int rows) {
    ArchiveData data;
    data.Template = templateText;
    auto tokens = Tokens(templateText);
    for (int i = 0; i < rows; ++i) {
        ArchiveRecord r = Dated(archive, i);
        for (std::size_t c = 0; c < tokens.size(); ++c) {
            if (r.Values.count(tokens[c])) continue;
            int col = static_cast<int>(c);
            double v = 0;
            switch (KeywordKind(tokens[c], archive)) {
            case KindMinutes16:
                v = (col * 7 + i * 3) % 1441;
                break;
            case KindMinutes8:
                v = (col * 7 + i * 3) % 61;
                break;
            case KindCount24:
                v = 1000 + col * 100 + i;
                break;
            case KindByte:
                v = (col + i) % 256;
                break;
            case KindFloat:
                v = (col + 1) * 1.25 + i * 0.5;
                break;
            default:
                break;
            }
            r.Values[tokens[c]] = v;
        }
        data.Records.push_back(r);
    }
    return data;
}

ArchiveData VariedArchive(ArchiveData data, int seed) {
    if (seed == 0) return data;
    for (auto& r : data.Records)
        for (auto& [keyword, value] : r.Values) {
            if (keyword == "Q1")
                value += 0.125 * seed;
            else if (keyword == "sTNORM")
                value += 100.0 * seed;
            else if (keyword.size() == 2 && std::string("MTP").find(keyword[0]) != std::string::npos)
                value += 0.25 * seed;
        }
    return data;
}

} // namespace sim
