// The settings dialog's logic without widgets: the texts its controls are
// filled with, the checks of what the user entered in their order, and what
// OK does with entries that pass them.
#pragma once
#include "base/Options.h"

#include <optional>
#include <string>

// What the dialog's controls hold. Edit5 and EditPhone are CP1251 bytes; a
// radio group holds the index of its selected item, -1 when none is selected.
struct OptionsFields {
    std::string Edit1, Edit2, Edit3, Edit4, Edit5, Edit6;
    std::string EditPhone; // the modem's telephone number (PHONE.TXT, base/Phone.h)
    int RadioGroup1 = -1;
    int RadioGroup2 = -1;
};

// The controls' contents for the given settings and telephone number.
OptionsFields FillOptions(const TAppOptions& options, const std::string& phone = {});

enum class OptionsPage { TabSheet1 = 0, TabSheet2 = 1 };

// A refused entry: the message (caption "OPTIONS"), the page to bring
// forward and the edit (by its name) that should get the focus.
struct OptionsRejection {
    std::string text;
    OptionsPage page;
    std::string edit;
    bool operator==(const OptionsRejection&) const = default;
};

// Reads the fields into `options` check by check, in the dialog's order.
// Returns the first rejection (`options` then holds the values accepted
// before it, so callers pass a copy and keep it only when nothing was
// refused). A text that is not an integer throws EConvertError.
std::optional<OptionsRejection> CheckOptions(const OptionsFields& fields, TAppOptions& options);

// What OK needs from the dialog besides its fields.
class OptionsScreen {
public:
    virtual ~OptionsScreen() = default;
    // A refused entry: its page comes forward and its edit gets the focus.
    virtual void ShowRefusedEntry(OptionsPage page, const std::string& edit) = 0;
    // The settings are stored and in force: the dialog closes.
    virtual void CloseDialog() = 0;
};

// OK: checks the fields on a copy of `options`; a refused entry is shown
// (caption "OPTIONS") and changes nothing. The telephone number is written to
// PHONE.TXT beside `path` (CantCreatePhoneText when that fails, changing
// nothing else). Then the copy is written to `path`
// (OPTIONS.INI; "Can't create OPTIONS.INI" when that fails, again changing
// nothing), put in force in `options`, the port is reopened with it, also
// when number and speed are unchanged, and the dialog closes. A text that is
// not an integer throws EConvertError before anything is stored.
void AcceptOptions(const OptionsFields& fields, TAppOptions& options, const std::string& path,
                   OptionsScreen& screen);

inline constexpr const char* OptionsCaption = "OPTIONS";
// The refusal of a port number that is no COM number (base/ComNumber.h).
std::string PortNumberRefusedText();
inline constexpr const char* CantCreateOptionsText = "Can't create OPTIONS.INI";
inline constexpr const char* CantCreatePhoneText =
    "Номер телефона не сохранён: PHONE.TXT не записывается. Проверьте права на папку настроек.";
