// The archive file reader: template, rows, time axis and problems.
#include "archive/ArchiveFile.h"

#include "archive/Shablon.h"
#include "base/Cp1251.h"
#include "base/Files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t SecondsPerDay = 86400;

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

struct Civil {
    int Year, Month, Day, Hour, Minute, Second;
};

Civil CivilFromSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / SecondsPerDay;
    std::int64_t rest = seconds % SecondsPerDay;
    if (rest < 0) rest += SecondsPerDay, --days;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
    return {y,
            m,
            d,
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

int DaysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

int TwoDigits(std::string_view t, std::size_t at) {
    return (t[at] - '0') * 10 + (t[at + 1] - '0');
}

// "dd-mm-yyyy" as written by the row formatter; nullopt for nibbles above 9
// or a day that does not exist.
std::optional<std::int64_t> DateDays(std::string_view t) {
    for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 8u, 9u})
        if (!Digit(t[i])) return std::nullopt;
    const int day = TwoDigits(t, 0), month = TwoDigits(t, 3), year = TwoDigits(t, 6) * 100 + TwoDigits(t, 8);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    return DaysFromCivil(year, month, day);
}

// An hour text: " 5", "23"; nullopt for nibbles above 9 or an hour past 23.
std::optional<int> HourOf(std::string_view t) {
    if (!Digit(t[1]) || !(t[0] == ' ' || Digit(t[0]))) return std::nullopt;
    const int hour = (t[0] == ' ' ? 0 : t[0] - '0') * 10 + (t[1] - '0');
    if (hour > 23) return std::nullopt;
    return hour;
}

bool SpecialText(std::string_view t) {
    return t == "NAN" || t == "INF" || t == "-INF";
}

// The parts of a number text: sign, digits before and after the separator,
// exponent.
struct NumberParts {
    bool Negative = false;
    std::string_view Whole, Fraction;
    int Exponent = 0;
};

// The digits of t from i on; i moves past them.
std::string_view TakeDigits(std::string_view t, std::size_t& i) {
    const std::size_t start = i;
    while (i < t.size() && Digit(t[i]))
        ++i;
    return t.substr(start, i - start);
}

// The exponent after its letter, from i on: a sign, one to four digits; i
// moves past it. nullopt when there are no digits or too many.
std::optional<int> TakeExponent(std::string_view t, std::size_t& i) {
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i] == '-', ++i;
    const std::string_view digits = TakeDigits(t, i);
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    int e = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), e);
    return negative ? -e : e;
}

std::optional<NumberParts> SplitNumber(std::string_view t) {
    NumberParts p;
    std::size_t i = 0;
    if (i < t.size() && t[i] == '-') p.Negative = true, ++i;
    p.Whole = TakeDigits(t, i);
    if (p.Whole.empty()) return std::nullopt;
    if (i < t.size() && (t[i] == ',' || t[i] == '.')) {
        ++i;
        p.Fraction = TakeDigits(t, i);
        if (p.Fraction.empty()) return std::nullopt;
    }
    if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
        ++i;
        const std::optional<int> exponent = TakeExponent(t, i);
        if (!exponent) return std::nullopt;
        p.Exponent = *exponent;
    }
    if (i != t.size()) return std::nullopt;
    return p;
}

double NumberValue(std::string_view t) {
    std::string plain(t);
    std::replace(plain.begin(), plain.end(), ',', '.');
    double value = NoValue;
    std::from_chars(plain.data(), plain.data() + plain.size(), value);
    return value;
}

// A piece of the file for a message: at most 24 bytes, in UTF-8.
std::string Quote(std::string_view bytes) {
    const bool cut = bytes.size() > 24;
    return "«" + Cp1251ToUtf8(bytes.substr(0, 24)) + (cut ? "…" : "") + "»";
}

std::string ColumnName(const ArchiveColumn& c, std::size_t index) {
    return c.Keyword.empty() ? "№" + std::to_string(index + 1) : Cp1251ToUtf8(c.Keyword);
}

class Reader {
public:
    explicit Reader(ArchiveTable& table) : t_(table) {}

    void Problem(int line, const std::string& text) {
        if (static_cast<int>(t_.Problems.size()) < MaxArchiveProblems)
            t_.Problems.push_back({line, "Строка " + std::to_string(line) + ": " + text});
        else
            ++t_.MoreProblems;
    }

