// The settings dialog's logic without widgets: the texts its controls are
// filled with, and the checks of what the user entered, in their order.
#pragma once
#include "base/Options.h"

#include <optional>
#include <string>

// What the dialog's controls hold. Edit5 is CP1251 bytes; a radio group holds
// the index of its selected item, -1 when none is selected.
struct OptionsFields {
    std::string Edit1, Edit2, Edit3, Edit4, Edit5, Edit6;
    int RadioGroup1 = -1;
    int RadioGroup2 = -1;
};

// The controls' contents for the given settings.
OptionsFields FillOptions(const TAppOptions& options);

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

inline constexpr const char* OptionsCaption = "OPTIONS";
inline constexpr const char* CantCreateOptionsText = "Can't create OPTIONS.INI";
