// Message presenter switch and system error texts.
#include "base/Messages.h"

#include <cstring>

namespace {
MessagePresenter* presenter = nullptr;
}

void SetMessagePresenter(MessagePresenter* p) {
    presenter = p;
}

MessagePresenter* CurrentMessagePresenter() {
    return presenter;
}

void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (presenter) presenter->Show(text, caption, icon);
}

std::string SystemErrorText(int code) {
    char buf[256];
    // GNU strerror_r: returns the text, which may or may not live in buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    if (text == nullptr || *text == '\0') return "Системная ошибка " + std::to_string(code);
    return text;
}

void ShowSystemError(int code) {
    ShowMessage(SystemErrorText(code), "ОШИБКА СИСТЕМЫ", MessageIcon::Information);
}