    void Template(std::string_view line) {
        t_.Template = std::string(line);
        ShablonDescriptor descriptor;
        if (!AnalizShablonStrArhiva(t_.Template + "\n", 1, descriptor)) {
            Problem(1, "в шаблоне больше " + std::to_string(MaxShablonColumns) +
                           " столбцов, такой архив не показать.");
            return;
        }
        bool known = false;
        std::size_t start = 0;
        for (int i = 0; i < descriptor.ShablonColumnCount; ++i) {
            const std::size_t end = std::min(line.find(' ', start), line.size());
            ArchiveColumn c{std::string(line.substr(start, end - start)), descriptor.ShablonColumns[i]};
            known = known || ShablonKeyword(c.Keyword);
            if (c.Kind == ColDate && t_.DateColumn < 0) t_.DateColumn = i;
            if (c.Kind == ColHour && t_.HourColumn < 0) t_.HourColumn = i;
            t_.Columns.push_back(std::move(c));
            start = end + 1;
        }
        if (!known)
            Problem(1, "нет шаблона архива (ни одного известного столбца) - это не архив "
                       "day.txt или hour.txt этой программы.");
    }

    void Row(int number, std::string_view line) {
        ArchiveRow row;
        row.Line = number;
        row.Texts.reserve(t_.Columns.size());
        row.Values.reserve(t_.Columns.size());
        std::size_t pos = 0;
        for (std::size_t i = 0; i < t_.Columns.size(); ++i) {
            const ArchiveColumn& c = t_.Columns[i];
            if (pos >= line.size()) {
                Problem(number, "не подходит к шаблону: нет столбца " + ColumnName(c, i) + " и дальше.");
                return;
            }
            std::string_view text;
            const bool missing = line[pos] == '?' && (pos + 1 == line.size() || line[pos + 1] == ' ');
            if (c.Kind == ColHour && !missing) {
                text = line.substr(pos, 2); // the hour's first character may be a blank
            } else {
                text = line.substr(pos, std::min(line.find(' ', pos), line.size()) - pos);
            }
            pos += text.size();
            if (!Fits(c, text, missing)) {
                Problem(number, "не подходит к шаблону: в столбце " + ColumnName(c, i) + " " +
                                    (text.empty() ? std::string("пусто") : Quote(text)) + ".");
                return;
            }
            row.Incomplete = row.Incomplete || missing;
            row.Values.push_back(!missing && c.Numeric() && !SpecialText(text) ? NumberValue(text) : NoValue);
            row.Texts.emplace_back(text);
            // Each text is followed by one blank; the last one's may be gone.
            if (pos < line.size()) {
                if (line[pos] != ' ') {
                    Problem(number, "не подходит к шаблону: в столбце " + ColumnName(c, i) + " " +
                                        Quote(line.substr(pos - text.size())) + ".");
                    return;
                }
                ++pos;
            }
        }
        if (pos < line.size()) {
            Problem(number,
                    "не подходит к шаблону: после последнего столбца ещё " + Quote(line.substr(pos)) + ".");
            return;
        }
        Time(row);
        t_.Rows.push_back(std::move(row));
    }

private:
    static bool Fits(const ArchiveColumn& c, std::string_view text, bool missing) {
        if (missing) return true;
        switch (c.Kind) {
        case ColDate: // nibbles above 9 show as ':' to '?'
            return text.size() == 10 && text[2] == '-' && text[5] == '-' &&
                   std::all_of(text.begin(), text.end(),
                               [](char ch) { return ch == '-' || (ch >= '0' && ch <= '?'); });
        case ColHour:
            return text.size() == 2 && (text[0] == ' ' || (text[0] >= '0' && text[0] <= '?')) &&
                   text[1] >= '0' && text[1] <= '?';
        case ColByte:
            return !text.empty() && text.size() <= 3 && std::all_of(text.begin(), text.end(), Digit);
        default:
            return ArchiveNumberText(text) || SpecialText(text);
        }
    }

