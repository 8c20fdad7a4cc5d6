// Template keywords and the parser that turns a template into column kinds.
#include "archive/Shablon.h"

#include <algorithm>
#include <array>

namespace {

// Marks the duration keywords, whose width depends on the archive.
constexpr std::int32_t Duration = 0;

struct Keyword {
    std::string_view text;
    std::int32_t kind;
};

// clang-format off
constexpr std::array<Keyword, 99> Keywords{{
    {"DATE", ColDate},
    {"HOUR", ColHour}, {"TIME", ColHour},
    {"ERRORCODE", ColByte}, {"ERRORCODE2", ColByte}, {"ERRORCODE3", ColByte}, {"MODES", ColByte},
    {"TNORM", Duration}, {"TNORM2", Duration}, {"TNORM3", Duration},
    {"TMIN", Duration}, {"TMIN2", Duration}, {"TMIN3", Duration},
    {"TMAX", Duration}, {"TMAX2", Duration}, {"TMAX3", Duration},
    {"TDELTAT", Duration}, {"TDELTAT2", Duration}, {"TDELTAT3", Duration},
    {"TSUHOST", Duration}, {"TAVARIA", Duration}, {"TAVARIA2", Duration}, {"TNKP", Duration},
    {"sTNORM", ColCount24}, {"sTNORM2", ColCount24}, {"sTNORM3", ColCount24},
    {"Q1", ColFloat32}, {"Q2", ColFloat32}, {"Q3", ColFloat32},
    {"Q11", ColFloat32}, {"Q21", ColFloat32}, {"Q31", ColFloat32},
    {"Q12", ColFloat32}, {"Q22", ColFloat32}, {"Q32", ColFloat32},
    {"M1", ColFloat32}, {"M2", ColFloat32}, {"M3", ColFloat32},
    {"M4", ColFloat32}, {"M5", ColFloat32}, {"M6", ColFloat32},
    {"M11", ColFloat32}, {"M21", ColFloat32}, {"M31", ColFloat32},
    {"M41", ColFloat32}, {"M51", ColFloat32}, {"M61", ColFloat32},
    {"M12", ColFloat32}, {"M22", ColFloat32}, {"M32", ColFloat32},
    {"M42", ColFloat32}, {"M52", ColFloat32}, {"M62", ColFloat32},
    {"T1", ColFloat32}, {"T2", ColFloat32}, {"T3", ColFloat32}, {"T4", ColFloat32},
    {"T5", ColFloat32}, {"T6", ColFloat32}, {"T7", ColFloat32},
    {"P1", ColFloat32}, {"P2", ColFloat32}, {"P3", ColFloat32},
    {"P4", ColFloat32}, {"P5", ColFloat32}, {"P6", ColFloat32},
    {"uM1", ColFloat32}, {"uM2", ColFloat32}, {"uM3", ColFloat32},
    {"pM1", ColFloat32}, {"pM2", ColFloat32}, {"pM3", ColFloat32},
    {"sQ1", ColFloat32}, {"sQ2", ColFloat32}, {"sQ3", ColFloat32},
    {"sQ11", ColFloat32}, {"sQ21", ColFloat32}, {"sQ31", ColFloat32},
    {"sQ12", ColFloat32}, {"sQ22", ColFloat32}, {"sQ32", ColFloat32},
    {"sM1", ColFloat32}, {"sM2", ColFloat32}, {"sM3", ColFloat32},
    {"sM4", ColFloat32}, {"sM5", ColFloat32}, {"sM6", ColFloat32},
    {"sM11", ColFloat32}, {"sM21", ColFloat32}, {"sM31", ColFloat32},
    {"sM41", ColFloat32}, {"sM51", ColFloat32}, {"sM61", ColFloat32},
    {"sM12", ColFloat32}, {"sM22", ColFloat32}, {"sM32", ColFloat32},
    {"sM42", ColFloat32}, {"sM52", ColFloat32}, {"sM62", ColFloat32},
}};
// clang-format on

std::int32_t ClassifyToken(std::string_view token, int mode) {
    for (const Keyword& k : Keywords) {
        if (k.text != token) continue;
        if (k.kind == Duration) return mode == 1 ? ColMinutes16 : ColMinutes8;
        return k.kind;
    }
    return ColFloat32;
}

} // namespace

bool AnalizShablonStrArhiva(std::string_view shablon, int mode, ShablonDescriptor& descriptor) {
    descriptor.ShablonColumnCount = 0;
    std::size_t tokenStart = 0;
    for (std::size_t i = 0; i < shablon.size(); ++i) {
        if (shablon[i] != ' ' && shablon[i] != '\n') continue;
        if (descriptor.ShablonColumnCount == MaxShablonColumns) {
            // More columns than the table holds: refuse the whole template
            // rather than silently drop its last columns.
            std::fill(std::begin(descriptor.ShablonColumns), std::end(descriptor.ShablonColumns), 0);
            descriptor.ShablonColumnCount = 0;
            return false;
        }
        descriptor.ShablonColumns[descriptor.ShablonColumnCount++] =
            ClassifyToken(shablon.substr(tokenStart, i - tokenStart), mode);
        tokenStart = i + 1;
    }
    return true;
}

bool ShablonKeyword(std::string_view token) {
    return std::any_of(Keywords.begin(), Keywords.end(),
                       [token](const Keyword& k) { return k.text == token; });
}

int ColumnByteCount(std::int32_t kind) {
    switch (kind) {
    case ColDate:
        return 3;
    case ColHour:
        return 1;
    case ColMinutes8:
        return 1;
    case ColMinutes16:
        return 2;
    case ColFloat32:
        return 4;
    case ColCount24:
        return 3;
    case ColByte:
        return 1;
    default:
        return 0;
    }
}

int DescriptorWidth(const ShablonDescriptor& descriptor) {
    const int count = std::clamp(descriptor.ShablonColumnCount, 0, MaxShablonColumns);
    int width = 0;
    for (int i = 0; i < count; ++i)
        width += ColumnByteCount(descriptor.ShablonColumns[i]);
    return width;
}
