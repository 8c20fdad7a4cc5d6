// User-facing messages: modal boxes in the program, a recorder in tests.
// Texts are UTF-8.
#pragma once
#include <string>

enum class MessageIcon { Information, Error, Warning };

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    virtual void Show(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

// Installs the presenter that ShowMessage uses (nullptr: messages are dropped).
void SetMessagePresenter(MessagePresenter* presenter);
// The presenter installed (so that a borrower can put it back).
MessagePresenter* CurrentMessagePresenter();

// A modal message box with an OK button.
void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon);

// The system's text for a system error code, errno (GetLastError on Windows),
// localised where the system has a translation; an unknown code gets a text
// naming the code.
std::string SystemErrorText(int code);

// SystemErrorText(code) in a box captioned "ОШИБКА СИСТЕМЫ", information icon.
void ShowSystemError(int code);

// The application title, used as the caption of exception displays.
inline constexpr const char* ApplicationTitle = "Конфигуратор";