    void Time(ArchiveRow& row) {
        if (t_.DateColumn < 0 || row.Texts[static_cast<std::size_t>(t_.DateColumn)] == "?") return;
        const auto days = DateDays(row.Texts[static_cast<std::size_t>(t_.DateColumn)]);
        std::optional<int> hour = 0;
        if (t_.HourColumn >= 0) {
            const std::string& h = row.Texts[static_cast<std::size_t>(t_.HourColumn)];
            hour = h == "?" ? std::nullopt : HourOf(h);
        }
        if (!days || !hour) {
            Problem(row.Line, "дата или час не читаются - строка есть в таблице, но не на графике.");
            return;
        }
        row.Time = *days * SecondsPerDay + *hour * 3600;
    }

    ArchiveTable& t_;
};

} // namespace

bool ArchiveColumn::Numeric() const {
    return Kind >= ColMinutes8 && Kind <= ColByte;
}

bool ArchiveNumberText(std::string_view text) {
    return SplitNumber(text).has_value();
}

std::string PlainNumberText(std::string_view text, char separator) {
    const auto p = SplitNumber(text);
    if (!p) return std::string(text);
    std::string out = p->Negative ? "-" : "";
    if (p->Exponent == 0) {
        out += p->Whole;
        if (!p->Fraction.empty()) out += separator, out += p->Fraction;
        return out;
    }
    // Digits d1 d2 ... with the point after `point` of them.
    std::string digits = std::string(p->Whole) + std::string(p->Fraction);
    long point = static_cast<long>(p->Whole.size()) + p->Exponent;
    const std::size_t lead = std::min(digits.find_first_not_of('0'), digits.size());
    digits.erase(0, lead);
    point -= static_cast<long>(lead);
    while (!digits.empty() && digits.back() == '0' && static_cast<long>(digits.size()) > point)
        digits.pop_back();
    if (digits.empty()) return "0";
    if (point <= 0) {
        out += '0', out += separator;
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= static_cast<long>(digits.size())) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += separator;
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

std::string CivilTimeText(std::int64_t seconds, bool withHour) {
    const Civil c = CivilFromSeconds(seconds);
    char text[32];
    if (withHour)
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", c.Day, c.Month, c.Year, c.Hour,
                      c.Minute);
    else
        std::snprintf(text, sizeof text, "%02d.%02d.%04d", c.Day, c.Month, c.Year);
    return text;
}

std::string IsoTimeText(std::int64_t seconds) {
    const Civil c = CivilFromSeconds(seconds);
    // Digits by hand for the usual years: a collection writes this for every
    // row it stores, and snprintf was a good part of that.
    if (c.Year >= 0 && c.Year <= 9999) {
        std::string text = "0000-00-00T00:00:00";
        const auto put = [&text](std::size_t at, int value, int width) {
            for (std::size_t i = at + static_cast<std::size_t>(width); i-- > at; value /= 10)
                text[i] = static_cast<char>('0' + value % 10);
        };
        put(0, c.Year, 4);
        put(5, c.Month, 2);
        put(8, c.Day, 2);
        put(11, c.Hour, 2);
        put(14, c.Minute, 2);
        put(17, c.Second, 2);
        return text;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", c.Year, c.Month, c.Day, c.Hour,
                  c.Minute, c.Second);
    return text;
}

ArchiveTable ReadArchiveText(std::string_view bytes) {
    ArchiveTable table;
    Reader reader(table);
    std::size_t start = 0;
    int number = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        if (number == 1)
            reader.Template(line);
        else if (line.empty())
            reader.Problem(number, "пустая строка.");
        else if (!table.Columns.empty())
            reader.Row(number, line);
        start = end + 1;
    }
    if (number == 0) reader.Problem(1, "файл пуст - это не архив day.txt или hour.txt этой программы.");
    return table;
}

std::optional<ArchiveTable> ReadArchiveFile(const std::string& path) {
    std::FILE* in = OpenFile(path, "rb");
    if (!in) return std::nullopt;
    std::string bytes;
    char block[65536];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, in)) > 0)
        bytes.append(block, got);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return std::nullopt;
    return ReadArchiveText(bytes);
}

std::string ProblemsText(const ArchiveTable& table) {
    std::string out;
    for (const auto& p : table.Problems)
        out += p.Text + "\n";
    if (table.MoreProblems > 0)
        out += "И ещё строк с ошибками: " + std::to_string(table.MoreProblems) + ".\n";
    return out;
}
