// The scan window's session files on Windows, where the collection and its
// TOML session files are not built (configurator-cli collect runs on Linux):
// saving and opening a session are refused with the reason.
#include "collect/CollectSession.h"

namespace {

const char* const NotOnWindows =
    "В версии для Windows сеансы сбора не сохраняются и не открываются: сбор по сеансу выполняет "
    "configurator-cli collect в Linux. Поиск и чтение архивов работают как обычно.";

} // namespace

std::optional<CollectSession> ReadSessionFile(const std::string&, std::string& error) {
    error = NotOnWindows;
    return std::nullopt;
}

bool WriteSessionFile(const std::string&, const CollectSession&, std::string& error) {
    error = NotOnWindows;
    return false;
}
