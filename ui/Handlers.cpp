// The application's exception display.
#include "ui/Handlers.h"

#include "base/Messages.h"

#include <exception>

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), ApplicationTitle, MessageIcon::Error);
    }
}
