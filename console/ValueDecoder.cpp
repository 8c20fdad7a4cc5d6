// The register value decoder: value lines for the values pane and the captures of the
// version and configuration registers.
#include "console/ValueDecoder.h"

#include "archive/Procedures.h"
#include "console/ConsoleLogic.h"

#include <bit>
#include <cstdio>

namespace {

std::string Numbered(const char* name, std::int32_t address, std::int32_t base) {
    return name + std::to_string((address - base) / 2 + 1);
}

// Number plus one blank, and a second blank below ten to keep the column.
std::string Aligned(const char* name, std::int32_t address, std::int32_t base) {
    const std::int32_t k = (address - base) / 2 + 1;
    return name + std::to_string(k) + (k < 10 ? "  " : " ");
}

// The next register address. The start register is typed by the user and may
// sit at the top of the integer range: the address wraps instead of
// overflowing.
std::int32_t Advance(std::int32_t address, std::uint32_t step) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(address) + step);
}

} // namespace

std::string ValueLabel(std::int32_t a) {
    if (a == 1000) return Numbered("Adr_1000", a, 1000) + " ";
    if (a == 1001) return Numbered("1001", a, 1001) + " ";
    if (a >= 1002) return Numbered("1001", a, 1002) + " ";
    if (a >= 100 && a <= 119) return Aligned("G", a, 100);
    if (a >= 120 && a <= 139) return Aligned("M", a, 120);
    if (a >= 140 && a <= 159) return Aligned("T", a, 140);
    if (a >= 160 && a <= 169) return Numbered("Q", a, 160) + "  ";
    if (a >= 170 && a <= 189) return Aligned("P", a, 170);
    if (a >= 400 && a <= 419) {
        const std::int32_t k = (a - 400) / 2 + 1;
        return "SM" + std::to_string(k) + (k < 10 ? " " : "");
    }
    if (a >= 420 && a <= 429) return Numbered("E", a, 420) + "  ";
    if (a == 430) return "Tr  ";
    if (a >= 432 && a <= 439) return Numbered("Tn", a, 432) + " ";
    return "--  ";
}

std::string HexByte(std::uint8_t b) {
    char text[4];
    std::snprintf(text, sizeof text, "%x", b);
    return text;
}

std::string ValueLine(std::int32_t address, float value, char decimalSeparator) {
    return ValueLabel(address) + "(" + std::to_string(address) +
           "): " + FormatGeneral(value, decimalSeparator, DecoderGeneral) + "\r\n";
}

std::vector<RegisterValue> RegisterValues(std::int32_t startRegister, const std::uint8_t* data,
                                          std::int32_t count) {
    std::vector<RegisterValue> values;
    std::int32_t address = startRegister;
    std::int32_t at = 0;
    while (at < count) {
        const bool word = address == 4 || address == 5;
        const std::int32_t size = word ? 2 : 4;
        if (count - at < size) break;
        const std::uint8_t* b = data + at;
        RegisterValue v;
        v.Address = address;
        if (word) {
            v.Name = address == 4 ? "Adr_Vers" : "Adr_Conf2";
            v.Value = static_cast<std::int16_t>(b[0] << 8 | b[1]);
        } else {
            const std::uint32_t u = static_cast<std::uint32_t>(b[0]) << 24 |
                                    static_cast<std::uint32_t>(b[1]) << 16 |
                                    static_cast<std::uint32_t>(b[2]) << 8 | b[3];
            if (address == 6) {
                v.Name = "Adr_Conf2";
                v.Value = static_cast<std::int32_t>(u);
            } else {
                v.Name = ValueLabel(address);
                v.Name.erase(v.Name.find_last_not_of(' ') + 1);
                v.Value = std::bit_cast<float>(u);
            }
        }
        v.Name += "(" + std::to_string(address) + ")";
        values.push_back(std::move(v));
        at += size;
        address = Advance(address, word ? 1u : 2u);
    }
    return values;
}

void ConsoleLogic::DecodeValueByte(std::uint8_t b) {
    if (ValueByteCnt >= 0 && ValueByteCnt < 4) ValueBytes[ValueByteCnt] = b;
    ++ValueByteCnt;

    if (ValueByteCnt >= 2 && (ValueAddr == 5 || ValueAddr == 4)) {
        const auto w = static_cast<std::int16_t>(ValueBytes[0] << 8 | ValueBytes[1]);
        const char* label;
        if (ValueAddr == 5) {
            DevConfig1 = w;
            HaveConfig1 = 1;
            label = "Adr_Conf2";
        } else {
            DevVersion = w;
            HaveVersion = 1;
            label = "Adr_Vers";
        }
        Out(ConsolePane::Values, std::string(label) + "(" + std::to_string(ValueAddr) + "): 0x" +
                                     HexByte(ValueBytes[0]) + ";0x" + HexByte(ValueBytes[1]) + "\r\n");
        ValueByteCnt = 0;
        ValueAddr = Advance(ValueAddr, 1);
    } else if (ValueByteCnt >= 4) {
        const std::uint32_t v = static_cast<std::uint32_t>(ValueBytes[0]) << 24 |
                                static_cast<std::uint32_t>(ValueBytes[1]) << 16 |
                                static_cast<std::uint32_t>(ValueBytes[2]) << 8 | ValueBytes[3];
        if (ValueAddr == 6) {
            DevConfig2 = static_cast<std::int32_t>(v);
            HaveConfig2 = 1;
            Out(ConsolePane::Values, "Adr_Conf2(6): 0x" + HexByte(ValueBytes[0]) + ";0x" +
                                         HexByte(ValueBytes[1]) + ";0x" + HexByte(ValueBytes[2]) + ";0x" +
                                         HexByte(ValueBytes[3]) + "\r\n");
        } else {
            Out(ConsolePane::Values, ValueLine(ValueAddr, std::bit_cast<float>(v), DecimalSeparator));
        }
        ValueByteCnt = 0;
        ValueAddr = Advance(ValueAddr, 2);
    }
}
