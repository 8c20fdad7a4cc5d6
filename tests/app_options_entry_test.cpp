// The settings dialog's filling and checks without the window.
#include "app/OptionsEntry.h"
#include "base/StrToInt.h"

#include <gtest/gtest.h>

namespace {

TEST(OptionsFill, InitialSettings) {
    const OptionsFields f = FillOptions(TAppOptions{});
    EXPECT_EQ(f.Edit1, "115200");
    EXPECT_EQ(f.Edit2, "2");
    EXPECT_EQ(f.Edit3, "0x0C");
    EXPECT_EQ(f.Edit4, "0x01");
    EXPECT_EQ(f.Edit5, "ATZ");
    EXPECT_EQ(f.Edit6, "60");
    EXPECT_EQ(f.RadioGroup1, -1); // LinkMode 0: no item
    EXPECT_EQ(f.RadioGroup2, 0);
}

TEST(OptionsFill, AddressesInHexAndTheModemStringKeepsItsLastRealCharacter) {
    TAppOptions o;
    o.LinkMode = 2;
    o.DialMode = 2;
    o.I2cAddress = 127;
    o.ZepLanAddress = 255;
    o.ModemInitString = "ATDT"; // read from a last line without a line end
    OptionsFields f = FillOptions(o);
    EXPECT_EQ(f.Edit3, "0x7F");
    EXPECT_EQ(f.Edit4, "0xFF");
    EXPECT_EQ(f.Edit5, "ATDT");
    EXPECT_EQ(f.RadioGroup1, 1);
    EXPECT_EQ(f.RadioGroup2, 1);
    o.ModemInitString = "";
    EXPECT_EQ(FillOptions(o).Edit5, "");
}

TEST(OptionsCheck, FilledFieldsReadBackUnchangedAndTheModemStringRegainsItsLineEnd) {
    TAppOptions o;
    o.LinkMode = 1;
    o.ModemInitString = "ATDT";
    TAppOptions back;
    ASSERT_FALSE(CheckOptions(FillOptions(o), back));
    o.ModemInitString = "ATDT\n";
    EXPECT_EQ(FormatOptions(back), FormatOptions(o));
}

struct Refusal {
    const char* edit;
    std::string value;
    OptionsRejection expected;
};

TEST(OptionsCheck, EachRefusalNamesItsMessagePageAndEdit) {
    const Refusal cases[] = {
        {"Edit1", "9601", {"Speed must be 19200,38400,57600,115200", OptionsPage::TabSheet1, "Edit1"}},
        // Multiples of 2400 that no port opens at.
        {"Edit1", "0", {"Speed must be 19200,38400,57600,115200", OptionsPage::TabSheet1, "Edit1"}},
        {"Edit1", "-2400", {"Speed must be 19200,38400,57600,115200", OptionsPage::TabSheet1, "Edit1"}},
        {"Edit2", "0", {"Port must be from 1 to 99", OptionsPage::TabSheet1, "Edit2"}},
        {"Edit2", "100", {"Port must be from 1 to 99", OptionsPage::TabSheet1, "Edit2"}},
        {"Edit6",
         "201",
         {"Время ожидания соединения должно быть от 1 до 200", OptionsPage::TabSheet2, "Edit6"}},
        {"Edit6",
         "0",
         {"Время ожидания соединения должно быть от 1 до 200", OptionsPage::TabSheet2, "Edit6"}},
        {"Edit3", "0x80", {"I2C address must be from 1 to 127", OptionsPage::TabSheet1, "Edit3"}},
        {"Edit3", "0", {"I2C address must be from 1 to 127", OptionsPage::TabSheet1, "Edit3"}},
        {"Edit4",
         "256",
         {"ZEP-LAN address must be 0 (broadcasting) or from 1 to 255", OptionsPage::TabSheet1, "Edit4"}},
        {"Edit5",
         std::string(59, 'A'),
         {"Строка инициализации должна быть не длиннее 58 символов", OptionsPage::TabSheet2, "Edit5"}},
        {"Edit5",
         "ATZ\r\nATE0",
         {"Строка инициализации должна быть одной строкой", OptionsPage::TabSheet2, "Edit5"}},
    };
    for (const auto& c : cases) {
        OptionsFields f = FillOptions(TAppOptions{});
        std::string* field = c.edit == std::string("Edit1")   ? &f.Edit1
                             : c.edit == std::string("Edit2") ? &f.Edit2
                             : c.edit == std::string("Edit3") ? &f.Edit3
                             : c.edit == std::string("Edit4") ? &f.Edit4
                             : c.edit == std::string("Edit5") ? &f.Edit5
                                                              : &f.Edit6;
        *field = c.value;
        TAppOptions o;
        auto rejection = CheckOptions(f, o);
        ASSERT_TRUE(rejection) << c.edit << " = " << c.value;
        EXPECT_EQ(*rejection, c.expected) << c.edit << " = " << c.value;
    }
}

TEST(OptionsCheck, ChecksRunInOrderSpeedPortWaitAddressesModem) {
    OptionsFields f = FillOptions(TAppOptions{});
    f.Edit1 = "1";
    f.Edit2 = "0";
    f.Edit6 = "0";
    f.Edit3 = "0";
    f.Edit4 = "999";
    f.Edit5 = std::string(70, 'x');
    auto next = [&] {
        TAppOptions o;
        return CheckOptions(f, o).value_or(OptionsRejection{}).edit;
    };
    EXPECT_EQ(next(), "Edit1");
    f.Edit1 = "9600";
    EXPECT_EQ(next(), "Edit2");
    f.Edit2 = "5";
    EXPECT_EQ(next(), "Edit6");
    f.Edit6 = "200";
    EXPECT_EQ(next(), "Edit3");
    f.Edit3 = "1";
    EXPECT_EQ(next(), "Edit4");
    f.Edit4 = "0";
    EXPECT_EQ(next(), "Edit5");
    f.Edit5 = std::string(58, 'x');
    EXPECT_EQ(next(), "");
}

TEST(OptionsCheck, AcceptedValues) {
    OptionsFields f = FillOptions(TAppOptions{});
    f.Edit1 = "9600"; // not in the message's list, but a multiple of 2400
    f.Edit4 = "0";    // broadcasting
    for (const char* text : {"0x0C", "$0C", "12", "x0c", " 12"}) {
        f.Edit3 = text;
        TAppOptions o;
        ASSERT_FALSE(CheckOptions(f, o)) << text;
        EXPECT_EQ(o.I2cAddress, 12) << text;
        EXPECT_EQ(o.BaudRate, 9600);
        EXPECT_EQ(o.ZepLanAddress, 0);
    }
    TAppOptions o;
    // No radio item selected stores 0.
    f.RadioGroup1 = -1;
    f.RadioGroup2 = 1;
    ASSERT_FALSE(CheckOptions(f, o));
    EXPECT_EQ(o.LinkMode, 0);
    EXPECT_EQ(o.DialMode, 2);
}

TEST(OptionsCheck, TextThatIsNoIntegerRaisesTheConversionError) {
    OptionsFields f = FillOptions(TAppOptions{});
    f.Edit6 = "";
    TAppOptions o;
    EXPECT_THROW(CheckOptions(f, o), EConvertError);
    f.Edit6 = "60";
    f.Edit2 = "COM3";
    try {
        CheckOptions(f, o);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'COM3' is not a valid integer value");
    }
}

} // namespace
