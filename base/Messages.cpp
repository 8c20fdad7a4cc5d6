// Message presenter switch and system error texts.
#include "base/Messages.h"

#include <cstring>

#ifdef _WIN32
#include "base/WideText.h"

#include <windows.h>
#endif

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

#ifdef _WIN32
// The port's codes come from GetLastError: the system's text for them, in
// the user's language, without its line end.
std::string SystemErrorText(int code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "Системная ошибка " + std::to_string(code);
    return Narrow(text);
}
#else
std::string SystemErrorText(int code) {
    char buf[256];
    // GNU strerror_r: returns the text, which may or may not live in buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    if (text == nullptr || *text == '\0') return "Системная ошибка " + std::to_string(code);
    return text;
}
#endif

void ShowSystemError(int code) {
    ShowMessage(SystemErrorText(code), "ОШИБКА СИСТЕМЫ", MessageIcon::Information);
}
